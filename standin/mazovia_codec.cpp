#include "standin/mazovia_codec.h"

#include <cstdio>
#include <cstring>

#include "host/mazovia_tables.h"

namespace veldan {

uint8_t MazoviaToWindows1250(uint8_t byte) {
    return byte < 0x80 ? byte : mazovia::kToWindows1250[byte - 0x80];
}

std::string MazoviaToUtf8(const char* text, size_t n) {
    std::string out;
    for (size_t i = 0; i < n && text[i]; ++i) {
        const auto byte = static_cast<uint8_t>(text[i]);
        const uint32_t c = byte < 0x80 ? byte : mazovia::kUpperHalf[byte - 0x80];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool Utf8ToMazovia(const std::string& utf8, std::string& mazovia, std::string& error) {
    mazovia.clear();
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        if (extra < 0 || i + extra >= utf8.size()) {
            error = "malformed UTF-8";
            return false;
        }
        uint32_t c = extra ? lead & (0x3F >> extra) : lead;
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(utf8[i + k]);
            if ((next & 0xC0) != 0x80) {
                error = "malformed UTF-8";
                return false;
            }
            c = (c << 6) | (next & 0x3F);
        }
        i += 1 + extra;
        if (c == 0) {
            error = "contains a zero character";
            return false;
        }
        int byte = c < 0x80 ? static_cast<int>(c) : -1;
        for (int k = 0; byte < 0 && k < 128; ++k)
            if (::mazovia::kUpperHalf[k] == c)
                byte = 0x80 + k;
        if (byte < 0) {
            char text[64];
            snprintf(text, sizeof text, "character U+%04X is not in the Mazovia code page",
                     static_cast<unsigned>(c));
            error = text;
            return false;
        }
        mazovia += static_cast<char>(byte);
    }
    return true;
}

}  // namespace veldan
