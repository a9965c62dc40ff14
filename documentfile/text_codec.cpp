#include "documentfile/text_codec.h"

#include <algorithm>

#include "host/mazovia_text.h"

namespace document_file {
namespace {

// The length of the UTF-8 sequence a lead byte starts, 0 for no lead byte.
size_t SequenceLength(uint8_t lead) {
    return lead < 0x80                   ? 1
           : lead >= 0xC2 && lead < 0xE0 ? 2
           : lead >= 0xE0 && lead < 0xF0 ? 3
           : lead >= 0xF0 && lead < 0xF5 ? 4
                                         : 0;
}

}  // namespace

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
        return;
    }
    static const uint8_t kLead[] = {0, 0xC0, 0xE0, 0xF0};
    const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    out += static_cast<char>(kLead[extra] | (c >> (6 * extra)));
    for (int k = extra - 1; k >= 0; --k)
        out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

std::string MazoviaToUtf8(const char* text, size_t n) {
    std::string out;
    for (size_t i = 0; i < n && text[i]; ++i)
        AppendUtf8(out, mazovia::ToCodePoint(static_cast<uint8_t>(text[i])));
    return out;
}

bool Utf8ToMazovia(const std::string& utf8, std::string& mazovia, uint32_t& code,
                   std::string& character) {
    mazovia.clear();
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const size_t length = std::max<size_t>(SequenceLength(lead), 1);
        uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length && i + k < utf8.size(); ++k)
            c = (c << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        const int byte = mazovia::FromCodePoint(c);
        if (byte <= 0) {
            code = c;
            character = utf8.substr(i, length);
            return false;
        }
        mazovia += static_cast<char>(byte);
        i += length;
    }
    return true;
}

size_t BadUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        const size_t length = SequenceLength(lead);
        if (length == 0 || i + length > text.size())
            return i;
        uint32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return i;
            c = (c << 6) | (next & 0x3F);
        }
        static const uint32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kLeast[length] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return i;
        i += length;
    }
    return std::string::npos;
}

}  // namespace document_file
