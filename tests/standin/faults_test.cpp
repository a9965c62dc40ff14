// Fault injection and accounting: a chosen call fails once with its
// operation's failure value and leaves everything else as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/host_store.h"

namespace {

int32_t HOST_STDCALL Rows(uint32_t row, int32_t) {
    return static_cast<int16_t>(row) == -1 ? 1 : reinterpret_cast<intptr_t>("row");
}

int32_t HOST_STDCALL Command(uint32_t, uint32_t) {
    return 0;
}

class Faults : public ::testing::Test {
  protected:
    void SetUp() override {
        VsReset();
        DocumentHeader order = test_host::MakeOrder(101, 7, "ZK/1");
        VsAddHeader(&order);
        DocumentItem line = test_host::MakeLine("Maka", 5000, 11, 1, 2.0);
        VsAddLine(101, &line);
        headers = HostOpenTable(44);
        lines = HostOpenTable(45);
        HostMakeKey(801, &headers, &header_key, 0);
        HostMakeKey(802, &lines, &line_key, 101);
    }

    HostTable* headers = nullptr;
    HostTable* lines = nullptr;
    KeyBuffer header_key{}, line_key{};
};

TEST_F(Faults, NthCallOfOneOperationFailsOnceAndEveryCallCounts) {
    VsFailCall(kOrdinalHostFindRange, 2);
    int32_t count = -1;
    RangeHandle first = HostFindRange(801, &header_key, headers, &count);
    EXPECT_NE(first, nullptr);
    RangeHandle second = HostFindRange(801, &header_key, headers, &count);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(count, 0);
    RangeHandle third = HostFindRange(801, &header_key, headers, &count);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(VsCallCount(kOrdinalHostFindRange), 3);
    EXPECT_EQ(VsOutstanding(kVsRanges), 2);
    HostFreeRange(&first);
    HostFreeRange(&third);
    EXPECT_EQ(VsOutstanding(kVsRanges), 0);

    // Counting goes on from the moment of the request: the 1st is the next.
    const int before = VsTotalCalls();
    VsFailNthCall(2);
    EXPECT_NE(HostOpenTable(44), nullptr);
    EXPECT_EQ(HostOpenTable(44), nullptr);
    EXPECT_NE(HostOpenTable(44), nullptr);
    EXPECT_EQ(VsTotalCalls(), before + 3);

    // An operation without a failure value only counts the failing call.
    VsFailNthCall(1);
    EXPECT_EQ(HostMakeKey(801, &headers, &header_key, 0), 1);
    first = HostFindRange(801, &header_key, headers, &count);
    EXPECT_NE(first, nullptr);
    HostFreeRange(&first);
}

TEST_F(Faults, EachOperationFailsWithItsFailureValueAndChangesNothing) {
    int32_t count = 0;
    RangeHandle range = HostFindRange(801, &header_key, headers, &count);
    DocumentHeader& buffer = *static_cast<DocumentHeader*>(headers->record);
    memset(&buffer, 0x5A, sizeof buffer);

    VsFailCall(kOrdinalHostReadAt, 1);
    EXPECT_EQ(HostReadAt(nullptr, 0, headers, nullptr, range), 0);
    EXPECT_EQ(buffer.customer, 0x5A5A) << "nothing read";
    VsFailCall(kOrdinalHostWriteAt, 1);
    EXPECT_EQ(HostWriteAt(nullptr, 0, headers, nullptr, range), 0);
    DocumentHeader stored;
    VsGetHeader(0, &stored);
    EXPECT_EQ(stored.document_id, 101) << "nothing written";

    UpdateHandle update = nullptr;
    VsFailCall(kOrdinalHostBeginUpdate, 1);
    EXPECT_EQ(HostBeginUpdate(&header_key, count, &update, 0), 0);
    EXPECT_EQ(update, nullptr);
    int32_t begun = 0;
    HostEndUpdate(0, &update, &range, &begun);
    EXPECT_EQ(VsOutstanding(kVsRanges), 0) << "ending frees the range even so";

    ScanState scan{};
    VsFailCall(kOrdinalHostScanOpen, 1);
    EXPECT_EQ(HostScanOpen(&scan, headers, 801, &header_key, 0, 0), 0);
    HostScanClose(&scan);
    ASSERT_NE(HostScanOpen(&scan, headers, 801, &header_key, 0, 0), 0);
    VsFailCall(kOrdinalHostScanNext, 1);
    EXPECT_EQ(HostScanNext(&scan), 0);
    EXPECT_EQ(HostScanNext(&scan), 1) << "a failed step does not end the scan";
    HostScanClose(&scan);
    EXPECT_EQ(VsOutstanding(kVsScans), 0);

    RangeHandle line_range = HostFindRange(802, &line_key, lines, &count);
    DocumentItem** array = nullptr;
    void* aux = nullptr;
    int32_t loaded = 0;
    VsFailCall(kOrdinalHostLoadLines, 1);
    EXPECT_EQ(HostLoadLines(&array, &aux, &loaded, count, lines, line_range), 0);
    EXPECT_EQ(array, nullptr);
    EXPECT_EQ(loaded, 0);
    EXPECT_NE(aux, nullptr) << "a load failing half-way has handed out its second value";
    EXPECT_EQ(VsOutstanding(kVsLineArrays), 1);
    HostFreeLines(&array, &aux, &loaded, 0, lines, line_range);
    EXPECT_EQ(VsOutstanding(kVsLineArrays), 0) << "HostFreeLines gives it back";
    ASSERT_NE(HostLoadLines(&array, &aux, &loaded, count, lines, line_range), 0);
    *array[0] = test_host::MakeLine("Maka", 3000, 11, 1, 2.0);
    for (int32_t ordinal :
         {kOrdinalHostUpdateLine, kOrdinalHostUpdateLines, kOrdinalHostUpdateTotals})
        VsFailCall(ordinal, 1);
    DocumentHeader header{};
    EXPECT_EQ(HostUpdateLine(0, array[0], &header, 1), 0);
    EXPECT_EQ(HostUpdateLines(array, loaded, &header, 0, 0), 0);
    EXPECT_EQ(HostUpdateTotals(&header, &header, array, loaded), 0);
    EXPECT_EQ(test_host::LineValue(*array[0]), 0.0);
    EXPECT_EQ(header.gross_value, 0.0);
    memset(array[0], 0, sizeof(DocumentItem));
    VsFailCall(kOrdinalHostSaveLines, 1);
    EXPECT_EQ(HostSaveLines(802, lines, array, &loaded, line_range, 0x4100, 0, 1, 0, 0, 0, 0), 0)
        << "a save has no failure to report: it returns 0 with its work done";
    EXPECT_EQ(loaded, 0) << "the cleared line dropped";
    EXPECT_EQ(VsLineCount(101), 0);
    HostFreeLines(&array, &aux, &loaded, loaded, lines, line_range);
    HostFreeRange(&line_range);

    char* block = static_cast<char*>(HostRealloc(nullptr, 4));
    strcpy(block, "abc");
    VsFailCall(kOrdinalHostRealloc, 1);
    EXPECT_EQ(HostRealloc(block, 400), nullptr);
    EXPECT_STREQ(block, "abc") << "the old block stays as it was, and owned";
    EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 1);
    HostFree(block);
    EXPECT_EQ(VsHeapErrors(), 0);

