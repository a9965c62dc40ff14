#include "hostapp/screen.h"

#include <algorithm>

namespace hostapp {
namespace {

struct FrameGlyphs {
    char32_t top_left, top_right, bottom_left, bottom_right, horizontal, vertical;
};
constexpr FrameGlyphs kSingle{U'┌', U'┐', U'└', U'┘', U'─', U'│'};
constexpr FrameGlyphs kDouble{U'╔', U'╗', U'╚', U'╝', U'═', U'║'};

constexpr char32_t kCursorMark = U'◄';
constexpr char32_t kMoreBelow = U'↓';
constexpr size_t kMinimumInnerWidth = 24;

// The first line of a host text, for titles, labels and buttons.
Line FirstLine(std::string_view text) {
    return LayoutHostText(text).front();
}

struct Canvas {
    size_t width, height;
    std::vector<Line> lines;

    Canvas(size_t w, size_t h) : width(w), height(h), lines(h, Line(w)) {}

    void Put(size_t row, size_t column, const Line& text, size_t limit) {
        if (row >= height || column >= width)
            return;
        const size_t n = std::min({text.size(), limit, width - column});
        std::copy_n(text.begin(), n, lines[row].begin() + static_cast<long>(column));
    }
    void Set(size_t row, size_t column, char32_t ch, uint8_t attr = kPlain) {
        if (row < height && column < width)
            lines[row][column] = Cell{ch, attr};
    }
    void Box(size_t row, size_t column, size_t w, size_t h, const FrameGlyphs& g) {
        if (w < 2 || h < 2)
            return;
        for (size_t x = column + 1; x + 1 < column + w; ++x) {
            Set(row, x, g.horizontal);
            Set(row + h - 1, x, g.horizontal);
        }
        for (size_t y = row + 1; y + 1 < row + h; ++y) {
            Set(y, column, g.vertical);
            Set(y, column + w - 1, g.vertical);
        }
        Set(row, column, g.top_left);
        Set(row, column + w - 1, g.top_right);
        Set(row + h - 1, column, g.bottom_left);
        Set(row + h - 1, column + w - 1, g.bottom_right);
    }
};

Line Button(std::string_view label_utf8, bool highlighted) {
    Line line = Cells("[ ");
    Append(line, label_utf8, highlighted ? kBold : kPlain);
    Append(line, " ]");
    return line;
}

const std::vector<Column>* HeaderColumns(const Dialog& dialog, std::vector<Column>& storage) {
    for (const DialogItem& control : dialog.controls)
        if (control.kind == kControlTextLine && ParseColumns(control.text, storage))
            return &storage;
    return nullptr;
}

void DrawList(Canvas& canvas, const DialogItem& list, const std::vector<Column>* columns,
              const std::vector<std::string>& rows, int cursor) {
    const size_t visible = list.height;
    if (visible == 0 || list.width == 0)
        return;
    if (rows.empty()) {
        canvas.Put(list.row, list.column, Cells("(lista jest pusta)"), list.width);
        return;
    }
    const size_t count = rows.size();
    const size_t at = cursor < 0 ? 0 : std::min(static_cast<size_t>(cursor), count - 1);
    const size_t top = at >= visible ? at - visible + 1 : 0;
    for (size_t i = 0; i < visible && top + i < count; ++i) {
        const std::string& text = rows[top + i];
        Line line;
        if (columns) {
            line = LayoutRow(*columns, text);
        } else {
            std::string flat = text;
            std::replace(flat.begin(), flat.end(), '\r', ' ');
            line = FirstLine(flat);
        }
        line = Fit(line, list.width);
        if (top + i == at) {
            for (Cell& cell : line)
                cell.attr |= kReverse;
            line.back() = Cell{kCursorMark, kReverse};
        } else if (i + 1 == visible && top + visible < count) {
            line.back() = Cell{kMoreBelow, kPlain};
        }
        canvas.Put(list.row + i, list.column, line, list.width);
    }
}

}  // namespace

std::vector<Line> Frame(const Line& title, const std::vector<Line>& body, size_t inner_width,
                        bool double_line) {
    const FrameGlyphs& g = double_line ? kDouble : kSingle;
    std::vector<Line> out;
    Line top{Cell{g.top_left}, Cell{g.horizontal}};
    if (!title.empty()) {
        top.push_back(Cell{});
        Append(top, Fit(title, std::min(title.size(), inner_width > 4 ? inner_width - 4 : 0)));
        top.push_back(Cell{});
    }
    while (top.size() < inner_width + 1)
        top.push_back(Cell{g.horizontal});
    top.push_back(Cell{g.top_right});
    out.push_back(top);
    for (const Line& line : body) {
        Line row{Cell{g.vertical}};
        Append(row, Fit(line, inner_width));
        row.push_back(Cell{g.vertical});
        out.push_back(row);
    }
    Line bottom{Cell{g.bottom_left}};
    bottom.insert(bottom.end(), inner_width, Cell{g.horizontal});
    bottom.push_back(Cell{g.bottom_right});
    out.push_back(bottom);
    return out;
}

std::vector<Line> MessageBox(std::string_view caption, std::string_view text,
                             const std::vector<std::string>& buttons, size_t default_button,
                             const Line& extra) {
    std::vector<Line> body = Wrap(LayoutHostText(text), kMessageWidth - 2);
    while (!body.empty() && body.back().empty())
        body.pop_back();
    if (!extra.empty()) {
        body.emplace_back();
        body.push_back(extra);
    }
    Line button_line;
    for (size_t i = 0; i < buttons.size(); ++i) {
        if (i > 0)
            Append(button_line, "  ");
        Append(button_line, Button(buttons[i], i == default_button));
    }
    const Line title = FirstLine(caption);
    size_t inner = std::max(kMinimumInnerWidth, title.size() + 6);
    for (const Line& line : body)
        inner = std::max(inner, line.size() + 2);
    inner = std::max(inner, button_line.size() + 2);
    inner = std::min(inner, kMessageWidth);

    std::vector<Line> framed;
    for (const Line& line : body) {
        Line margin(1);
        Append(margin, line);
        framed.push_back(margin);
    }
    if (!button_line.empty()) {
        framed.emplace_back();
        framed.push_back(Centered(button_line, inner));
    }
    return Frame(title, framed, inner, false);
}

Line LayoutRow(const std::vector<Column>& columns, std::string_view row) {
    const std::vector<std::string_view> cells = SplitCells(row);
    Line line;
    for (size_t i = 0; i < cells.size(); ++i) {
        if (i > 0)
            line.push_back(Cell{});
        const Line text = FirstLine(cells[i]);
        if (i < columns.size())
            Append(line, columns[i].right ? FitRight(text, columns[i].width)
                                          : Fit(text, columns[i].width));
        else
            Append(line, text);
    }
    return line;
}

std::vector<Line> DrawDialog(const Dialog& dialog, const std::vector<std::string>& rows,
                             int cursor) {
    const size_t width = std::max<size_t>(dialog.self.width, 4);
    const size_t height = std::max<size_t>(dialog.self.height, 2);
    Canvas canvas(width, height);
    canvas.Box(0, 0, width, height, kDouble);
    Line title = FirstLine(dialog.self.text);
    if (!title.empty()) {
        Line padded(1);
        Append(padded, title);
        padded.push_back(Cell{});
        padded = Fit(padded, std::min(padded.size(), width > 4 ? width - 4 : 0));
        canvas.Put(0, (width - padded.size()) / 2, padded, padded.size());
    }

    std::vector<Column> storage;
    const std::vector<Column>* columns = HeaderColumns(dialog, storage);
    for (const DialogItem& control : dialog.controls) {
        switch (control.kind) {
            case kControlTextLine: {
                std::vector<Column> own;
                if (ParseColumns(control.text, own)) {
                    std::string headings;
                    for (size_t i = 0; i < own.size(); ++i)
                        headings += (i > 0 ? "\r" : "") + own[i].heading;
                    canvas.Put(control.row, control.column, LayoutRow(own, headings),
                               control.width);
                } else {
                    canvas.Put(control.row, control.column, FirstLine(control.text), control.width);
                }
                break;
            }
            case kControlButton: {
                if (control.width < 2)
                    break;
                Line button = Cells("[");
                Append(button, Centered(FirstLine(control.text), control.width - 2u));
                Append(button, "]");
                canvas.Put(control.row, control.column, button, control.width);
                break;
            }
            case kControlList:
                DrawList(canvas, control, columns, rows, cursor);
                break;
            case kControlFrame:
                canvas.Box(control.row, control.column, control.width, control.height, kSingle);
                break;
            default:
                canvas.Put(control.row, control.column, FirstLine(control.text), control.width);
                break;
        }
    }
    return canvas.lines;
}

}  // namespace hostapp
