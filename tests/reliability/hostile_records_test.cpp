// Record contents and host answers that a careless reading would trip over:
// texts that fill their field to the last byte, line counts of 0 and below,
// gross values that are not numbers or
// are as large as a double gets, a selection list that changes while the
// plug-in reads it, and documents whose article key is 0 throughout. The
// plug-in is driven as the host drives it, every host buffer in strict mode
// ends at a no-access page, and each case checks what the Parts promise.
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "frame/frame_state.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/plugin_entry.h"
#include "reconcile/reconcile_state.h"
#include "reliability_host.h"

namespace reliability {

int RunChild(const std::vector<std::string>&) {
    return 2;  // this program starts no children
}

namespace {

constexpr int16_t kHostileCustomer = 0x0707;  // no zero byte, so it ends no text early
constexpr int32_t kHostileOrder = 0x0A0A0A0A;
constexpr int32_t kHostileWz = 0x0B0B0B0B;
const std::string kDateText = "05.01.2024";

using plugin_texts::Names;
using plugin_texts::Shows;

class Hostile : public ::testing::Test {
  protected:
    void SetUp() override {
        FreshHost();
        plugin_ = LoadPlugin();
        ASSERT_NE(plugin_.start, nullptr);
    }
    void Install() {
        std::string why;
        ASSERT_TRUE(StartAndInstall(plugin_, why)) << why;
    }
    void TearDown() override { EXPECT_EQ(Unreturned(), ""); }

    // The dialog calls of one operation since the host was reset.
    static std::vector<VsDialogCall> Calls(int32_t ordinal) {
        std::vector<VsDialogCall> calls;
        for (int i = 0; i < VsDialogCallCount(); ++i)
            if (VsDialogCallAt(i)->ordinal == ordinal)
                calls.push_back(*VsDialogCallAt(i));
        return calls;
    }