    VsFailCall(kOrdinalHostQuestion, 1);
    EXPECT_EQ(HostQuestion("Uwaga", "%s?", 0x20005, "tak"), 27);
    EXPECT_EQ(HostQuestion("Uwaga", "%s?", 0x20005, "tak"), kAnswerYes);
    int16_t row = 5;
    VsFailCall(kOrdinalHostListDialog, 1);
    const uint32_t definition[2] = {4, 0};
    EXPECT_EQ(HostListDialog(definition, 1002, &row, 0, Rows), kAnswerEscape);
    EXPECT_EQ(row, 5);
    EXPECT_EQ(VsDialogCallAt(VsDialogCallCount() - 1)->rows, 0) << "no row was asked for";

    VsFailCall(kOrdinalHostAddMenuCommand, 1);
    EXPECT_EQ(HostAddMenuCommand(350, Command), 0);
    EXPECT_EQ(VsMenuHandler(350), nullptr);
    VsFailCall(kOrdinalHostOpenTable, 1);
    EXPECT_EQ(HostOpenTable(44), nullptr);

    for (int resource : {kVsRanges, kVsUpdates, kVsScans, kVsLineArrays, kVsHeapBlocks})
        EXPECT_EQ(VsOutstanding(resource), 0) << "resource " << resource;
}

