#include "hostapp/responder.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <deque>
#include <vector>

#include "host/host_records.h"
#include "hostapp/dialog_definition.h"
#include "hostapp/narration.h"
#include "hostapp/screen.h"
#include "hostapp/system.h"

namespace hostapp {
namespace {

// The host's message flags: the low four bits choose the buttons (5: yes and
// no, anything else: OK alone); 0x20000 makes the second button the default.
constexpr int32_t kButtonMask = 0xF;
constexpr int32_t kButtonsYesNo = 5;
constexpr int32_t kSecondButtonDefault = 0x20000;
// A list of more rows than this is not believed; the stand-in copies no more.
constexpr int32_t kRowLimit = 100000;

struct Script {
    std::deque<ListAnswer> lists;
    std::deque<bool> questions;
    std::deque<int16_t> notices;
};
Script script;
bool interactive = false;
ListOutcome last_list;

std::string Text(const char* text) {
    return text ? text : "";
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Trim(const std::string& text) {
    const size_t begin = text.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return "";
    return text.substr(begin, text.find_last_not_of(" \t") - begin + 1);
}

bool Ask(std::string_view prompt, std::string& reply) {
    if (!Prompt(prompt, reply))
        return false;
    reply = Lower(reply);
    return true;
}

// kUnanswered: Enter; kEnd: the end of the input.
enum class YesNo { kYes, kNo, kUnanswered, kEnd };

YesNo AskYesNo(std::string_view prompt) {
    std::string reply;
    while (Ask(prompt, reply)) {
        if (reply.empty())
            return YesNo::kUnanswered;
        if (reply == "t" || reply == "tak" || reply == "y" || reply == "yes")
            return YesNo::kYes;
        if (reply == "n" || reply == "nie" || reply == "no")
            return YesNo::kNo;
        Say("Odpowiedz t (tak) albo n (nie).");
    }
    return YesNo::kEnd;
}

std::vector<std::string> Buttons(int32_t flags, size_t& default_button) {
    if ((flags & kButtonMask) == kButtonsYesNo) {
        default_button = (flags & kSecondButtonDefault) ? 1 : 0;
        return {"Tak", "Nie"};
    }
    default_button = 0;
    return {"OK"};
}

void ShowMessage(std::string_view caption, std::string_view text, int32_t flags) {
    size_t default_button = 0;
    const std::vector<std::string> buttons = Buttons(flags, default_button);
    ShowLines(MessageBox(caption, text, buttons, default_button));
    UserAction(buttons[default_button]);
}

int32_t AnswerQuestion(const VsDialogCall& call) {
    size_t default_button = 0;
    const std::vector<std::string> buttons = Buttons(call.flags, default_button);
    ShowLines(MessageBox(Text(call.caption), Text(call.text), buttons, default_button));
    if (buttons.size() == 1) {
        UserAction(buttons[0]);
        return kAnswerYes;
    }
    bool yes = default_button == 0;
    if (interactive) {
        const YesNo reply = AskYesNo(default_button == 0 ? "Tak/Nie [t/n] (Enter: Tak): "
                                                         : "Tak/Nie [t/n] (Enter: Nie): ");
        // The end of the input answers no, whatever the default.
        if (reply != YesNo::kUnanswered)
            yes = reply == YesNo::kYes;
    } else if (!script.questions.empty()) {
        yes = script.questions.front();
        script.questions.pop_front();
    }
    UserAction(yes ? "Tak" : "Nie");
    return yes ? kAnswerYes : kAnswerNo;
}

// The host's install notice, dialog 1668: the text with a check box "do not
// show again" that stands for the 16-bit flag.
int32_t AnswerNotice(const VsDialogCall& call) {
    int16_t flag = static_cast<int16_t>(call.flag_in);
    const std::string caption =
        call.dialog == kInstallNoticeDialog ? "Informacja" : "Okno " + std::to_string(call.dialog);
    auto check_box = [](int16_t value) {
        return Cells(value ? "[x] Nie pokazuj więcej tej informacji"
                           : "[ ] Nie pokazuj więcej tej informacji");
    };
    ShowLines(MessageBox(caption, Text(call.text), {"OK"}, 0, check_box(flag)));
    if (interactive) {
        const YesNo reply = AskYesNo("Zaznaczyć „Nie pokazuj więcej”? [t/n] (Enter: bez zmian): ");
        if (reply == YesNo::kYes || reply == YesNo::kNo)
            flag = reply == YesNo::kYes ? 1 : 0;
    } else if (!script.notices.empty()) {
        flag = script.notices.front();
        script.notices.pop_front();
    }
    if (flag != static_cast<int16_t>(call.flag_in))
        UserAction(flag ? "zaznacza „Nie pokazuj więcej”, OK"
                        : "odznacza „Nie pokazuj więcej”, OK");
    else
        UserAction("OK");
    return flag;
}

std::string FirstCell(const std::string& row) {
    return MazoviaToUtf8(SplitCells(row).front());
}

// The label of the dialog's button whose identifier is the affirmative
// answer, as plain text ("F12 OK").
std::string ConfirmLabel(const Dialog* dialog) {
    if (dialog)
        for (const DialogItem& control : dialog->controls)
            if (control.kind == kControlButton && control.id == static_cast<uint16_t>(kAnswerYes)) {
                std::string label = Render(LayoutHostText(control.text).front(), false);
                if (!label.empty())
                    return label;
            }
    return "OK";
}

int32_t AnswerList(const VsDialogCall& call, int32_t* selection) {
    std::vector<std::string> rows;
    const int32_t count = std::clamp(call.rows, 0, kRowLimit);
    for (int32_t i = 0; i < count && call.row_texts; ++i)
        rows.push_back(Text(call.row_texts[i]));
    const int cursor = selection ? std::clamp(*selection, 0, std::max(count - 1, 0)) : 0;

    std::vector<Dialog> dialogs;
    std::string error;
    const bool parsed = ParseDialogDefinition(
        call.definition, call.definition ? call.definition_size : 0, dialogs, error);
    const Dialog* dialog = FindDialog(dialogs, call.dialog);
    if (dialog) {
        ShowLines(DrawDialog(*dialog, rows, cursor), 1);
    } else {
        std::vector<Line> body{Cells("Okno " + std::to_string(call.dialog) +
                                     (parsed ? " nie występuje w definicji okien wtyczki."
                                             : " – definicja okien nieczytelna: " + error))};
        body.emplace_back();
        for (const std::string& row : rows) {
            std::string flat = row;
            std::replace(flat.begin(), flat.end(), '\r', ' ');
            body.push_back(LayoutHostText(flat).front());
        }
        ShowLines(Frame(Cells("Lista"), Wrap(body, kMessageWidth), kMessageWidth, false));
    }

    ListOutcome outcome;
    outcome.shown = true;
    int chosen = -1;  // -1: Esc
    if (interactive) {
        std::string reply;
        if (rows.empty()) {
            Ask("Lista jest pusta – Enter zamyka okno (Esc): ", reply);
        } else {
            // Enter confirms the cursor row; the end of the input is Esc.
            const std::string prompt = "Wiersz 1–" + std::to_string(rows.size()) +
                                       " (Enter: " + std::to_string(cursor + 1) + ", 0: Esc): ";
            while (Ask(prompt, reply)) {
                if (reply.empty()) {
                    chosen = cursor;
                    break;
                }
                if (reply == "0" || reply == "esc") {
                    chosen = -1;
                    break;
                }
                char* end = nullptr;
                const long row = strtol(reply.c_str(), &end, 10);
                if (*end == 0 && row >= 1 && row <= static_cast<long>(rows.size())) {
                    chosen = static_cast<int>(row) - 1;
                    break;
                }
                Say("Podaj numer wiersza albo 0.");
            }
        }
    } else {
        ListAnswer answer;
        if (!script.lists.empty()) {
            answer = script.lists.front();
            script.lists.pop_front();
        }
        if (!rows.empty() && answer.choice == ListChoice::kDefault)
            chosen = cursor;
        if (answer.choice == ListChoice::kDocument)
            for (size_t i = 0; i < rows.size() && chosen < 0; ++i)
                if (FirstCell(rows[i]) == answer.number)
                    chosen = static_cast<int>(i);
    }

    if (chosen < 0) {
        UserAction("Esc");
        last_list = outcome;
        return kAnswerEscape;
    }
    outcome.confirmed = true;
    outcome.row = chosen;
    outcome.number = FirstCell(rows[chosen]);
    UserAction("wiersz " + std::to_string(chosen + 1) + " (" + outcome.number + "), " +
               ConfirmLabel(dialog));
    if (selection)
        *selection = chosen;
    last_list = outcome;
    return kAnswerYes;
}

}  // namespace

bool Prompt(std::string_view prompt, std::string& reply) {
    Out(std::string(kIndent, ' ') + "? " + std::string(prompt));
    if (!ReadLine(reply)) {
        Out("(koniec wejścia)\n");
        return false;
    }
    if (!InputIsConsole())
        Out(reply + "\n");
    reply = Trim(reply);
    return true;
}

void ScriptList(const ListAnswer& answer) {
    script.lists.push_back(answer);
}

void ScriptQuestion(bool yes) {
    script.questions.push_back(yes);
}

void ScriptNotice(int16_t flag) {
    script.notices.push_back(flag);
}

void ClearScript() {
    script = Script{};
    last_list = ListOutcome{};
}

void SetInteractive(bool on) {
    interactive = on;
}

const ListOutcome& LastListOutcome() {
    return last_list;
}

int32_t AnswerDialog(const VsDialogCall* call, int32_t* selection) {
    if (!call)
        return 0;
    switch (call->ordinal) {
        case kOrdinalHostMessage:
            ShowMessage(Text(call->caption), Text(call->text), call->flags);
            return 0;
        case kOrdinalHostShowText:
            ShowMessage("Komunikat", Text(call->text), 0);
            return 0;
        case kOrdinalHostQuestion:
            return AnswerQuestion(*call);
        case kOrdinalHostNotice:
            return AnswerNotice(*call);
        case kOrdinalHostListDialog:
            return AnswerList(*call, selection);
        default:
            Say("(okno operacji " + std::to_string(call->ordinal) + ")");
            return 0;
    }
}

}  // namespace hostapp