    Plugin plugin_;
};

DocumentHeader OrderHeader(int32_t id, int32_t second, const char* number, double gross) {
    DocumentHeader header = MakeHeader(id, second, kHostileCustomer, number);
    test_host::SetIssueDate(header, 20240105);
    header.gross_value = gross;
    return header;
}

std::string RowText(const std::string& number, double stored_gross) {
    char value[400];
    snprintf(value, sizeof value, "%.2f", stored_gross * 0.0001);
    return number + "\r" + value + "\r" + kDateText;
}

// A line every byte of which is fill, apart from the quantity and article
// key, none of which holds a zero byte either: a text read that does not
// stop at the field's end runs on to the end of the record.
DocumentItem FilledLine(char fill, int32_t quantity, int16_t article) {
    DocumentItem line;
    memset(&line, fill, sizeof line);
    line.quantity = quantity;
    line.article_key_first = article;
    line.article_key_second = article;
    return line;
}

TEST_F(Hostile, TextsThatFillTheirFieldsToTheLastByte) {
    Install();
    // The order: number and remarks without terminator, and every other byte
    // not zero either, so that only the field's width can stop a read.
    DocumentHeader order;
    memset(&order, 'z', sizeof order);
    memset(order.number, 'N', sizeof order.number);
    memset(order.remarks, 'R', sizeof order.remarks);
    test_host::SetIssueDate(order, 20240105);
    const uint64_t gross_bits = 0x4141414141414141ull;
    memcpy(&order.gross_value, &gross_bits, sizeof gross_bits);
    order.customer = kHostileCustomer;
    order.second_id = 0x0C0C0C0C;
    order.document_id = kHostileOrder;
    AddHeader(order);
    AddLine(kHostileOrder, FilledLine('o', 0x01010101 - 0x01000000, 0x0101));

    // The WZ, compared before: its remarks fill their field too.
    DocumentHeader wz;
    memset(&wz, 'w', sizeof wz);
    memset(wz.remarks, 'Q', sizeof wz.remarks);
    wz.compared_marker = kComparedMarker;
    wz.customer = kHostileCustomer;
    wz.second_id = 0;
    wz.document_id = kHostileWz;
    AddHeader(wz);
    AddLine(kHostileWz, FilledLine('T', 0x01010101, 0x0101));  // more than the order holds
    AddLine(kHostileWz, FilledLine('U', 0x01010101, 0x0202));  // not on the order
    ASSERT_EQ(VsOpenDocument(kHostileWz), 1);

    VsRaiseLineEvent(kKeyEditedLines);

    const std::vector<VsDialogCall> questions = Calls(kOrdinalHostQuestion);
    ASSERT_EQ(questions.size(), 1u);
    EXPECT_TRUE(Names(questions[0], MessageId::kCompareAgain, {std::string(100, 'Q')}));

    const std::vector<VsDialogCall> lists = Calls(kOrdinalHostListDialog);
    ASSERT_EQ(lists.size(), 1u);
    ASSERT_EQ(lists[0].rows, 1);
    EXPECT_EQ(std::string(lists[0].row_texts[0]), RowText(std::string(16, 'N'), order.gross_value));

    // The WZ header: marked, the order's first 100 characters of remarks and
    // a terminator in the remarks' last byte; every other byte as it was.
    DocumentHeader expected = wz;
    expected.compared_marker = kComparedMarker;
    memset(expected.remarks, 'R', 100);
    expected.remarks[100] = 0;
    EXPECT_EQ(Bytes(*RecordBuffer()), Bytes(expected));

    // The WZ lines: marked, cut to 120 characters, terminated within the field.
    const std::vector<DocumentItem> lines = StoredLines(kHostileWz);
    ASSERT_EQ(lines.size(), 2u);
    const int excess = (0x01010101 - (0x01010101 - 0x01000000)) / 1000;
    const std::string excess_marker = "!" + std::to_string(excess) + " ";
    EXPECT_EQ(FieldText(lines[0].text, sizeof lines[0].text),
              excess_marker + std::string(120 - excess_marker.size(), 'T'));
    EXPECT_EQ(FieldText(lines[1].text, sizeof lines[1].text), "? " + std::string(118, 'U'));

    // Command 350 with a selected record whose remarks fill their field, then
    // the host stores the WZ: its stored remarks are those 100 characters.
    DocumentHeader selected;
    memset(&selected, 'p', sizeof selected);
    memset(selected.remarks, 'P', sizeof selected.remarks);
    VsAddSelection(1, 0x01010101, &selected);
    VsRunMenuCommand(kMenuCommand, static_cast<uint16_t>(kAnswerYes), kMenuPhaseConfirmed);
    VsStoreHeader(kVsKeyCustomerHeaders);
    const DocumentHeader stored = StoredHeader(VsFindHeader(kHostileWz));
    EXPECT_EQ(Bytes(stored.remarks, sizeof stored.remarks), std::string(100, 'P') + '\0');
    EXPECT_EQ(Bytes(*RecordBuffer()), Bytes(expected)) << "the record buffer is the host's again";
}

// Event 239 with a line count of the host's own making, the lines in guarded
// memory of the test: the plug-in must not look at any line.
void RaiseWithCount(int32_t count, bool null_array) {
    GuardedBlock count_block(sizeof(int32_t));
    *count_block.as<int32_t>() = count;
    GuardedBlock array(0);  // not a single entry may be read
    const uint32_t args[11] = {
        kEventLines,
        kKeyEditedLines,
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(count_block.as<int32_t>())),
        null_array ? 0u : static_cast<uint32_t>(reinterpret_cast<uintptr_t>(array.as<void>())),
        0,
        static_cast<uint32_t>(reinterpret_cast<uintptr_t>(VsTable(kLineTable))),
        0,
        0,
        0,
        0,
        0};
    VsRaiseEvent(kLineTable, args);
}

TEST_F(Hostile, LineCountsOfZeroAndBelow) {
    Install();
    AddHeader(OrderHeader(kHostileOrder, 1, "ZK 1", 0));
    const DocumentItem order_line = MakeLine("Mąka"_mz, 5000, 3, 1);
    AddLine(kHostileOrder, order_line);
    AddHeader(MakeHeader(kHostileWz, 0, kHostileCustomer, "WZ 1", ""));
    const std::string order_before = Bytes(StoredHeader(0));

    struct Case {
        const char* name;
        int32_t count;
        bool null_array;
        bool compared;  // false: the event is passed on and nothing changes
    };
    for (const Case c :
         {Case{"no lines", 0, false, true}, Case{"no lines, no array", 0, true, true},
          Case{"minus one", -1, false, true}, Case{"most negative", INT32_MIN, false, true},
          Case{"lines, but no array", 3, true, false}}) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(VsOpenDocument(kHostileWz), 1);
        DocumentHeader wz = *RecordBuffer();
        wz.compared_marker = 0;  // compare afresh each time
        *RecordBuffer() = wz;
        const int updates = VsCallCount(kOrdinalHostUpdateLine);  // HostUpdateLine
        const int events = VsHostHookEvents(kLineTable);
        const size_t messages = Calls(kOrdinalHostMessage).size();

        RaiseWithCount(c.count, c.null_array);

        // A comparison with no WZ line: the order keeps its lines and its
        // header; the WZ is marked and takes the order's remarks. Lines
        // without their array cannot be compared: nothing is marked, and the
        // user is told.
        const std::vector<VsDialogCall> shown = Calls(kOrdinalHostMessage);
        ASSERT_EQ(shown.size(), messages + (c.compared ? 0 : 1));
        if (!c.compared) {
            EXPECT_TRUE(Shows(shown.back(), MessageId::kComparisonDiskError));
        }
        EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLine), updates) << "no line to refresh";
        EXPECT_EQ(VsHostHookEvents(kLineTable), events + 1);
        EXPECT_EQ(RecordBuffer()->compared_marker, c.compared ? kComparedMarker : 0);
        ASSERT_EQ(StoredLines(kHostileOrder).size(), 1u);
        EXPECT_EQ(Bytes(StoredLines(kHostileOrder)[0]), Bytes(order_line));
        EXPECT_EQ(Bytes(StoredHeader(0)), order_before);
        EXPECT_EQ(Unreturned(), "");
    }
}

