#include "hostapp/text_cells.h"

#include <algorithm>
#include <cstring>

#include "documentfile/text_codec.h"
#include "host/mazovia_text.h"

namespace hostapp {
namespace {

using document_file::AppendUtf8;

constexpr char32_t kReplacement = 0xFFFD;
constexpr char32_t kEllipsis = 0x2026;
constexpr size_t kDefaultTabWidth = 8;

struct TabStop {
    bool right = false;
    size_t column = 0;
};

// Reads "\x01t" followed by one or more "l<digits>" or "p<digits>" and the
// closing "\x01", starting at the opening byte. On success end is the index
// of the closing byte.
bool ParseTabStops(std::string_view text, size_t at, size_t& end, std::vector<TabStop>& stops) {
    size_t i = at + 1;
    if (i >= text.size() || text[i] != 't')
        return false;
    ++i;
    std::vector<TabStop> parsed;
    while (i < text.size() && (text[i] == 'l' || text[i] == 'p')) {
        TabStop stop;
        stop.right = text[i] == 'p';
        ++i;
        const size_t digits = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - digits < 4)
            stop.column = stop.column * 10 + static_cast<size_t>(text[i++] - '0');
        if (i == digits)
            return false;
        parsed.push_back(stop);
    }
    if (parsed.empty() || i >= text.size() || text[i] != '\x01')
        return false;
    end = i;
    stops = std::move(parsed);
    return true;
}

void PadTo(Line& line, size_t column) {
    while (line.size() < column)
        line.push_back(Cell{});
}

// Puts the tab-separated parts of one line at their stops. A part never
// overlaps the one before it: at least one space stays between them.
Line Assemble(const std::vector<Line>& parts, const std::vector<TabStop>& stops) {
    Line out = parts.front();
    for (size_t k = 1; k < parts.size(); ++k) {
        const Line& part = parts[k];
        TabStop stop;
        if (k - 1 < stops.size())
            stop = stops[k - 1];
        else
            stop.column = (out.size() / kDefaultTabWidth + 1) * kDefaultTabWidth;
        size_t start = stop.column;
        if (stop.right)
            start = stop.column >= part.size() ? stop.column - part.size() : 0;
        const size_t earliest = out.empty() ? 0 : out.size() + 1;
        PadTo(out, std::max(start, earliest));
        Append(out, part);
    }
    return out;
}

}  // namespace

std::string MazoviaToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (const char b : bytes)
        AppendUtf8(out, mazovia::ToCodePoint(static_cast<uint8_t>(b)));
    return out;
}

std::string_view FieldBytes(const char* field, size_t size) {
    if (!field)
        return {};
    const void* zero = memchr(field, 0, size);
    return std::string_view(field, zero ? static_cast<const char*>(zero) - field : size);
}

std::string FieldToUtf8(const char* field, size_t size) {
    return MazoviaToUtf8(FieldBytes(field, size));
}

Line Cells(std::string_view utf8, uint8_t attr) {
    Line line;
    Append(line, utf8, attr);
    return line;
}

void Append(Line& line, std::string_view utf8, uint8_t attr) {
    size_t i = 0;
    while (i < utf8.size()) {
        const auto lead = static_cast<uint8_t>(utf8[i++]);
        int extra = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
        bool valid = extra >= 0;
        while (valid && extra-- > 0) {
            if (i >= utf8.size() || (static_cast<uint8_t>(utf8[i]) & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            c = (c << 6) | (static_cast<uint8_t>(utf8[i++]) & 0x3F);
        }
        line.push_back(Cell{valid ? c : kReplacement, attr});
    }
}

void Append(Line& line, const Line& more) {
    line.insert(line.end(), more.begin(), more.end());
}

std::vector<Line> LayoutHostText(std::string_view text) {
    std::vector<Line> lines;
    std::vector<TabStop> stops;
    std::vector<Line> parts(1);
    uint8_t attr = kPlain;
    for (size_t i = 0; i < text.size(); ++i) {
        const auto b = static_cast<uint8_t>(text[i]);
        switch (b) {
            case 0x01: {
                size_t end = 0;
                if (ParseTabStops(text, i, end, stops))
                    i = end;
                else
                    attr = kPlain;
                break;
            }
            case 0x02:
                attr = kBold;
                break;
            case 0x03:
                attr = kUnderline;
                break;
            case 0x04:
                attr = kPlain;
                break;
            case 0x05:
                attr = kReverse;
                break;
            case '\n':
                lines.push_back(Assemble(parts, stops));
                parts.assign(1, Line{});
                break;
            case '\t':
                parts.emplace_back();
                break;
            default:
                if (b >= 0x20 && b != 0x7F)
                    parts.back().push_back(Cell{mazovia::ToCodePoint(b), attr});
                break;
        }
    }
    lines.push_back(Assemble(parts, stops));
    return lines;
}

std::vector<Line> Wrap(const std::vector<Line>& lines, size_t width) {
    std::vector<Line> out;
    if (width == 0)
        return lines;
    for (const Line& line : lines) {
        size_t from = 0;
        while (line.size() - from > width) {
            size_t cut = from + width;
            size_t space = cut;
            while (space > from && line[space].ch != U' ')
                --space;
            size_t next = cut;
            if (space > from) {
                cut = space;
                next = space + 1;
            }
            out.emplace_back(line.begin() + from, line.begin() + cut);
            from = next;
        }
        out.emplace_back(line.begin() + from, line.end());
    }
    return out;
}

Line Fit(const Line& line, size_t width) {
    Line out(line.begin(), line.begin() + std::min(line.size(), width));
    if (line.size() > width && width > 0)
        out.back().ch = kEllipsis;
    PadTo(out, width);
    return out;
}

Line FitRight(const Line& line, size_t width) {
    if (line.size() >= width)
        return Line(line.end() - width, line.end());
    Line out(width - line.size());
    Append(out, line);
    return out;
}

Line Centered(const Line& line, size_t width) {
    if (line.size() >= width)
        return Fit(line, width);
    Line out((width - line.size()) / 2);
    Append(out, line);
    PadTo(out, width);
    return out;
}

std::string Render(const Line& line, bool ansi) {
    std::string out;
    uint8_t current = kPlain;
    for (const Cell& cell : line) {
        if (ansi && cell.attr != current) {
            out += "\x1b[0";
            if (cell.attr & kBold)
                out += ";1";
            if (cell.attr & kUnderline)
                out += ";4";
            if (cell.attr & kReverse)
                out += ";7";
            out += 'm';
            current = cell.attr;
        }
        AppendUtf8(out, cell.ch);
    }
    if (ansi && current != kPlain)
        out += "\x1b[0m";
    return out;
}

}  // namespace hostapp
