// The comparison of a WZ with one order, against the stand-in host's store:
// what is left of the order, how the WZ lines are marked, and that every
// failure is reported and gives everything back.
#include <windows.h>

#include <climits>
#include <cstring>
#include <functional>
#include <map>
#include <regex>

#include "frame/frame_state.h"
#include "reconcile/document_comparison.h"
#include "reconcile/order_choice.h"
#include "reconcile/reconcile_state.h"
#include "reconcile_scenario.h"
#include "system_hooks.h"
#include "tests/support/child_process.h"
#include "tests/support/plugin_library.h"

namespace reconcile_test {
namespace {

// An order line as the host stores it after its line and totals updates: the
// given quantity, and its value recomputed from it (unit price 1.0).
DocumentItem Updated(DocumentItem line, int32_t quantity) {
    line.quantity = quantity;
    const double value = quantity / 1000.0;
    std::memcpy(reinterpret_cast<uint8_t*>(&line) + kVsLineValueOffset, &value, sizeof value);
    return line;
}

void ExpectSameBytes(const void* actual, const void* expected, size_t size, const char* what) {
    EXPECT_EQ(std::memcmp(actual, expected, size), 0) << what;
}

void ExpectStoredLines(int32_t id, const std::vector<DocumentItem>& expected) {
    const std::vector<DocumentItem> stored = StoredLines(id);
    ASSERT_EQ(stored.size(), expected.size()) << "lines of " << id;
    for (size_t i = 0; i < stored.size(); ++i) {
        EXPECT_EQ(stored[i].quantity, expected[i].quantity) << "line " << i << " of " << id;
        ExpectSameBytes(&stored[i], &expected[i], sizeof stored[i], "stored line bytes");
    }
}

// Calls made, by operation; the test lists what it expects and every other
// operation must not have been called at all.
void ExpectCalls(const std::map<int32_t, int>& expected) {
    int total = 0;
    for (const auto& [ordinal, count] : expected) {
        EXPECT_EQ(VsCallCount(ordinal), count) << "calls of ordinal " << ordinal;
        total += count;
    }
    EXPECT_EQ(VsTotalCalls(), total);
}

class DocumentComparison : public HostScenario {};

TEST_F(DocumentComparison, DeductsArticleByArticleCarryingOverToLaterOrderLines) {
    const DocumentHeader other = Patterned(MakeOrder(21, 5, "ZK/20", "inne"));
    const DocumentHeader wz_header = Patterned(MakeHeader(30, 0, 5, "WZ/1"));
    const DocumentHeader order = Patterned(MakeOrder(22, 5, "ZK/21", "Dostawa do magazynu B"));
    const DocumentHeader twin = Patterned(MakeOrder(22, 5, "ZK/99", "drugi z tym numerem"));
    VsAddHeader(&other);
    VsAddHeader(&wz_header);
    VsAddHeader(&order);
    VsAddHeader(&twin);
    const std::vector<DocumentItem> order_lines = Patterned({
        MakeLine("M\x86ka", 8000, 1),
        MakeLine("Cukier", 3000, 2),
        MakeLine("Uwagi: pilne", 0, 0, 0),
        MakeLine("Cukier", 4000, 2),
        MakeLine("S\xA2l", 5000, 3),
        MakeLine("Olej", 3000, 4),
        MakeLine("Ry\xA7", 3000, 5),
        MakeLine("Ry\xA7", 2000, 5),
        MakeLine("Kasza", 1000, 6, 2),
    });
    for (const DocumentItem& line : order_lines)
        VsAddLine(22, &line);
    const DocumentItem other_line = Patterned(MakeLine("M\x86ka", 8000, 1));
    VsAddLine(21, &other_line);

    std::vector<DocumentItem> wz = Patterned({
        MakeLine("M\x86ka", 5000, 1),  // 8 units on the order: 3 stay
        MakeLine("Cukier", 5000, 2),   // 3 and then 4 on the order: 2 stay on the second
        MakeLine("S\xA2l", 5000, 3),   // exactly what the order holds
        MakeLine("Olej", 5000, 4),     // 2 units more than the order holds
        MakeLine("Ry\xA7", 5000, 5),   // 3 and 2: both delivered
        MakeLine("Kasza", 1000, 6),    // on the order only with another variant
        MakeLine("Groch", 1000, 7),    // not on the order
        MakeLine("Transport", 4000, 0, 0),
    });
    const std::vector<DocumentItem> wz_before = wz;
    auto pointers = Pointers(wz);
    char remarks[101];
    std::memset(remarks, '#', sizeof remarks);

    EXPECT_EQ(
        PorownajDokumentyZeSoba(22, pointers.data(), static_cast<int32_t>(wz.size()), remarks), 1);

    EXPECT_EQ(Text(remarks, sizeof remarks), "Dostawa do magazynu B");
    ExpectStoredLines(22, {Updated(order_lines[0], 3000), Updated(order_lines[2], 0),
                           Updated(order_lines[3], 2000), Updated(order_lines[8], 1000)});
    ExpectStoredLines(21, {other_line});

    EXPECT_EQ(Text(wz[3].text), "!2 Olej");
    EXPECT_EQ(Text(wz[5].text), "? Kasza");
    EXPECT_EQ(Text(wz[6].text), "? Groch");
    for (int i : {0, 1, 2, 4})
        EXPECT_EQ(Text(wz[i].text), Text(wz_before[i].text)) << i;
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(wz[i].value_150, 0.0) << i;
        EXPECT_EQ(wz[i].quantity, wz_before[i].quantity) << i;
    }
    ExpectSameBytes(&wz[7], &wz_before[7], sizeof wz[7], "the WZ line without article");

