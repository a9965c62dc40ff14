#include "hostapp/narration.h"

#include <string>

#include "hostapp/system.h"

namespace hostapp {

void Heading(std::string_view title) {
    Line line = Cells("══ ", kBold);
    Append(line, title, kBold);
    line.push_back(Cell{U' ', kBold});
    while (line.size() < kStoryWidth)
        line.push_back(Cell{U'═', kBold});
    Out("\n" + Render(line, StyledOutput()) + "\n");
}

void Say(std::string_view utf8, size_t indent) {
    Say(Cells(utf8), indent);
}

void Say(const Line& line, size_t indent) {
    Out(std::string(indent, ' ') + Render(line, StyledOutput()) + "\n");
}

void Blank() {
    Out("\n");
}

void ShowLines(const std::vector<Line>& lines, size_t indent) {
    for (const Line& line : lines)
        Say(line, indent);
}

void UserAction(std::string_view utf8) {
    Line line = Cells("» ", kBold);
    Append(line, utf8);
    Say(line);
}

}  // namespace hostapp
