// The list dialog as the host draws it from a DialogDefinition block: the
// block read without trusting its lengths, the dialog's frame, title,
// label, column header line, rows and button in their cells.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "hostapp/dialog_definition.h"
#include "hostapp/screen.h"

using namespace hostapp;

namespace {

struct Item {
    uint16_t kind, id, flags, hot_key, column, row, width, height;
    uint32_t extra;
    std::string text;
};

void Word(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

std::vector<uint8_t> Entry(const std::vector<Item>& items) {
    std::vector<uint8_t> body;
    for (const Item& item : items) {
        for (uint16_t value : {item.kind, item.id, item.flags, item.hot_key, item.column, item.row,
                               item.width, item.height})
            Word(body, value);
        Word(body, static_cast<uint16_t>(item.extra));
        Word(body, static_cast<uint16_t>(item.extra >> 16));
        body.insert(body.end(), item.text.begin(), item.text.end());
        body.push_back(0);
    }
    std::vector<uint8_t> entry;
    Word(entry, static_cast<uint16_t>(body.size()));
    Word(entry, static_cast<uint16_t>(items.size() - 1));
    entry.insert(entry.end(), body.begin(), body.end());
    return entry;
}

// The two dialogs of the plug-in's block, written from the documented layout
// (texts in Mazovia: 0xA2 is ó, 0x8D is ć).
std::vector<uint8_t> PluginLikeBlock() {
    std::vector<uint8_t> entries;
    const std::vector<uint8_t> progress = Entry({
        {0xFFFF, 1001, 0x4008, 0, 0, 0, 48, 5, 0, "Przetwarzanie"},
        {7, 0xFFFF, 0, 0, 3, 1, 42, 3, 3, ""},
        {4, 0x4003, 0, 0, 4, 2, 40, 1, 0,
         "1234567890\x05"
         "1234567890\x02"
         "12345\x03"
         "67890\x04"
         "1234567890"},
    });
    const std::vector<uint8_t> list = Entry({
        {0xFFFF, 1002, 0x0200, 0, 0, 0, 78, 18, 0, "Wybierz zam\xA2wienie"},
        {4, 0x5801, 0, 0, 2, 3, 74, 1, 0, "l17Numer zam.\rp15Warto\x9E\x8D zak.br.\rl12Data wyst."},
        {3, 0xFFFF, 0, 0x3D00, 2, 2, 20, 1, 0,
         "\x02"
         "F3\x01 Dokumenty"},
        {6, 0x4001, 0x0408, 0, 2, 4, 74, 9, 0, ""},
        {0, 0x5001, 0x0100, 0x5500, 30, 15, 16, 1, 0,
         "\x05"
         "F12\x01 OK"},
    });
    entries.insert(entries.end(), progress.begin(), progress.end());
    entries.insert(entries.end(), list.begin(), list.end());
    std::vector<uint8_t> block;
    Word(block, static_cast<uint16_t>(entries.size()));
    Word(block, 0);
    block.insert(block.end(), entries.begin(), entries.end());
    return block;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
    return text.rfind(prefix, 0) == 0;
}

std::vector<std::string> Plain(const std::vector<Line>& lines) {
    std::vector<std::string> out;
    for (const Line& line : lines)
        out.push_back(Render(line, false));
    return out;
}

// A copy of bytes that ends right before a page the process may not touch,
// so that reading one byte too far faults at once.
class GuardedCopy {
  public:
    explicit GuardedCopy(const std::vector<uint8_t>& bytes) {
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        const size_t page = info.dwPageSize;
        const size_t pages = (bytes.size() + page - 1) / page + 1;
        base_ = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, pages * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        VirtualProtect(base_ + (pages - 1) * page, page, PAGE_NOACCESS, &old);
        data_ = base_ + (pages - 1) * page - bytes.size();
        memcpy(data_, bytes.data(), bytes.size());
    }
    ~GuardedCopy() { VirtualFree(base_, 0, MEM_RELEASE); }
    const uint8_t* data() const { return data_; }

  private:
    uint8_t* base_ = nullptr;
    uint8_t* data_ = nullptr;
};

}  // namespace

TEST(DialogDefinition, ReadsBothDialogsOfTheBlock) {
    const std::vector<uint8_t> block = PluginLikeBlock();
    ASSERT_EQ(block.size(), 4u + 319u) << "the layout gives the block's length";
    std::vector<Dialog> dialogs;
    std::string error;
    ASSERT_TRUE(ParseDialogDefinition(block.data(), block.size(), dialogs, error)) << error;
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(FindDialog(dialogs, 1001), &dialogs[0]);
    const Dialog* list = FindDialog(dialogs, 1002);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(FindDialog(dialogs, 1668), nullptr);
    EXPECT_EQ(list->self.width, 78);
    EXPECT_EQ(list->self.height, 18);
    ASSERT_EQ(list->controls.size(), 4u);
    EXPECT_EQ(list->controls[3].id, 0x5001);
    EXPECT_EQ(list->controls[3].hot_key, 0x5500);
    EXPECT_EQ(list->controls[3].text,
              "\x05"
              "F12\x01 OK");
    EXPECT_EQ(dialogs[0].controls[0].extra, 3u);

    std::vector<Column> columns;
    ASSERT_TRUE(ParseColumns(list->controls[0].text, columns));
    ASSERT_EQ(columns.size(), 3u);
    EXPECT_FALSE(columns[0].right);
    EXPECT_EQ(columns[0].width, 17u);
    EXPECT_TRUE(columns[1].right);
    EXPECT_EQ(columns[1].width, 15u);
    EXPECT_EQ(columns[2].heading, "Data wyst.");
    EXPECT_FALSE(ParseColumns("Numer\rp15x", columns)) << "a cell without its letter";
    EXPECT_FALSE(ParseColumns("lx", columns)) << "a letter without its width";
}

TEST(DialogDefinition, DrawsTheOrderListInItsCells) {
    const std::vector<uint8_t> block = PluginLikeBlock();
    std::vector<Dialog> dialogs;
    std::string error;
    ASSERT_TRUE(ParseDialogDefinition(block.data(), block.size(), dialogs, error));
    // Eleven rows as the plug-in's row callback gives them; the cursor on the
    // tenth, beyond the nine visible rows.
    std::vector<std::string> rows;
    for (int i = 1; i <= 11; ++i)
        rows.push_back("ZK/" + std::to_string(i) + "/2026\r" + std::to_string(i * 100) + ".50\r0" +
                       std::to_string(i % 10) + ".03.2026");
    const std::vector<Line> drawn = DrawDialog(*FindDialog(dialogs, 1002), rows, 9);
    const std::vector<std::string> lines = Plain(drawn);
    ASSERT_EQ(lines.size(), 18u);
    for (const Line& line : drawn)
        EXPECT_EQ(line.size(), 78u);

    EXPECT_EQ(lines[0], "╔" + std::string() + "════════════════════════════" +
                            " Wybierz zamówienie " + "════════════════════════════" + "╗");
    EXPECT_EQ(lines[17].substr(0, 3), "╚");
    EXPECT_EQ(lines[2], "║ F3 Dokumenty" + std::string(63, ' ') + "║");
    EXPECT_TRUE(StartsWith(lines[3], "║ Numer zam.        Wartość zak.br. Data wyst.   "))
        << lines[3];
    // Rows in the header's columns: the number left in 17, the value ending
    // where the value heading ends, the date after it. The window scrolled
    // so the cursor row (the tenth) is the last visible one.
    EXPECT_TRUE(StartsWith(lines[4], "║ ZK/2/2026                  200.50 02.03.2026   "))
        << lines[4];
    EXPECT_TRUE(StartsWith(lines[12], "║ ZK/10/2026                1000.50 00.03.2026   "))
        << lines[12];
    EXPECT_NE(lines[12].find("◄ ║"), std::string::npos) << "the cursor row is marked";
    EXPECT_EQ(lines[13], "║" + std::string(76, ' ') + "║");
    EXPECT_EQ(lines[15].substr(0, 3 + 29), "║" + std::string(29, ' '));
    EXPECT_NE(lines[15].find("[    F12 OK    ]"), std::string::npos);
    EXPECT_EQ(lines[15].find("[    F12 OK    ]"), 3u + 29u);
    // Reverse video on the cursor row, bold on the label's key.
    EXPECT_EQ(drawn[12][2].attr & kReverse, kReverse);
    EXPECT_EQ(drawn[11][2].attr, kPlain);
    EXPECT_EQ(drawn[2][2].attr, kBold);
    EXPECT_EQ(drawn[2][4].attr, kPlain);

    // No rows: the list says so; rows that do not fit are cut in their cells.
    const std::vector<std::string> empty = Plain(DrawDialog(*FindDialog(dialogs, 1002), {}, 0));
    EXPECT_NE(empty[4].find("(lista jest pusta)"), std::string::npos);
    const std::vector<std::string> cut = Plain(DrawDialog(
        *FindDialog(dialogs, 1002), {"ABCDEFGHIJKLMNOPQRSTUVWXYZ\r12345678901234567890\rx"}, 0));
    EXPECT_TRUE(StartsWith(cut[4], "║ ABCDEFGHIJKLMNOP… 678901234567890 x ")) << cut[4];
}

TEST(DialogDefinition, ACutOrInconsistentBlockIsReportedNotOverread) {
    const std::vector<uint8_t> good = PluginLikeBlock();
    std::vector<Dialog> dialogs;
    std::string error;
    // Every shorter prefix of the block, its length word still claiming the
    // whole: the reader stops with a reason and never touches the byte after.
    for (size_t size = 0; size < good.size(); ++size) {
        const std::vector<uint8_t> prefix(good.begin(), good.begin() + size);
        GuardedCopy copy(prefix);
        EXPECT_FALSE(ParseDialogDefinition(copy.data(), size, dialogs, error)) << size;
        EXPECT_FALSE(error.empty()) << size;
    }
    // The length word within bounds, the entries inconsistent.
    std::vector<uint8_t> bad = good;
    bad[4] = static_cast<uint8_t>(bad[4] + 1);  // the first entry one byte longer
    GuardedCopy longer(bad);
    EXPECT_FALSE(ParseDialogDefinition(longer.data(), bad.size(), dialogs, error));

    bad = good;
    bad[6] = 9;  // the first dialog claims nine controls
    GuardedCopy more_controls(bad);
    EXPECT_FALSE(ParseDialogDefinition(more_controls.data(), bad.size(), dialogs, error));
    EXPECT_NE(error.find("item"), std::string::npos) << error;

    bad = good;
    bad.back() = 'K';  // the last text loses its terminator
    GuardedCopy unterminated(bad);
    EXPECT_FALSE(ParseDialogDefinition(unterminated.data(), bad.size(), dialogs, error));
    EXPECT_NE(error.find("terminator"), std::string::npos) << error;
    // What was read before the fault is kept: the first dialog.
    EXPECT_EQ(dialogs.size(), 1u);

    bad = good;
    bad[8] = 4;  // the first entry starts with a control, not the dialog
    EXPECT_FALSE(ParseDialogDefinition(bad.data(), bad.size(), dialogs, error));
}