TEST_F(Hostile, GrossValuesThatAreNotNumbersOrAsLargeAsADoubleGets) {
    Install();
    const double values[] = {std::numeric_limits<double>::quiet_NaN(),
                             -std::numeric_limits<double>::quiet_NaN(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             DBL_MAX,
                             -DBL_MAX,
                             1e308,
                             std::numeric_limits<double>::denorm_min(),
                             -0.0};
    int32_t id = 1;
    for (double value : values) {
        char number[17];
        snprintf(number, sizeof number, "ZK %d", id);
        AddHeader(OrderHeader(id, id, number, value));
        AddLine(id, MakeLine("x", 1000, 1, 1));
        ++id;
    }
    AddHeader(MakeHeader(kHostileWz, 0, kHostileCustomer, "WZ 1", ""));
    AddLine(kHostileWz, MakeLine("x", 1000, 1, 1));
    ASSERT_EQ(VsOpenDocument(kHostileWz), 1);
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, 5);  // the row of -DBL_MAX

    VsRaiseLineEvent(kKeyEditedLines);

    const std::vector<VsDialogCall> lists = Calls(kOrdinalHostListDialog);
    ASSERT_EQ(lists.size(), 1u);
    ASSERT_EQ(lists[0].rows, static_cast<int32_t>(std::size(values)));
    for (size_t i = 0; i < std::size(values); ++i) {
        const std::string row = lists[0].row_texts[i];
        EXPECT_EQ(row, RowText("ZK " + std::to_string(i + 1), values[i])) << i;
        EXPECT_LT(row.size(), 512u) << i;
    }
    // The chosen order is compared as any other.
    EXPECT_EQ(StoredLines(6).size(), 0u);
    EXPECT_EQ(StoredHeader(5).document_id, 0) << "used up, so cleared";
    EXPECT_EQ(RecordBuffer()->compared_marker, kComparedMarker);
}

// ------------------------------------------------------------------ the selection list

using SelectionEntriesFunction = SelectionEntry**(__stdcall*)();
using CopyTextFunction = char*(__stdcall*)(char*, const char*, uint16_t);
using LookupFunction = FARPROC(WINAPI*)(HMODULE, LPCSTR);

