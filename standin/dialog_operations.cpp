// The host's messages, questions, dialogs and menu commands. Nothing is drawn
// here: every call is logged with its exact bytes and answered by the host
// program's dialog handler when one is set (it draws them), else from the
// script that VsQueueAnswer fills, or with the defaults (yes, row 0 confirmed).
//
// Failure values under fault injection: HostQuestion and HostListDialog answer
// 27 (Esc), and the list dialog then calls no row callback and leaves the
// selection alone; HostAddMenuCommand 0, nothing registered. HostMessage,
// HostShowText, HostNotice and HostRemoveMenuCommand have no failure value: an
// injected fault only counts the call.
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "standin/standin_state.h"

namespace veldan {
namespace {

// Bounds on what is read from the plug-in's memory, so that a text without its
// terminator or a nonsensical row count cannot run away with the log.
constexpr size_t kTextLimit = 64 * 1024;
constexpr uint32_t kDefinitionLimit = 1024 * 1024;
constexpr int32_t kRowLimit = 100000;

std::string Text(const char* text) {
    return text ? std::string(text, strnlen(text, kTextLimit)) : std::string();
}

// Appends a log entry and points its public view at its own storage; a deque
// keeps the entry in place as the log grows.
VsDialogCall& Log(DialogRecord&& record) {
    auto& dialogs = S().dialogs;
    dialogs.push_back(std::move(record));
    DialogRecord& entry = dialogs.back();
    for (size_t i = 0; i < entry.rows.size(); ++i)
        entry.row_pointers.push_back(entry.asked[i] ? entry.rows[i].c_str() : nullptr);
    entry.call.caption = entry.caption.c_str();
    entry.call.text = entry.text.c_str();
    entry.call.format = entry.format.c_str();
    entry.call.definition = entry.definition.empty() ? nullptr : entry.definition.data();
    entry.call.definition_size = static_cast<int32_t>(entry.definition.size());
    entry.call.row_texts = entry.row_pointers.empty() ? nullptr : entry.row_pointers.data();
    return entry.call;
}

bool NextAnswer(int32_t ordinal, Answer& answer) {
    auto& answers = S().answers;
    auto found = answers.find(ordinal);
    if (found == answers.end() || found->second.empty())
        return false;
    answer = found->second.front();
    found->second.pop_front();
    return true;
}

// The answer to a logged dialog: the host program's handler's, when one is
// set, else the script's; false, with answer left alone, when neither gives
// one. selection is the row a list dialog opens on.
bool TakeAnswer(VsDialogCall& call, Answer& answer, int32_t selection = 0) {
    const VsDialogHandler handler = S().dialog_handler;
    if (!handler)
        return NextAnswer(call.ordinal, answer);
    answer.answer = handler(&call, &selection);
    answer.selection = selection;
    return true;
}

// The record of a dialog showing a text.
DialogRecord TextRecord(int32_t ordinal, std::string text) {
    DialogRecord record;
    record.call.ordinal = ordinal;
    record.text = std::move(text);
    return record;
}

// Logs a message or shown text and gives its result: the answer, or 0.
int32_t MessageResult(DialogRecord&& record) {
    VsDialogCall& shown = Log(std::move(record));
    Answer answer;
    shown.result = TakeAnswer(shown, answer) ? answer.answer : 0;
    return shown.result;
}

constexpr int32_t kRowsOnScreen = 9;

// Runs work on a stack of its own under other_stack, on the calling stack
// otherwise.
template <typename Work>
void OnAnotherStack(Work& work) {
    if (S().variation.other_stack == 0) {
        work();
        return;
    }
    RunOnAnotherStack([](void* argument) { (*static_cast<Work*>(argument))(); }, &work);
}

// The row callback is the plug-in's code: its time is not the host's.
int32_t AskRow(ListRowCallback row_text, uint32_t row) {
    const PluginTimeScope plugin_time;
    return row_text(row, 0);
}

// A row's text as the callback gives it; row is sent as 16 bits.
std::string RowText(ListRowCallback row_text, int32_t row) {
    const auto text = reinterpret_cast<const char*>(
        static_cast<uintptr_t>(static_cast<uint32_t>(AskRow(row_text, row & 0xFFFF))));
    return Text(text);
}

// The row the scripted user will choose, without taking the answer yet.
int32_t NextSelection(int32_t ordinal) {
    const auto& answers = S().answers;
    auto found = answers.find(ordinal);
    return found == answers.end() || found->second.empty() ? 0 : found->second.front().selection;
}

std::string Format(const char* format, va_list args) {
    if (!format)
        return std::string();
    va_list measure;
    va_copy(measure, args);
    const int length = vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0)
        return std::string();
    std::string text(static_cast<size_t>(length) + 1, '\0');
    vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<size_t>(length));
    return text;
}

}  // namespace
}  // namespace veldan