TEST_F(Faults, CallLogHoldsEveryCallWithItsArgumentsAndResult) {
    const int mark = VsTotalCalls();
    KeyBuffer key{};
    EXPECT_EQ(HostMakeKey(801, &headers, &key, 7), 1);
    VsFailCall(kOrdinalHostOpenTable, 1);
    EXPECT_EQ(HostOpenTable(44), nullptr);
    const char* const caption = "Uwaga";
    const char* const format = "%s?";
    EXPECT_EQ(HostQuestion(caption, format, 0x20005, "tak"), kAnswerYes);
    void* block = HostRealloc(nullptr, 8);
    HostFree(block);
    ASSERT_EQ(VsTotalCalls(), mark + 5);

    struct Expected {
        int32_t ordinal;
        std::vector<uint32_t> arguments;
        uint32_t result;
    };
    const auto word = [](const void* pointer) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
    };
    const Expected expected[] = {
        {kOrdinalHostMakeKey, {801, word(&headers), word(&key), 7}, 1},
        {kOrdinalHostOpenTable, {44}, 0},                                       // failed
        {kOrdinalHostQuestion, {word(caption), word(format), 0x20005}, 20481},  // fixed ones
        {kOrdinalHostRealloc, {0, 8}, word(block)},
        {kOrdinalHostFree, {word(block)}, 0},
    };
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const VsCall& call = *VsCallAt(mark + i);
        EXPECT_EQ(call.ordinal, expected[i].ordinal);
        EXPECT_EQ(std::vector<uint32_t>(call.arguments, call.arguments + call.argument_words),
                  expected[i].arguments);
        EXPECT_EQ(call.result, expected[i].result);
        EXPECT_NE(call.returned, 0);
    }
    EXPECT_EQ(VsCallAt(VsTotalCalls()), nullptr);
    VsClearLogs();
    EXPECT_EQ(VsCallAt(0), nullptr);
}

TEST_F(Faults, GivingBackTwiceIsCaughtNotFollowed) {
    void* block = HostRealloc(nullptr, 16);
    HostFree(block);
    HostFree(block);
    EXPECT_EQ(HostRealloc(block, 32), nullptr);
    int local = 0;
    HostFree(&local);
    EXPECT_EQ(VsHeapErrors(), 3);

    int32_t count = 0;
    RangeHandle range = HostFindRange(802, &line_key, lines, &count);
    DocumentItem** array = nullptr;
    void* aux = nullptr;
    int32_t loaded = 0;
    HostLoadLines(&array, &aux, &loaded, count, lines, range);
    DocumentItem** copy = array;
    EXPECT_EQ(HostFreeLines(&array, &aux, &loaded, loaded, lines, range), 1);
    EXPECT_EQ(HostFreeLines(&copy, &aux, &loaded, loaded, lines, range), 0);
    EXPECT_EQ(VsHeapErrors(), 4);
    HostFreeRange(&range);
}

}  // namespace

