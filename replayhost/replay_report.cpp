#include "replayhost/replay_report.h"

#include <cctype>
#include <cstdio>

#include "documentfile/text_codec.h"

namespace replay {
namespace {

// Eight bytes as hex, then as text: a control byte as a dot.
std::string Row(const uint8_t* bytes, uint32_t count) {
    std::string hex, text;
    for (uint32_t i = 0; i < 8; ++i) {
        if (i >= count) {
            hex += "   ";
            text += ' ';
            continue;
        }
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X ", bytes[i]);
        hex += pair;
        const uint8_t b = bytes[i];
        if (b < 0x20 || b == 0x7F)
            text += '.';
        else
            text += document_file::MazoviaToUtf8(reinterpret_cast<const char*>(bytes + i), 1);
    }
    return hex + " " + text;
}

}  // namespace

std::string Hex(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
    return text;
}

std::string Sequence(uint32_t sequence) {
    char text[12];
    std::snprintf(text, sizeof text, "%06u", static_cast<unsigned>(sequence));
    return text;
}

std::string ParameterName(const char* parameters, int index) {
    const std::string list = parameters;
    size_t start = list.find('(') + 1;
    for (int i = 0; i < index; ++i) {
        start = list.find(',', start);
        if (start == std::string::npos)
            return "";
        ++start;
    }
    size_t end = list.find_first_of(",)", start);
    while (end > start &&
           !(std::isalnum(static_cast<unsigned char>(list[end - 1])) || list[end - 1] == '_'))
        --end;
    size_t begin = end;
    while (begin > start &&
           (std::isalnum(static_cast<unsigned char>(list[begin - 1])) || list[begin - 1] == '_'))
        --begin;
    return begin < end ? " (" + list.substr(begin, end - begin) + ")" : "";
}

std::string SideBySide(const uint8_t* recorded, const uint8_t* seen, uint32_t size) {
    // Each side: 8 bytes in hex, a space, 8 characters.
    std::string out =
        "    offset  recorded" + std::string(8 * 3 + 1 + 8 - 8, ' ') + " | replayed\n";
    int shown = 0, more = 0;
    for (uint32_t row = 0; row < size; row += 8) {
        const uint32_t count = size - row < 8 ? size - row : 8;
        bool differs = false;
        for (uint32_t i = 0; i < count; ++i)
            differs = differs || recorded[row + i] != seen[row + i];
        if (!differs)
            continue;
        if (shown == 12) {
            ++more;
            continue;
        }
        char offset[16];
        std::snprintf(offset, sizeof offset, "    +%-6u ", static_cast<unsigned>(row));
        out += offset + Row(recorded + row, count) + " | " + Row(seen + row, count) + "\n";
        ++shown;
    }
    if (more > 0)
        out += "    ... and " + std::to_string(more) + " more rows that differ\n";
    return out;
}

}  // namespace replay