using namespace veldan;

extern "C" int32_t HOST_STDCALL HostMessage(const char* caption, const char* text, int32_t flags) {
    return Operation<kOrdinalHostMessage>(VS_ARGUMENTS, [&](auto call) {
        DialogRecord record = TextRecord(kOrdinalHostMessage, Text(text));
        record.caption = Text(caption);
        record.call.flags = flags;
        const auto length = static_cast<int32_t>(record.text.size());
        return call.Open(MessageResult(std::move(record)), length);
    });
}

extern "C" uint32_t HOST_CDECL StandinQuestion(const char* caption, const char* format,
                                               int32_t flags, ...)
    VELDAN_SHORT_RESULT(HostQuestion, CDECL, 12);
extern "C" uint32_t HOST_CDECL StandinQuestion(const char* caption, const char* format,
                                               int32_t flags, ...) {
    va_list args;
    va_start(args, flags);
    std::string text = Format(format, args);
    va_end(args);
    return Operation<kOrdinalHostQuestion>(VS_ARGUMENTS, [&](auto call) {
        DialogRecord record = TextRecord(kOrdinalHostQuestion, std::move(text));
        record.caption = Text(caption);
        record.format = Text(format);
        if (!call.fail)
            LeaveDialogByLongJump(record);
        record.call.flags = flags;
        VsDialogCall& shown = Log(std::move(record));
        Answer answer{kAnswerYes, 0};
        if (call.fail)
            answer.answer = kAnswerEscape;
        else
            TakeAnswer(shown, answer);
        shown.result = static_cast<int16_t>(answer.answer);
        return call.Short(static_cast<int16_t>(shown.result));
    });
}

extern "C" int32_t HOST_STDCALL HostShowText(const char* text) {
    return Operation<kOrdinalHostShowText>(VS_ARGUMENTS, [&](auto call) {
        DialogRecord record = TextRecord(kOrdinalHostShowText, Text(text));
        const auto length = static_cast<int32_t>(record.text.size());
        return call.Open(MessageResult(std::move(record)), length);
    });
}

namespace veldan {
namespace {

// Asks the row callback for the rows as the variation has the host ask: every
// row in order, or only those on screen, out of order, twice, and rows
// outside the list. The record keeps each row's latest text.
void AskRows(DialogRecord& record, ListRowCallback row_text) {
    const int32_t rows = AskRow(row_text, 0xFFFF);
    record.call.rows = rows;
    const int32_t listed = std::clamp(rows, 0, kRowLimit);
    record.rows.resize(static_cast<size_t>(listed));
    record.asked.resize(static_cast<size_t>(listed));
    auto ask = [&](int32_t i) {
        const std::string text = RowText(row_text, i);
        if (i < 0 || i >= listed) {
            S().odd_row_texts += text.empty() ? 0 : 1;
            return;
        }
        const auto at = static_cast<size_t>(i);
        S().odd_row_texts += record.asked[at] && record.rows[at] != text ? 1 : 0;
        record.rows[at] = text;
        record.asked[at] = true;
    };
    if (S().variation.list_rows == kVsRowsShownOnly) {
        const int32_t chosen = NextSelection(kOrdinalHostListDialog);
        const int32_t last = std::clamp(chosen, 0, std::max(listed - 1, 0));
        const int32_t first = std::max(last - kRowsOnScreen + 1, 0);
        for (int pass = 0; pass < 2; ++pass)
            for (int32_t i = last; i >= first && i < listed; --i)
                ask(i);
        ask(listed);
        ask(0x7FFF);
    } else {
        for (int32_t i = 0; i < listed; ++i)
            ask(i);
    }
}

}  // namespace
}  // namespace veldan