namespace {

// Every call since from of an operation that named names returned what it
// names: false when none was made.
bool EveryCallReturned(int from, bool (*named)(int32_t), uint32_t mask, uint32_t expected) {
    int calls = 0;
    for (int i = from; i < VsTotalCalls(); ++i) {
        const VsCall& call = *VsCallAt(i);
        if (!named(call.ordinal))
            continue;
        ++calls;
        EXPECT_EQ(call.result & mask, expected) << "operation " << call.ordinal;
    }
    return calls > 0;
}

uint16_t ControlWord() {
    uint16_t control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    return control | 0x40;  // bit 6 may read set
}

uint32_t Mxcsr() {
    uint32_t mxcsr = 0;
    asm volatile("stmxcsr %0" : "=m"(mxcsr));
    return mxcsr & 0xFFC0;  // the control bits
}

int32_t HOST_STDCALL AskingLineHook(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                    uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
    HostQuestion("Uwaga", "%s?", 0x20005, "tak");
    return 0;
}

// What the hooks and callbacks below saw, each run.
struct Seen {
    std::vector<uintptr_t> values;
    int after = 0;  // got past their call of the host, or of the system
} seen;

uintptr_t StackBase() {
    uintptr_t base;
    asm("movl %%fs:4, %0" : "=r"(base));
    return base;
}

int32_t HOST_STDCALL RowsOnTheirStack(uint32_t row, int32_t unused) {
    seen.values.push_back(StackBase());
    return Rows(row, unused);
}

// Records where the record buffer of table 44 is and its record size.
int32_t HOST_STDCALL BufferSeeingHook(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                      uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
    seen.values.push_back(reinterpret_cast<uintptr_t>(VsTable(44)->record));
    seen.values.push_back(static_cast<uintptr_t>(VsTable(44)->record_size));
    return 0;
}

// Writes through this program's import of the system's WriteFile.
int32_t HOST_STDCALL WritingLineHook(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                     uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
    seen.values.push_back(0);
    HANDLE nowhere = CreateFileA("NUL", GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD written = 0;
    WriteFile(nowhere, "x", 1, &written, nullptr);
    CloseHandle(nowhere);
    ++seen.after;
    return 0;
}

// Asks, after taking its thread's identifier through this program's import.
int32_t HOST_STDCALL IdentifyingAskingHook(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                           uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                           uint32_t) {
    seen.values.push_back(GetCurrentThreadId());
    seen.values.push_back(StackBase());
    HostQuestion("Uwaga", "%s?", 0x20005, "tak");
    ++seen.after;
    return 0;
}

}  // namespace

// Each switch of a host variation changes what it names, so that the roads
// run under it really meet another host. A check per switch of
// VS_VARIATION_SWITCHES, named as its field: a new switch does not compile
// here without one. Each runs under its switch alone, and the interface's
// checks once more under every interface switch at once.
TEST_F(Faults, EachVariationChangesWhatItNames) {
    // Calls of operations with open, 16-bit and other-success results, the
    // lines saved with one cleared, a text copied and a list shown.
    int from = 0;
    const auto exercise = [&] {
        from = VsTotalCalls();
        HostSetTableMode(headers, 255);
        int32_t count = 0;
        RangeHandle range = HostFindRange(801, &header_key, headers, &count);
        HostReadAt(nullptr, 0, headers, nullptr, range);
        HostWriteAt(nullptr, 0, headers, nullptr, range);
        HostFreeRange(&range);
        ScanState scan{};
        HostScanOpen(&scan, headers, 801, &header_key, 0, 0);
        HostScanClose(&scan);

        range = HostFindRange(802, &line_key, lines, &count);
        DocumentItem** array = nullptr;
        void* aux = nullptr;
        HostLoadLines(&array, &aux, &count, count, lines, range);
        memset(array[0], 0, sizeof(DocumentItem));
        HostSaveLines(802, lines, array, &count, range, 0x4100, 0, 1, 0, 0, 0, 0);
        int32_t freed = count;
        HostFreeLines(&array, &aux, &freed, count, lines, range);
        HostFreeRange(&range);
        return count;  // the lines saved
    };

    const auto open_results = [&] {
        exercise();
        EXPECT_TRUE(EveryCallReturned(
            from, [](int32_t ordinal) { return VsListed(kVsOpenResultOperations, ordinal); },
            0xFFFFFFFF, kVsGarbage));
    };
    const auto wide_short = [&] {
        exercise();
        EXPECT_TRUE(EveryCallReturned(from, VsShortResult, 0xFFFF0000, 0xBEEF0000));
    };
    const auto other_success = [&] {
        exercise();  // 0xDEADBEEF, or 0xBEEF in 16 bits
        EXPECT_TRUE(EveryCallReturned(
            from, [](int32_t ordinal) { return VsListed(kVsOtherSuccessOperations, ordinal); },
            0xFFFF, 0xBEEF));
    };
    const auto save_lines = [&] {
        EXPECT_EQ(exercise(), 1) << "the cleared line kept";
        EXPECT_EQ(VsLineCount(101), 1);
    };
    const auto copy_zero_fill = [] {
        char text[8];
        memset(text, 'x', sizeof text);
        HostCopyText(text, "ab", 5);
        EXPECT_EQ(std::string(text, sizeof text), std::string("ab\0\0\0\0xx", 8));
    };
    const auto list_rows = [] {
        int16_t row = 0;
        VsQueueAnswer(kOrdinalHostListDialog, 20481, 0);
        HostListDialog(nullptr, 1002, &row, 0, Rows);
        const VsDialogCall& list = *VsDialogCallAt(VsDialogCallCount() - 1);
        EXPECT_EQ(list.rows, 1);
        EXPECT_NE(list.row_texts[0], nullptr) << "the row on screen was asked for";
        EXPECT_EQ(VsOddRowTexts(), 2) << "rows outside the list were asked for and got a text";
    };
    const auto nested_events = [&] {
        const int before = VsNestedEvents(44);
        exercise();
        EXPECT_EQ(VsNestedEvents(44) - before, 1) << "the write raised event 17152";
    };
    const auto x87_control = [] { EXPECT_EQ(ControlWord(), 0x1332 | 0x40); };
    const auto mxcsr = [] { EXPECT_EQ(Mxcsr(), 0x1900u); };
    const auto locale = [] { EXPECT_STRNE(setlocale(LC_ALL, nullptr), "C"); };
    const auto dialog_long_jump = [] {
        VsTable(45)->hook = AskingLineHook;
        ASSERT_EQ(VsOpenDocument(101), 1);
        VsRaiseLineEvent(806);
        EXPECT_EQ(VsCallCount(kOrdinalHostQuestion), 2) << "left once, then the event again";
        EXPECT_EQ(VsCallAt(VsTotalCalls() - 2)->returned, 0) << "the first did not return";
        EXPECT_EQ(VsDialogCallCount(), 1) << "nor went into the dialog log";
    };
    // A line event with hook, what it saw kept in seen.
    const auto raise_with = [](TableEventHook hook) {
        seen = {};
        VsTable(45)->hook = hook;
        ASSERT_EQ(VsOpenDocument(101), 1);
        VsRaiseLineEvent(806);
    };
    const auto reuse_addresses = [&] {
        int32_t count = 0;
        RangeHandle range = HostFindRange(801, &header_key, headers, &count);
        const RangeHandle freed = range;
        HostFreeRange(&range);
        range = HostFindRange(801, &header_key, headers, &count);
        EXPECT_EQ(range, freed) << "the address freed last, handed out first";
        HostFreeRange(&range);
        raise_with(BufferSeeingHook);
        ASSERT_EQ(seen.values.size(), 2u);
        EXPECT_EQ(seen.values[0], reinterpret_cast<uintptr_t>(headers->record))
            << "the record buffer handed out again at its address";
        EXPECT_EQ(seen.values[1], 988u) << "in the event, with a larger record size";
        EXPECT_EQ(headers->record_size, 980);
    };
    const auto release_blocks = [&] {
        SelectionEntry** const first = HostSelectionEntries();
        HostSetTableMode(headers, 255);
        EXPECT_NE(HostSelectionEntries(), first) << "the list handed out anew after an operation";
        const void* const buffer = headers->record;
        raise_with(BufferSeeingHook);
        EXPECT_NE(headers->record, buffer) << "a record buffer elsewhere for the event";
    };
    const auto other_stack = [] {
        seen = {};
        int16_t row = 0;
        HostListDialog(nullptr, 1002, &row, 0, RowsOnTheirStack);
        ASSERT_FALSE(seen.values.empty());
        EXPECT_NE(seen.values[0], StackBase()) << "the rows asked for from another stack";
    };
    const auto write_long_jump = [&] {
        raise_with(WritingLineHook);
        EXPECT_EQ(seen.values.size(), 2u) << "left at its write, then the event again";
        EXPECT_EQ(seen.after, 1);
    };
    const auto thread_reuse = [&] {
        raise_with(IdentifyingAskingHook);
        ASSERT_EQ(seen.values.size(), 4u) << "ended in its question, then on another thread";
        EXPECT_EQ(seen.after, 1);
        EXPECT_EQ(seen.values[0], seen.values[2]) << "the two threads, one identifier";
        EXPECT_NE(seen.values[1], StackBase()) << "neither the thread that raised the event";
        EXPECT_NE(GetCurrentThreadId(), seen.values[0]) << "which has its own again after it";
    };

    struct Switch {
        const char* field;
        VsVariation alone;
        bool of_the_interface;
        std::function<void()> check;
    };
    const Switch switches[] = {
#define SWITCH_CHECK(field, kind, value, name)                                                   \
    {#field, test_host::With(&VsVariation::field, value), kVsSwitch##kind == kVsSwitchInterface, \
     field},
        VS_VARIATION_SWITCHES(SWITCH_CHECK)
#undef SWITCH_CHECK
    };

    const uint16_t control = ControlWord();
    const uint32_t sse = Mxcsr();
    const std::string runtime_locale = setlocale(LC_ALL, nullptr);
    for (const Switch& one : switches) {
        SCOPED_TRACE(one.field);
        SetUp();
        VsSetVariation(&one.alone);
        one.check();
        EXPECT_EQ(test_host::Unreturned(), "");
        asm volatile("fnclex\n\tfldcw %0\n\tldmxcsr %1" : : "m"(control), "m"(sse));
        setlocale(LC_ALL, runtime_locale.c_str());
    }
    SetUp();
    VsSetVariation(&kVsEveryInterfaceVariation);
    for (const Switch& one : switches) {
        SCOPED_TRACE(std::string("all at once: ") + one.field);
        if (one.of_the_interface)
            one.check();
    }
    EXPECT_EQ(test_host::Unreturned(), "");
}

TEST_F(Faults, ProcessStateOfTheVariationIsExpectedAtEveryOperation) {
    VsVariation variation = {};
    variation.x87_control = 0x027F;
    variation.locale = kVsLocalePolish;
    VsSetVariation(&variation);
    EXPECT_EQ(ControlWord(), 0x027F);
    HostSetTableMode(headers, 255);
    EXPECT_EQ(VsProcessStateViolations(), 0);

    // A guest that left its own control word behind.
    const uint16_t other = 0x037F;
    asm volatile("fldcw %0" : : "m"(other));
    HostSetTableMode(headers, 255);
    EXPECT_EQ(VsProcessStateViolations(), 2) << "at the operation, and now";
    setlocale(LC_ALL, "C");
}
