// Dialogs answered from the script and logged byte for byte; the settings file;
// text services; the selection list as the plug-in reads it.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/host_store.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint32_t> asked_rows;
int32_t HOST_STDCALL ThreeRows(uint32_t row, int32_t) {
    static char text[32];
    asked_rows.push_back(row);
    if (static_cast<int16_t>(row) == -1)
        return 3;
    snprintf(text, sizeof text, "ZK/%u\r1.00\r", row);
    return reinterpret_cast<intptr_t>(text);
}

uint32_t menu_args[2];
int32_t HOST_STDCALL MenuHandler(uint32_t result, uint32_t phase) {
    menu_args[0] = result;
    menu_args[1] = phase;
    return 0;
}

std::string ReadFile(const fs::path& path) {
    return test_host::ReadBytes(path.string());
}

TEST(Dialogs, ListDialogAsksEveryRowAndAnswersFromTheScript) {
    VsReset();
    // A definition block: the length word, then that many bytes.
    const uint8_t definition[] = {5, 0, 0, 0, 'a', 'b', 'c', 'd', 'e', 'X', 'X'};
    int16_t row = 0;
    asked_rows.clear();
    EXPECT_EQ(HostListDialog(definition, 1002, &row, 0, ThreeRows), kAnswerYes);
    EXPECT_EQ(row, 0) << "confirms row 0 unless told otherwise";
    ASSERT_EQ(asked_rows.size(), 4u);
    EXPECT_EQ(asked_rows[0], 0xFFFFu) << "row -1 as a 16-bit value, upper half zero";
    EXPECT_EQ(asked_rows[3], 2u);

    const VsDialogCall& call = *VsDialogCallAt(0);
    EXPECT_EQ(call.ordinal, kOrdinalHostListDialog);
    EXPECT_EQ(call.dialog, 1002);
    ASSERT_EQ(call.definition_size, 9);
    EXPECT_EQ(memcmp(call.definition, definition, 9), 0);
    EXPECT_EQ(call.rows, 3);
    EXPECT_STREQ(call.row_texts[0], "ZK/0\r1.00\r");
    EXPECT_STREQ(call.row_texts[2], "ZK/2\r1.00\r") << "each row copied when it was given";

    VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, 2);
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerEscape, 1);
    EXPECT_EQ(HostListDialog(definition, 1002, &row, 0, ThreeRows), kAnswerYes);
    EXPECT_EQ(row, 2);
    EXPECT_EQ(HostListDialog(definition, 1002, &row, 0, ThreeRows), kAnswerEscape);
    EXPECT_EQ(VsDialogCallCount(), 3);
    EXPECT_EQ(VsDialogCallAt(2)->result, kAnswerEscape);
}

TEST(Dialogs, QuestionsNoticesAndMessagesAreLoggedAsGiven) {
    VsReset();
    EXPECT_EQ(HostQuestion("Uwaga", "Uwagi:\n\n%s\n\n%d?", 0x20005, "ZK/1", 7), kAnswerYes);
    VsQueueAnswer(kOrdinalHostQuestion, kAnswerNo, 0);
    EXPECT_EQ(HostQuestion("Uwaga", "drugie", 0x20005), 20482);
    const VsDialogCall& question = *VsDialogCallAt(0);
    EXPECT_STREQ(question.caption, "Uwaga");
    EXPECT_STREQ(question.format, "Uwagi:\n\n%s\n\n%d?");
    EXPECT_STREQ(question.text, "Uwagi:\n\nZK/1\n\n7?");
    EXPECT_EQ(question.flags, 0x20005);

    int16_t flag = 0;
    HostNotice(1668, &flag, 0, "Zainstalowano");
    EXPECT_EQ(flag, 0) << "left alone unless the script says";
    VsQueueAnswer(kOrdinalHostNotice, 1, 0);
    flag = 4;
    HostNotice(1668, &flag, 0, "Zainstalowano");
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(VsDialogCallAt(3)->flag_in, 4);
    EXPECT_EQ(VsDialogCallAt(3)->dialog, 1668);

    HostMessage(
        "B\x92\x86"
        "d",
        "B\x92\x86"
        "d operacji",
        1);
    HostShowText("tekst");
    EXPECT_STREQ(VsDialogCallAt(4)->caption,
                 "B\x92\x86"
                 "d");
    EXPECT_EQ(VsDialogCallAt(4)->flags, 1);
    EXPECT_STREQ(VsDialogCallAt(5)->text, "tekst");
    EXPECT_STREQ(VsDialogCallAt(5)->caption, "");
}

TEST(Dialogs, MenuCommandRunsItsHandlerUntilRemoved) {
    VsReset();
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), -1);
    EXPECT_NE(HostAddMenuCommand(350, MenuHandler), 0);
    EXPECT_EQ(VsMenuHandler(350), MenuHandler);
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), 0);
    EXPECT_EQ(menu_args[0], 20481u);
    EXPECT_EQ(menu_args[1], 2u);
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, 0xFFFF, 0), 0);
    EXPECT_EQ(menu_args[0], 0xFFFFu) << "16-bit values, upper half zero";
    HostRemoveMenuCommand(350);
    EXPECT_EQ(VsMenuHandler(350), nullptr);
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), -1);
}