    // The order's header is written back where it was read, with the totals
    // the host recomputed (3 + 2 + 1 units at 1.0), and stays in the buffer.
    DocumentHeader expected_order = order;
    expected_order.gross_value = 60000.0;
    const DocumentHeader stored_order = StoredHeader(2);
    ExpectSameBytes(&stored_order, &expected_order, sizeof order, "order header");
    ExpectSameBytes(RecordBuffer(), &expected_order, sizeof order, "record buffer");
    const DocumentHeader stored[] = {StoredHeader(0), StoredHeader(1), StoredHeader(3)};
    ExpectSameBytes(&stored[0], &other, sizeof other, "other order");
    ExpectSameBytes(&stored[1], &wz_header, sizeof wz_header, "WZ header");
    ExpectSameBytes(&stored[2], &twin, sizeof twin, "later header with the same identifier");

    EXPECT_TRUE(DialogCalls().empty());
    ExpectCalls({
        {kOrdinalHostOpenTable, 2},
        {kOrdinalHostSetTableMode, 2},
        {kOrdinalHostMakeKey, 2},
        {kOrdinalHostFindRange, 2},
        {kOrdinalHostReadAt, 3},  // positions 0 to 2, stopping at the order
        {kOrdinalHostLoadLines, 1},
        {kOrdinalHostRealloc, 1},  // the work lines, given back after the deduction
        {kOrdinalHostFree, 1},
        {kOrdinalHostUpdateLine, 2},   // the two order lines that kept a rest
        {kOrdinalHostUpdateLines, 7},  // once per matching order line handled
        {kOrdinalHostCopyText, 3},     // the three marked WZ lines
        {kOrdinalHostUpdateTotals, 1},
        {kOrdinalHostSaveLines, 1},
        {kOrdinalHostFreeLines, 1},
        {kOrdinalHostFreeRange, 2},
        {kOrdinalHostWriteAt, 1},
    });
}

TEST_F(DocumentComparison, MarkersAndQuantitiesAtTheEdges) {
    const DocumentHeader order = Patterned(MakeOrder(40, 2, "ZK/40", ""));
    VsAddHeader(&order);
    const std::vector<DocumentItem> order_lines = Patterned({
        MakeLine("a", 1000, 1),   // WZ 1.5 units: 0.5 open shows as 0
        MakeLine("b", 1000, 2),   // WZ 3.999 units: 2.999 open shows as 2
        MakeLine("c", 5000, 3),   // WZ -2 units: the order line grows to 7
        MakeLine("d", 0, 4),      // WZ 0 units: an empty order line is cleared
        MakeLine("e", 4000, 5),   // WZ 0 units: reduced by nothing, kept
        MakeLine("f", 3000, 6),   // two WZ lines: the first uses it up, the second is over
        MakeLine("g", 1000, 7),   // WZ 3 units: this one gives its 1 and is cleared ...
        MakeLine("g2", 9000, 7),  // ... and this one the other 2
    });
    for (const DocumentItem& line : order_lines)
        VsAddLine(40, &line);
    std::vector<DocumentItem> wz = Patterned({
        MakeLine("a", 1500, 1),
        MakeLine("b", 3999, 2),
        MakeLine("c", -2000, 3),
        MakeLine("d", 0, 4),
        MakeLine("e", 0, 5),
        MakeLine("f", 3000, 6),
        MakeLine("f", 1000, 6),
        MakeLine("g", 3000, 7),
    });
    auto pointers = Pointers(wz);
    char remarks[101] = "previous";

    EXPECT_EQ(
        PorownajDokumentyZeSoba(40, pointers.data(), static_cast<int32_t>(wz.size()), remarks), 1);

    EXPECT_EQ(Text(remarks), "");
    const char* expected_texts[] = {"!0 a", "!2 b", "c", "d", "e", "f", "!1 f", "g"};
    for (size_t i = 0; i < wz.size(); ++i)
        EXPECT_EQ(Text(wz[i].text), expected_texts[i]) << i;
    ExpectStoredLines(40, {Updated(order_lines[2], 7000), Updated(order_lines[4], 4000),
                           Updated(order_lines[7], 7000)});
    EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLine), 3);  // lines c, e, g2
    EXPECT_EQ(VsCallCount(kOrdinalHostCopyText), 3);
}

