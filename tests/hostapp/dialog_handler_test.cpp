// The stand-in's dialog handler, through which a host program draws and
// answers the plug-in's windows: what it is shown, what its answers do, and
// when the script takes over again. The dialog operations are called by
// their ordinals, as the plug-in calls them.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "host/host_records.h"
#include "standin/veldan_control.h"
#include "tests/support/plugin_library.h"

namespace {

const test_host::DirectHost& host = test_host::Direct();

// What the handler saw, copied while the call lasted.
struct Seen {
    int32_t ordinal = 0;
    std::string caption, text;
    int32_t flags = 0, dialog = 0, flag_in = 0, rows = 0, selection_in = -1;
    std::vector<std::string> row_texts;
    int32_t definition_size = 0;
    int logged = 0;  // calls in the log when the handler ran
};
std::vector<Seen> seen;
int32_t next_answer = 0, next_selection = 0;

int32_t Handler(const VsDialogCall* call, int32_t* selection) {
    Seen s;
    s.ordinal = call->ordinal;
    s.caption = call->caption;
    s.text = call->text;
    s.flags = call->flags;
    s.dialog = call->dialog;
    s.flag_in = call->flag_in;
    s.rows = call->rows;
    for (int32_t i = 0; i < call->rows; ++i)
        s.row_texts.push_back(call->row_texts[i]);
    s.definition_size = call->definition_size;
    s.selection_in = *selection;
    s.logged = VsDialogCallCount();
    seen.push_back(s);
    *selection = next_selection;
    return next_answer;
}

const char* const kRows[] = {"ZK/1\r1.00\r01.01.2026", "ZK/2\r2.00\r02.01.2026",
                             "ZK/3\r3.00\r03.01.2026"};
int32_t HOST_STDCALL RowText(uint32_t row, int32_t) {
    if (static_cast<uint16_t>(row) == 0xFFFF)
        return 3;
    return static_cast<int32_t>(reinterpret_cast<uintptr_t>(kRows[row]));
}

const uint8_t kEmptyBlock[4] = {0, 0, 0, 0};

}  // namespace

TEST(DialogHandler, SeesEveryCallAsLoggedAndAnswersIt) {
    VsReset();
    seen.clear();
    VsSetDialogHandler(&Handler);
    // A queued answer is not used while the handler answers.
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerEscape, 0);

    next_answer = kAnswerYes;
    next_selection = 1;
    int16_t row = 2;
    EXPECT_EQ(host.HostListDialog(kEmptyBlock, 1002, &row, 0, RowText), kAnswerYes);
    EXPECT_EQ(row, 1) << "the handler's row goes back to the plug-in";
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].dialog, 1002);
    EXPECT_EQ(seen[0].selection_in, 2) << "the row the dialog opens on";
    EXPECT_EQ(seen[0].rows, 3);
    EXPECT_EQ(seen[0].row_texts[2], kRows[2]);
    EXPECT_EQ(seen[0].definition_size, 4);
    EXPECT_EQ(seen[0].logged, 1) << "logged before it is handed over";
    EXPECT_EQ(VsDialogCallAt(0)->result, kAnswerYes);

    next_answer = kAnswerNo;
    EXPECT_EQ(host.HostQuestion("Uwaga", "%s i %d", 0x20005, "tekst", 7), kAnswerNo);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].caption, "Uwaga");
    EXPECT_EQ(seen[1].text, "tekst i 7") << "formatted as shown";
    EXPECT_EQ(seen[1].flags, 0x20005);

    next_answer = 1;
    int16_t flag = 0;
    EXPECT_EQ(host.HostNotice(1668, &flag, 0, "Zainstalowano"), 1);
    EXPECT_EQ(flag, 1) << "the handler's answer is the flag left";
    EXPECT_EQ(seen[2].flag_in, 0);
    EXPECT_EQ(seen[2].dialog, 1668);

    next_answer = 5;
    EXPECT_EQ(host.HostMessage("B\xB3\xA5"
                               "d",
                               "tekst", 1),
              5);
    EXPECT_EQ(seen[3].caption,
              "B\xB3\xA5"
              "d");
    EXPECT_EQ(host.HostShowText("Program wymaga nowszej wtyczki!"), 5);
    EXPECT_EQ(seen[4].text, "Program wymaga nowszej wtyczki!");
    EXPECT_EQ(VsDialogCallCount(), 5);
}

TEST(DialogHandler, FaultsAndTheScriptTakeOverWhereItIsNotSet) {
    VsReset();
    seen.clear();
    VsSetDialogHandler(&Handler);
    next_answer = kAnswerYes;

    // A failing call never reaches the user.
    VsFailCall(kOrdinalHostQuestion, 1);
    EXPECT_EQ(host.HostQuestion("Uwaga", "x", 0x20005), 27);
    int16_t row = 0;
    VsFailCall(kOrdinalHostListDialog, 1);
    EXPECT_EQ(host.HostListDialog(kEmptyBlock, 1002, &row, 0, RowText), kAnswerEscape);
    EXPECT_TRUE(seen.empty());

    // Null: the script again, then the defaults.
    VsSetDialogHandler(nullptr);
    VsQueueAnswer(kOrdinalHostQuestion, kAnswerNo, 0);
    EXPECT_EQ(host.HostQuestion("Uwaga", "x", 0x20005), 20482);
    EXPECT_EQ(host.HostQuestion("Uwaga", "x", 0x20005), kAnswerYes);
    row = 2;
    EXPECT_EQ(host.HostListDialog(kEmptyBlock, 1002, &row, 0, RowText), kAnswerYes);
    EXPECT_EQ(row, 0) << "the script's default row";

    // VsReset forgets the handler.
    VsSetDialogHandler(&Handler);
    VsReset();
    int16_t flag = 3;
    host.HostNotice(1668, &flag, 0, "x");
    EXPECT_EQ(flag, 3);
    EXPECT_TRUE(seen.empty());
}
