// Texts as the host draws them: a line of character cells, each with its
// attributes, built from the host's Mazovia texts or from the host program's
// own UTF-8 texts, and turned back into UTF-8 for the terminal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace hostapp {

enum Attribute : uint8_t {
    kPlain = 0,
    kBold = 1,       // byte 0x02: the heading or key highlight of the host's texts
    kUnderline = 2,  // byte 0x03
    kReverse = 4,    // byte 0x05: a button's key; also the list cursor
};

struct Cell {
    char32_t ch = U' ';
    uint8_t attr = kPlain;
};
using Line = std::vector<Cell>;

// ---------------------------------------------------------------- Mazovia
// Mazovia bytes as UTF-8; control bytes pass through as they are.
std::string MazoviaToUtf8(std::string_view bytes);
// A record's text field: up to its first zero byte, never past size bytes, so
// a field without its terminator still ends inside the record.
std::string_view FieldBytes(const char* field, size_t size);
std::string FieldToUtf8(const char* field, size_t size);

// ---------------------------------------------------------------- lines
// The host program's own text (UTF-8) as cells; invalid UTF-8 shows as U+FFFD.
Line Cells(std::string_view utf8, uint8_t attr = kPlain);
void Append(Line& line, std::string_view utf8, uint8_t attr = kPlain);
void Append(Line& line, const Line& more);

// A host text laid out into lines. Bytes 0x02, 0x03 and 0x05 switch an
// attribute on, 0x01 and 0x04 switch back to plain; "\x01t<stops>\x01" (for
// example "\x01tl18l33\x01") sets the tab stops for this line and the next
// ones: "l18" puts the text after the next tab left-aligned at column 18, "p25"
// right-aligned so that it ends before column 25. A line feed starts a new
// line; other control bytes show nothing.
std::vector<Line> LayoutHostText(std::string_view mazovia);

// Lines longer than width broken at the last space that fits, or hard where a
// word alone is longer.
std::vector<Line> Wrap(const std::vector<Line>& lines, size_t width);

// Fits a line into exactly width cells: padded with spaces, or cut with an
// ellipsis in the last cell.
Line Fit(const Line& line, size_t width);
// Right-aligned in width cells (cut on the left side when longer).
Line FitRight(const Line& line, size_t width);
Line Centered(const Line& line, size_t width);

// UTF-8 for the terminal; with ansi, the attributes as SGR sequences.
std::string Render(const Line& line, bool ansi);

}  // namespace hostapp