// The host operations the plug-in binds to, seen through its lookups: the
// selection list can be rebuilt in the middle of either operation, which
// frees the old entries (in strict mode their pages become inaccessible).
struct SelectionScript {
    LookupFunction real_lookup = nullptr;
    SelectionEntriesFunction real_entries = nullptr;
    CopyTextFunction real_copy = nullptr;
    int shrink_in_entries_call = 0;  // the call of HostSelectionEntries that shrinks the list
    int shrink_to = 0;
    int grow_in_copy_call = 0;  // the call of HostCopyText after which an entry is added
    int entries_calls = 0;
    int copy_calls = 0;
    std::vector<DocumentHeader> records;
} script;

void Rebuild(size_t count) {
    VsClearSelection();
    for (size_t i = 0; i < count && i < script.records.size(); ++i)
        VsAddSelection(1, 1, &script.records[i]);
}

SelectionEntry** __stdcall ScriptedEntries() {
    ++script.entries_calls;
    if (script.entries_calls == script.shrink_in_entries_call)
        Rebuild(script.shrink_to);
    return script.real_entries();
}

char* __stdcall ScriptedCopy(char* dest, const char* source, uint16_t limit) {
    char* result = script.real_copy(dest, source, limit);
    if (++script.copy_calls == script.grow_in_copy_call)
        Rebuild(script.records.size());
    return result;
}

FARPROC WINAPI ScriptedLookup(HMODULE module, LPCSTR name) {
    const auto ordinal = reinterpret_cast<uintptr_t>(name);
    if (module == GetModuleHandleA("VELDAN.dll") && ordinal == kOrdinalHostSelectionEntries)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(ScriptedEntries));
    if (module == GetModuleHandleA("VELDAN.dll") && ordinal == kOrdinalHostCopyText)
        return reinterpret_cast<FARPROC>(reinterpret_cast<void*>(ScriptedCopy));
    return script.real_lookup(module, name);
}

// The plug-in's code is linked into this program for these cases, so that the
// script stands in its table of system calls, between the plug-in and its
// lookups of host operations.
class ChangingSelection : public ::testing::Test {
  protected:
    void SetUp() override {
        FreshHost();
        ResetFrameState();
        ResetReconcileState();
        AttachToHost(GetModuleHandleA(nullptr), kProcessAttach);
        HMODULE veldan = GetModuleHandleA("VELDAN.dll");
        script.real_entries = reinterpret_cast<SelectionEntriesFunction>(reinterpret_cast<void*>(
            GetProcAddress(veldan, MAKEINTRESOURCEA(kOrdinalHostSelectionEntries))));
        script.real_copy = reinterpret_cast<CopyTextFunction>(reinterpret_cast<void*>(
            GetProcAddress(veldan, MAKEINTRESOURCEA(kOrdinalHostCopyText))));
        // Before the first call of any host operation, so every binding looks
        // its ordinal up through the script.
        script.real_lookup =
            reinterpret_cast<LookupFunction>(PlatformSystemFunction("GetProcAddress"));
        ASSERT_NE(script.real_lookup, nullptr);
        PlatformReplaceSystemCall("GetProcAddress", reinterpret_cast<void*>(ScriptedLookup));
        char text[64] = {};
        ASSERT_EQ(PluginStart(test_host::HostContext(), text), 0);
        ASSERT_EQ(PluginInstall(0), 0);
        AddHeader(MakeHeader(kHostileWz, 1, kHostileCustomer, "WZ 1", ""));
        ASSERT_EQ(VsOpenDocument(kHostileWz), 1);
    }

    void TearDown() override {
        PluginStart(nullptr, nullptr);
        PlatformReplaceSystemCall(nullptr, nullptr);
        EXPECT_EQ(Unreturned(), "");
    }

    // Runs the confirmed command and stores the WZ; returns its stored remarks.
    std::string CommandAndStore() {
        VsRunMenuCommand(kMenuCommand, static_cast<uint16_t>(kAnswerYes), kMenuPhaseConfirmed);
        VsStoreHeader(kVsKeyCustomerHeaders);
        const DocumentHeader stored = StoredHeader(VsFindHeader(kHostileWz));
        return FieldText(stored.remarks, sizeof stored.remarks);
    }
};

