// The host's text-mode windows, drawn as lines of cells: message boxes,
// questions, the install notice and the list dialogs of a DialogDefinition.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "hostapp/dialog_definition.h"
#include "hostapp/text_cells.h"

namespace hostapp {

// Widest inner width of a message box; with frame, margins and the
// indentation of the story it fits an 80-column terminal.
inline constexpr size_t kMessageWidth = 72;

// A frame around body lines, with title in its top border. inner_width is
// the width between the frame's sides, margins included.
std::vector<Line> Frame(const Line& title, const std::vector<Line>& body, size_t inner_width,
                        bool double_line);

// A message box: the caption and text are the host's (Mazovia, control bytes
// and column directives interpreted), the buttons the host program's own
// labels; buttons[default_button] is highlighted. Below the text, an optional
// extra line (the notice's check box).
std::vector<Line> MessageBox(std::string_view caption, std::string_view text,
                             const std::vector<std::string>& buttons, size_t default_button,
                             const Line& extra = {});

// A dialog of the DialogDefinition in its cells: frame, title and controls.
// The list control shows rows (Mazovia texts, cells separated by carriage
// returns) in the columns of the dialog's column header line, with the cursor
// on row cursor.
std::vector<Line> DrawDialog(const Dialog& dialog, const std::vector<std::string>& rows,
                             int cursor);

// A row text of a list laid out in the columns of a header line; cells
// beyond the columns follow after a space.
Line LayoutRow(const std::vector<Column>& columns, std::string_view row);

}  // namespace hostapp