TEST(Services, SettingsFileIsWrittenWholeAndReadBack) {
    VsReset();
    const fs::path folder =
        fs::temp_directory_path() / ("standin-profile-" + std::to_string(GetCurrentProcessId()));
    fs::create_directories(folder);
    const fs::path file = folder / "veldan.ini";
    std::ofstream(file, std::ios::binary) << "; host settings\r\n[Inne]\r\nPytaj=9\r\n";
    VsSetProfilePath(file.string().c_str());

    int value = -1;
    EXPECT_NE(ProfileValue(1, "Quendrix", "Pytaj", "%d", &value), 0) << "absent key";
    EXPECT_EQ(value, -1);
    EXPECT_EQ(ProfileValue(2, "Quendrix", "Pytaj", "%d", 0), 0);
    EXPECT_EQ(ProfileValue(2, "Quendrix", "Inny", "%d", -12), 0);
    EXPECT_EQ(ProfileValue(2, "quendrix", "pytaj", "%d", 1), 0) << "names ignore case";
    EXPECT_EQ(ProfileValue(1, "Quendrix", "Pytaj", "%d", &value), 0);
    EXPECT_EQ(value, 1);
    EXPECT_EQ(ProfileValue(1, "Quendrix", "Inny", "%d", &value), 0);
    EXPECT_EQ(value, -12);
    EXPECT_EQ(ProfileValue(1, "Inne", "Pytaj", "%d", &value), 0);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(ReadFile(file),
              "; host settings\r\n[Inne]\r\nPytaj=9\r\n\r\n[Quendrix]\r\nPytaj=1\r\nInny=-12\r\n");
    EXPECT_FALSE(fs::exists(file.string() + ".tmp"));

    std::ofstream(file, std::ios::binary | std::ios::app) << "[Quendrix]\r\nZle=abc\r\n";
    EXPECT_NE(ProfileValue(1, "Quendrix", "Zle", "%d", &value), 0) << "not a number";
    fs::remove_all(folder);
}

TEST(Services, TextsAndDatesAsTheHostMakesThem) {
    VsReset();
    // The Polish letters of Mazovia and their Windows-1250 bytes, converted in place.
    char text[] = "\x8F\x95\x90\x9C\xA5\xA3\x98\xA0\xA1 \x86\x8D\x91\x92\xA4\xA2\x9E\xA6\xA7 \xC4!";
    HostConvertText(text, text, 1, 3);
    EXPECT_STREQ(text,
                 "\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF \xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF ?!");
    char other[8];
    HostConvertText(other, "\x86x", 3, 1);
    EXPECT_STREQ(other, "\x86x") << "other code pairs copy";

    char dest[8];
    memset(dest, 'z', sizeof dest);
    EXPECT_EQ(HostCopyText(dest, "abcdefgh", 5), dest);
    EXPECT_STREQ(dest, "abcde");
    EXPECT_EQ(dest[6], 'z') << "nothing written after the terminator";
    HostCopyText(dest, "ab", 5);
    EXPECT_STREQ(dest, "ab");

    DocumentHeader header{};
    const int32_t date = 20260307;
    memcpy(header.issue_date, &date, sizeof date);
    char shown[13];
    memset(shown, 'z', sizeof shown);
    HostFormatDate(shown, header.issue_date);
    EXPECT_STREQ(shown, "07.03.2026");
    memset(header.issue_date, 0, 4);
    HostFormatDate(shown, header.issue_date);
    EXPECT_STREQ(shown, "") << "a cleared record has no date";
}

TEST(Services, SelectionListAndVersionAsThePluginReadsThem) {
    VsReset();
    EXPECT_EQ(HostInterfaceVersion(), 112);
    VsSetInterfaceVersion(111);
    EXPECT_EQ(HostInterfaceVersion(), 111);

    EXPECT_EQ(*HostSelectionCount(), 0);
    DocumentHeader record = test_host::MakeOrder(5, 1, "ZK/5");
    strcpy(record.remarks, "Zam. nr 7");
    VsAddSelection(0, 1, &record);
    VsAddSelection(1, 77, &record);
    ASSERT_EQ(*HostSelectionCount(), 2);
    SelectionEntry** entries = HostSelectionEntries();
    const auto* raw = reinterpret_cast<const uint8_t*>(entries[1]);
    EXPECT_EQ(raw[22], 1);
    DocumentHeader* held;
    memcpy(&held, raw + 39, sizeof held);
    EXPECT_STREQ(held->remarks, "Zam. nr 7");
    EXPECT_NE(held, &record) << "the host keeps its own copy";
    int32_t value;
    memcpy(&value, raw + 43, sizeof value);
    EXPECT_EQ(value, 77);
    VsClearSelection();
    EXPECT_EQ(*HostSelectionCount(), 0);
}

}  // namespace
