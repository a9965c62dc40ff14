// The user at the host's windows: every message, question, notice and list
// dialog that the plug-in asks for is drawn on the terminal as it happens and
// answered, either from the story's script or by a person at prompts.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "host/host_records.h"
#include "standin/veldan_control.h"

namespace hostapp {

// Script of the user's next answers; each is used once (ClearScript also
// forgets the last list's outcome). A dialog for which
// the script holds nothing is answered as a user who only presses Enter
// would: the default button, the cursor row of a list, a notice left as it is.
enum class ListChoice { kDefault, kDocument, kEscape };
struct ListAnswer {
    ListChoice choice = ListChoice::kDefault;
    std::string number;  // kDocument: the row whose first cell is this number (UTF-8)
};
void ScriptList(const ListAnswer& answer);
void ScriptQuestion(bool yes);
void ScriptNotice(int16_t flag);
void ClearScript();

// Interactive: answers are read from standard input at prompts. Enter takes
// the default; the end of the input cancels: Esc in a list, no to a question,
// a notice left as it is.
void SetInteractive(bool on);

// Asks at a prompt and reads the reply, trimmed; false at the end of the input.
bool Prompt(std::string_view prompt, std::string& reply);

// What the last list dialog came to, for the story to tell.
struct ListOutcome {
    bool shown = false;
    bool confirmed = false;
    int row = -1;
    std::string number;  // first cell of the chosen row (UTF-8)
};
const ListOutcome& LastListOutcome();

// The stand-in's dialog handler: draws the call and returns the answer.
int32_t AnswerDialog(const VsDialogCall* call, int32_t* selection);

}  // namespace hostapp
