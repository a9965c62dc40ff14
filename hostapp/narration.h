// The story's own lines on the terminal: section headings, remarks, the
// user's actions and the host's windows, each indented under its heading.
#pragma once

#include <string_view>
#include <vector>

#include "hostapp/text_cells.h"

namespace hostapp {

inline constexpr size_t kIndent = 2;
inline constexpr size_t kStoryWidth = 78;

void Heading(std::string_view title);
void Say(std::string_view utf8, size_t indent = kIndent);
void Say(const Line& line, size_t indent = kIndent);
void Blank();
void ShowLines(const std::vector<Line>& lines, size_t indent = kIndent);
// "» what the user did"
void UserAction(std::string_view utf8);

}  // namespace hostapp