TEST_F(DocumentComparison, MarkersAreCutTo120CharactersAndStackOnRepeatedComparison) {
    const DocumentHeader order = Patterned(MakeOrder(41, 2, "ZK/41"));
    VsAddHeader(&order);
    const DocumentItem order_line = Patterned(MakeLine("x", 1000, 1));
    VsAddLine(41, &order_line);
    const std::string long_text(120, 'L');
    std::vector<DocumentItem> wz =
        Patterned({MakeLine(long_text.c_str(), 1000, 9), MakeLine("Mleko", 4000, 1)});
    auto pointers = Pointers(wz);
    char remarks[101];

    EXPECT_EQ(PorownajDokumentyZeSoba(41, pointers.data(), 2, remarks), 1);
    EXPECT_EQ(Text(wz[0].text, sizeof wz[0].text), "? " + long_text.substr(0, 118));
    EXPECT_EQ(Text(wz[1].text), "!3 Mleko");
    EXPECT_TRUE(StoredLines(41).empty());

    // The order's only article line is gone, so its header was cleared and the
    // order cannot be found again; with a fresh order the markers stack.
    const DocumentHeader again = Patterned(MakeOrder(42, 2, "ZK/42"));
    VsAddHeader(&again);
    const DocumentItem again_line = Patterned(MakeLine("x", 1000, 1));
    VsAddLine(42, &again_line);
    EXPECT_EQ(PorownajDokumentyZeSoba(42, pointers.data(), 2, remarks), 1);
    EXPECT_EQ(Text(wz[0].text, sizeof wz[0].text), "? ? " + long_text.substr(0, 116));
    EXPECT_EQ(Text(wz[1].text), "!3 !3 Mleko");
}

TEST_F(DocumentComparison, OrderWithoutArticleLinesLeftHasItsHeaderCleared) {
    const DocumentHeader delivered = Patterned(MakeOrder(50, 3, "ZK/50", "pierwsze"));
    const DocumentHeader notes_only = Patterned(MakeOrder(51, 3, "ZK/51", "drugie"));
    const DocumentHeader open = Patterned(MakeOrder(52, 3, "ZK/52", "trzecie"));
    VsAddHeader(&delivered);
    VsAddHeader(&notes_only);
    VsAddHeader(&open);
    const DocumentItem article = Patterned(MakeLine("Kawa", 2000, 1));
    const DocumentItem note = Patterned(MakeLine("Uwagi", 0, 0, 0));
    VsAddLine(50, &article);
    VsAddLine(50, &note);
    VsAddLine(51, &note);
    VsAddLine(52, &article);

    std::vector<DocumentItem> wz = {Patterned(MakeLine("Kawa", 2000, 1))};
    auto pointers = Pointers(wz);
    char remarks[101];
    EXPECT_EQ(PorownajDokumentyZeSoba(50, pointers.data(), 1, remarks), 1);
    EXPECT_EQ(Text(remarks), "pierwsze");
    EXPECT_TRUE(VsCleared(*RecordBuffer()));
    DocumentHeader stored = StoredHeader(0);
    EXPECT_TRUE(VsCleared(stored));
    ExpectStoredLines(50, {Updated(note, 0)});

    // An order of notes only is cleared by any comparison, even with a WZ
    // without lines; its lines stay as they were.
    EXPECT_EQ(PorownajDokumentyZeSoba(51, nullptr, 0, remarks), 1);
    EXPECT_EQ(Text(remarks), "drugie");
    stored = StoredHeader(1);
    EXPECT_TRUE(VsCleared(stored));
    ExpectStoredLines(51, {Updated(note, 0)});

    // Cleared headers carry no identifier, so the order list skips them.
    EXPECT_EQ(WybierzMM(3), 1);
    ASSERT_EQ(Reconcile.OrderChoice.OrderCandidateList.count, 1);
    EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.entries[0].document_id, 52);
    stored = StoredHeader(2);
    ExpectSameBytes(&stored, &open, sizeof open, "the untouched order");
}