TEST_F(ChangingSelection, ListShrinksWhileItsEntriesAreFetched) {
    // Three entries, the first two without remarks; while the plug-in fetches
    // the entries for the second, the host drops all but the first.
    script.records = {MakeHeader(1, 1, kHostileCustomer, "a", ""),
                      MakeHeader(2, 2, kHostileCustomer, "b", ""),
                      MakeHeader(3, 3, kHostileCustomer, "c", "trzeci")};
    Rebuild(3);
    script.shrink_in_entries_call = 2;
    script.shrink_to = 1;

    EXPECT_EQ(CommandAndStore(), "") << "no entry with remarks was left";
    EXPECT_GE(script.entries_calls, 2);
}

TEST_F(ChangingSelection, ListEmptiedWhileItsEntriesAreFetched) {
    script.records = {MakeHeader(1, 1, kHostileCustomer, "a", "pierwszy")};
    Rebuild(1);
    script.shrink_in_entries_call = 1;
    script.shrink_to = 0;

    EXPECT_EQ(CommandAndStore(), "");
}

TEST_F(ChangingSelection, ListGrowsWhileRemarksAreCopied) {
    // The host adds entries (moving every entry) while the first remarks are
    // copied; the plug-in keeps the first remarks and reads only the new list.
    script.records = {MakeHeader(1, 1, kHostileCustomer, "a", "pierwszy"),
                      MakeHeader(2, 2, kHostileCustomer, "b", "drugi"),
                      MakeHeader(3, 3, kHostileCustomer, "c", "trzeci")};
    Rebuild(1);
    script.grow_in_copy_call = 1;

    EXPECT_EQ(CommandAndStore(), "pierwszy");
    EXPECT_EQ(script.copy_calls, 1) << "remarks are taken from the first qualifying entry only";
}

// ------------------------------------------------------------------ no articles at all

TEST_F(Hostile, DocumentsWhoseArticleKeyIsZeroThroughout) {
    Install();
    AddHeader(OrderHeader(kHostileOrder, 1, "ZK 1", 0));
    const std::vector<DocumentItem> order_lines = {
        MakeLine("Uwaga: towar na zamówienie"_mz, 5000, 0, 1), MakeLine("Transport", 1000, 0, 0)};
    for (const DocumentItem& line : order_lines)
        AddLine(kHostileOrder, line);
    AddHeader(MakeHeader(kHostileWz, 0, kHostileCustomer, "WZ 1", ""));
    std::vector<DocumentItem> wz_lines = {MakeLine("Opis dostawy", 5000, 0, 1),
                                          MakeLine("Transport", 1000, 0, 0)};
    for (DocumentItem& line : wz_lines) {
        line.value_150 = 1.5;
        line.value_202 = 2.5;
        AddLine(kHostileWz, line);
    }
    ASSERT_EQ(VsOpenDocument(kHostileWz), 1);

    VsRaiseLineEvent(kKeyEditedLines);

    // No line is matched, changed or refreshed; the order, having no article
    // line, has its header cleared; its lines are stored as they were.
    EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLine), 0) << "HostUpdateLine";
    const std::vector<DocumentItem> wz = StoredLines(kHostileWz);
    ASSERT_EQ(wz.size(), wz_lines.size());
    for (size_t i = 0; i < wz.size(); ++i)
        EXPECT_EQ(Bytes(wz[i]), Bytes(wz_lines[i])) << i;
    const std::vector<DocumentItem> order = StoredLines(kHostileOrder);
    ASSERT_EQ(order.size(), order_lines.size());
    for (size_t i = 0; i < order.size(); ++i)
        EXPECT_EQ(Bytes(order[i]), Bytes(order_lines[i])) << i;
    EXPECT_EQ(Bytes(StoredHeader(0)), std::string(sizeof(DocumentHeader), '\0'));
    EXPECT_EQ(RecordBuffer()->compared_marker, kComparedMarker);
}

}  // namespace
}  // namespace reliability