// Runs a list dialog as the host does: asks the row callback for the number of
// rows (row -1) and then for every row's text, before the user answers; or,
// under the shown-only variation, for the rows on screen only, out of order,
// twice, and for rows outside the list. The row travels as a 16-bit value in
// the low half of its slot, the upper half zero, so a callback that reads the
// whole slot sees 65535, not -1. The log holds each row's latest text, empty
// for rows never asked.
extern "C" uint32_t HOST_CDECL StandinListDialog(const void* definition, int32_t dialog,
                                                 int16_t* row, int32_t zero,
                                                 ListRowCallback row_text)
    VELDAN_SHORT_RESULT(HostListDialog, CDECL, 20);
extern "C" uint32_t HOST_CDECL StandinListDialog(const void* definition, int32_t dialog,
                                                 int16_t* row, int32_t /*zero*/,
                                                 ListRowCallback row_text) {
    return Operation<kOrdinalHostListDialog>(VS_ARGUMENTS, [&](auto call) {
        DialogRecord record;
        record.call.ordinal = kOrdinalHostListDialog;
        record.call.dialog = dialog;
        if (definition) {
            uint32_t length;
            memcpy(&length, definition, sizeof length);
            if (length > kDefinitionLimit)
                length = kDefinitionLimit;
            const auto* bytes = static_cast<const uint8_t*>(definition);
            record.definition.assign(bytes, bytes + sizeof length + length);
        }
        if (!call.fail && row_text) {
            auto ask = [&] { AskRows(record, row_text); };
            OnAnotherStack(ask);
        }
        if (!call.fail)
            LeaveDialogByLongJump(record);
        VsDialogCall& shown = Log(std::move(record));
        Answer answer{kAnswerYes, 0};
        if (call.fail) {
            answer.answer = kAnswerEscape;
        } else {
            TakeAnswer(shown, answer, row ? *row : 0);
            if (row)
                *row = static_cast<int16_t>(answer.selection);
        }
        shown.result = static_cast<int16_t>(answer.answer);
        return call.Short(static_cast<int16_t>(shown.result));
    });
}

extern "C" int32_t HOST_CDECL HostNotice(int32_t dialog, int16_t* flag, int32_t /*zero*/,
                                         const char* text) {
    return Operation<kOrdinalHostNotice>(VS_ARGUMENTS, [&](auto call) {
        DialogRecord record = TextRecord(kOrdinalHostNotice, Text(text));
        record.call.dialog = dialog;
        record.call.flag_in = flag ? *flag : 0;
        VsDialogCall& shown = Log(std::move(record));
        Answer answer;
        if (TakeAnswer(shown, answer) && flag)
            *flag = static_cast<int16_t>(answer.answer);
        shown.result = 1;
        return call.Open(shown.result, static_cast<int32_t>(strlen(shown.text)));
    });
}

extern "C" int32_t HOST_STDCALL HostAddMenuCommand(int32_t command, MenuCommandHandler handler) {
    return Operation<kOrdinalHostAddMenuCommand>(VS_ARGUMENTS, [&](auto call) {
        if (call.fail || !handler)
            return 0;
        State& s = S();
        s.menu[command] = handler;
        ++s.menu_marks;
        return s.variation.other_success ? call.Success() : s.menu_marks;
    });
}

extern "C" int32_t HOST_STDCALL HostRemoveMenuCommand(int32_t command) {
    return Operation<kOrdinalHostRemoveMenuCommand>(VS_ARGUMENTS, [&](auto call) {
        const auto removed = static_cast<int32_t>(S().menu.erase(command));
        return call.Open(removed, removed);
    });
}

VS_API void VsSetDialogHandler(VsDialogHandler handler) {
    S().dialog_handler = handler;
}