TEST_F(DocumentComparison, FailuresAreReportedAndChangeNothing) {
    const DocumentHeader order = Patterned(MakeOrder(70, 4, "ZK/70", "uwagi zam\xA2wienia"));
    struct Case {
        const char* name;
        std::function<void()> inject;
        bool remarks_filled;
        MessageId message = MessageId::kComparisonDiskError;
        std::vector<std::string> names = {};  // what the message names
        int32_t order_id = 70;
        int32_t order_quantity = 1000;
        int32_t wz_quantity = 5000;
    };
    const Case cases[] = {
        {"header table missing", [] { VsSetOpenTableFails(44, 1); }, false},
        {"line table missing", [] { VsSetOpenTableFails(45, 1); }, false},
        {"no header range", [] { VsFailCall(kOrdinalHostFindRange, 1); }, false},
        {"no line range", [] { VsFailCall(kOrdinalHostFindRange, 2); }, true},
        {"lines not loaded", [] { VsFailCall(kOrdinalHostLoadLines, 1); }, true},
        {"order gone", [] {}, false, MessageId::kOrderGone, {}, 71},
        {"no working memory", [] { VsFailCall(kOrdinalHostRealloc, 1); }, true,
         MessageId::kComparisonAllocationError},
        {"a return past 32 bits",
         [] {},
         true,
         MessageId::kQuantityLimit,
         {"Chleb"},
         70,
         INT32_MAX,
         -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VsReset();
        VsAddHeader(&order);
        const DocumentItem line = Patterned(MakeLine("Chleb", c.order_quantity, 1));
        VsAddLine(70, &line);
        c.inject();
        std::vector<DocumentItem> wz = {Patterned(MakeLine("Chleb", c.wz_quantity, 1))};
        const DocumentItem wz_before = wz[0];
        auto pointers = Pointers(wz);
        char remarks[101] = "bez zmian";

        EXPECT_EQ(PorownajDokumentyZeSoba(c.order_id, pointers.data(), 1, remarks), 0);

        ExpectOnlyError(c.message, c.names);
        EXPECT_EQ(Text(remarks), c.remarks_filled ? "uwagi zam\xA2wienia" : "bez zmian");
        ExpectSameBytes(&wz[0], &wz_before, sizeof wz_before, "WZ line");
        ExpectStoredLines(70, {line});
        const DocumentHeader stored = StoredHeader(0);
        ExpectSameBytes(&stored, &order, sizeof order, "order header");
        EXPECT_EQ(VsCallCount(kOrdinalHostSaveLines), 0);
        EXPECT_EQ(VsCallCount(kOrdinalHostWriteAt), 0);
        EXPECT_EQ(Unreturned(), "");
    }
}

// A line record placed right before a page the process may not touch, so that
// reading past the record ends the test instead of passing unnoticed.
class GuardedLine {
  public:
    GuardedLine() {
        pages_ = static_cast<uint8_t*>(
            VirtualAlloc(nullptr, 2 * kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old;
        VirtualProtect(pages_ + kPage, kPage, PAGE_NOACCESS, &old);
    }
    ~GuardedLine() { VirtualFree(pages_, 0, MEM_RELEASE); }
    DocumentItem* get() {
        return reinterpret_cast<DocumentItem*>(pages_ + kPage - kLineRecordSize);
    }

  private:
    static constexpr size_t kPage = 4096;
    uint8_t* pages_;
};

TEST_F(DocumentComparison, HostTextsWithoutTerminatorStayWithinTheirFields) {
    // Remarks that fill their field, followed by more non-zero bytes.
    DocumentHeader order = Patterned(MakeOrder(80, 6, "ZK/80"));
    std::memset(order.remarks, 'R', sizeof order.remarks);
    VsAddHeader(&order);
    // Quantities and keys without a zero byte, so nothing after an
    // unterminated text stops a read running on to the guard page.
    const int16_t key = 0x0101;
    DocumentItem order_line = Patterned(MakeLine("x", 0x01010101 - 7000, key, key));
    VsAddLine(80, &order_line);

    GuardedLine unknown, excess;
    for (DocumentItem* line : {unknown.get(), excess.get()}) {
        std::memset(line, 'T', sizeof *line);
        line->quantity = 0x01010101;
        line->article_key_second = key;
        line->article_key_first = key;
    }
    unknown.get()->article_key_second = 0x0102;
    DocumentItem* pointers[] = {unknown.get(), excess.get()};
    DocumentItem before[2];
    std::memcpy(&before[0], unknown.get(), sizeof before[0]);
    std::memcpy(&before[1], excess.get(), sizeof before[1]);

    struct {
        char remarks[101];
        char canary[16];
    } out;
    std::memset(&out, 'C', sizeof out);

    EXPECT_EQ(PorownajDokumentyZeSoba(80, pointers, 2, out.remarks), 1);

    EXPECT_EQ(Text(out.remarks, sizeof out.remarks), std::string(100, 'R'));
    EXPECT_EQ(std::string(out.canary, sizeof out.canary), std::string(16, 'C'));
    const std::string texts[] = {"? " + std::string(118, 'T'), "!7 " + std::string(117, 'T')};
    for (int i = 0; i < 2; ++i) {
        const DocumentItem* line = pointers[i];
        EXPECT_EQ(Text(line->text, sizeof line->text), texts[i]) << i;
        // Only the text (and its terminator) and the double at 150 changed.
        DocumentItem expected = before[i];
        std::memcpy(expected.text, texts[i].c_str(), 121);
        expected.value_150 = 0.0;
        ExpectSameBytes(line, &expected, sizeof expected, "marked line");
    }
    EXPECT_TRUE(StoredLines(80).empty());
}

TEST_F(DocumentComparison, AJournalWriteThatFailsHalfWayLosesItsRecordAndNothingElse) {
    const DocumentHeader order = Patterned(MakeOrder(60, 4, "ZK/60", "z dziennikiem"));
    VsAddHeader(&order);
    const std::vector<DocumentItem> order_lines =
        Patterned({MakeLine("Kawa", 5000, 1), MakeLine("Herbata", 2000, 2)});
    for (const DocumentItem& line : order_lines)
        VsAddLine(60, &line);
    const std::string folder = test_host::MakeTemporaryFolder();
    const std::string path = folder + "journal.csv";
    const std::wstring wide(path.begin(), path.end());
    wcscpy(Frame.Diagnostics.JournalFile,
           wide.c_str());  // as a start with the journal on leaves it
    char remarks[101];

    // The first comparison's record is written half: the disk is full. The
    // comparison is done all the same.
    std::vector<DocumentItem> first =
        Patterned({MakeLine("Kawa", 2000, 1), MakeLine("Cukier", 1000, 3)});
    auto pointers = Pointers(first);
    FailWriteHalfWay(1);
    EXPECT_EQ(PorownajDokumentyZeSoba(60, pointers.data(), 2, remarks), 1);
    EXPECT_EQ(WritesSinceArmed(), 1);
    const std::vector<DocumentItem> stored = StoredLines(60);
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].quantity, 3000);
    EXPECT_EQ(stored[1].quantity, 2000);
    EXPECT_EQ(Text(first[1].text), "? Cukier");
    const std::string cut = test_host::ReadBytes(path);
    EXPECT_FALSE(cut.empty());

    // The next record ends the half line first: its own rows stay whole.
    std::vector<DocumentItem> second =
        Patterned({MakeLine("Kawa", 3000, 1), MakeLine("Herbata", 2000, 2)});
    pointers = Pointers(second);
    EXPECT_EQ(PorownajDokumentyZeSoba(60, pointers.data(), 2, remarks), 1);
    RemoveSystemHooks();
    Frame.Diagnostics.JournalFile[0] = 0;
    const std::string journal = test_host::ReadBytes(path);
    ASSERT_EQ(journal.rfind(cut, 0), 0u);
    // A line end, then the record's three rows (two lines and the header
    // removed), each whole; the file skips the header row, as it is not new.
    const std::string rows = journal.substr(cut.size());
    const std::regex whole(
        R"(\r\n(\d{4}-\d\d-\d\d;\d\d:\d\d:\d\d;"";0;"ZK/60";60;[^\r\n]*\r\n){3})");
    EXPECT_TRUE(std::regex_match(rows, whole)) << rows;
    test_host::RemoveFolder(folder);
}

}  // namespace
}  // namespace reconcile_test
