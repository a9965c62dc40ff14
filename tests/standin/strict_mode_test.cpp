// Strict mode: every buffer handed to the plug-in ends at a no-access page. A
// one-byte overrun runs in a child process (this executable again, with
// --strict-child=<case>), which must end with exit code 3 and name the buffer.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "tests/support/child_process.h"
#include "tests/support/host_store.h"

namespace {

constexpr uint32_t kGuardExitCode = 3;
constexpr char kChildOption[] = "--strict-child=";

uint8_t Touch(const void* block, size_t offset) {
    return static_cast<const volatile uint8_t*>(block)[offset];
}

DocumentItem** LoadLines(RangeHandle& range, int32_t& count) {
    DocumentItem line = test_host::MakeLine("Maka", 5000, 11);
    VsAddLine(101, &line);
    VsAddLine(101, &line);
    HostTable* table = HostOpenTable(45);
    KeyBuffer key{};
    HostMakeKey(802, &table, &key, 101);
    range = HostFindRange(802, &key, table, &count);
    DocumentItem** array = nullptr;
    void* aux = nullptr;
    HostLoadLines(&array, &aux, &count, count, table, range);
    return array;
}

// The children's work: stays within its buffers, or reaches one byte too far.
void RunChild(const std::string& name) {
    VsReset();
    VsSetStrict(1);
    void* header_record = HostOpenTable(44)->record;
    if (name == "table-read")
        Touch(header_record, kHeaderRecordSize);
    if (name == "table-write")
        static_cast<volatile uint8_t*>(HostOpenTable(45)->record)[kLineRecordSize] = 1;
    if (name == "line-write" || name == "line-array-read" || name == "in-bounds") {
        RangeHandle range;
        int32_t count = 0;
        DocumentItem** array = LoadLines(range, count);
        if (name == "line-write")
            reinterpret_cast<volatile uint8_t*>(array[1])[kLineRecordSize] = 1;
        if (name == "line-array-read")
            Touch(array, count * sizeof(DocumentItem*));
        Touch(array[1], kLineRecordSize - 1);
        Touch(array, count * sizeof(DocumentItem*) - 1);
    }
    if (name == "heap-write" || name == "heap-freed" || name == "in-bounds") {
        auto* block = static_cast<volatile char*>(HostRealloc(nullptr, 10));
        block[9] = 1;
        if (name == "heap-write")
            block[10] = 1;
        HostFree(const_cast<char*>(block));
        if (name == "heap-freed")
            Touch(const_cast<char*>(block), 0);
    }
    if (name == "selection-read" || name == "in-bounds") {
        DocumentHeader record = test_host::MakeOrder(5, 1, "ZK/5");
        VsAddSelection(1, 1, &record);
        SelectionEntry* entry = HostSelectionEntries()[0];
        Touch(entry, sizeof(SelectionEntry) - 1);
        Touch(entry->record, kHeaderRecordSize - 1);
        if (name == "selection-read")
            Touch(entry->record, kHeaderRecordSize);
    }
    Touch(header_record, kHeaderRecordSize - 1);
    ExitProcess(0);
}

// Runs before the tests: a child does its case and ends.
const bool child = [] {
    const std::string command = GetCommandLineA();
    const size_t at = command.find(kChildOption);
    if (at != std::string::npos) {
        const size_t begin = at + strlen(kChildOption);
        RunChild(command.substr(begin, command.find(' ', begin) - begin));
    }
    return false;
}();

test_host::ChildResult RunChildProcess(const std::string& name) {
    return test_host::RunChildProcess({kChildOption + name});
}

TEST(StrictMode, OneByteOverrunEndsTheProcessNamingTheBuffer) {
    const struct {
        const char* child;
        const char* report;
    } cases[] = {
        {"table-read", "read past the end of record buffer of table 44 (980 bytes"},
        {"table-write", "write past the end of record buffer of table 45 (298 bytes"},
        {"line-write", "write past the end of line (298 bytes"},
        {"line-array-read", "read past the end of line array (8 bytes"},
        {"heap-write", "write past the end of HostRealloc block (10 bytes"},
        {"heap-freed", "read of freed HostRealloc block (10 bytes)"},
        {"selection-read", "read past the end of selection record (980 bytes"},
    };
    for (const auto& overrun : cases) {
        SCOPED_TRACE(overrun.child);
        const test_host::ChildResult result = RunChildProcess(overrun.child);
        EXPECT_EQ(result.exit_code, kGuardExitCode);
        EXPECT_NE(result.output.find(overrun.report), std::string::npos) << result.output;
    }
    const test_host::ChildResult within = RunChildProcess("in-bounds");
    EXPECT_EQ(within.exit_code, 0u);
    EXPECT_EQ(within.output, "");
}

TEST(StrictMode, SwitchingMovesRecordBuffersButNotTablesOrContents) {
    VsReset();
    HostTable* table = HostOpenTable(44);
    auto* record = static_cast<DocumentHeader*>(table->record);
    strcpy(record->remarks, "bez zmian");
    VsSetStrict(1);
    EXPECT_EQ(HostOpenTable(44), table);
    ASSERT_NE(table->record, record);
    EXPECT_STREQ(static_cast<DocumentHeader*>(table->record)->remarks, "bez zmian");
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const auto end = reinterpret_cast<uintptr_t>(table->record) + kHeaderRecordSize;
    EXPECT_EQ(end % system.dwPageSize, 0u) << "the buffer ends at a page boundary";
    MEMORY_BASIC_INFORMATION guard;
    VirtualQuery(reinterpret_cast<void*>(end), &guard, sizeof guard);
    EXPECT_TRUE(guard.State == MEM_RESERVE || guard.Protect == PAGE_NOACCESS)
        << "no access behind it";

    VsReset();
    EXPECT_EQ(HostOpenTable(44), table);
    EXPECT_NE(reinterpret_cast<uintptr_t>(table->record) + kHeaderRecordSize, end)
        << "reset ends strict mode";
}

}  // namespace

namespace {

// Each guarded block costs two memory mappings, and Wine runs into the system's
// limit on mappings at some 30,000 live blocks; a document of 20,000 lines
// still fits, twice over in turn as freed spans are reused.
TEST(StrictMode, LargeDocumentsFitWithEveryLineGuarded) {
    VsReset();
    constexpr int kLines = 20000;
    const DocumentItem line = test_host::MakeLine("Maka", 1000, 11);
    for (int i = 0; i < kLines; ++i)
        VsAddLine(101, &line);
    VsSetStrict(1);
    for (int round = 0; round < 2; ++round) {
        RangeHandle range = nullptr;
        HostTable* table = HostOpenTable(45);
        KeyBuffer key{};
        HostMakeKey(802, &table, &key, 101);
        int32_t count = 0;
        range = HostFindRange(802, &key, table, &count);
        DocumentItem** array = nullptr;
        void* aux = nullptr;
        ASSERT_NE(HostLoadLines(&array, &aux, &count, count, table, range), 0);
        ASSERT_EQ(count, kLines);
        EXPECT_EQ(array[kLines - 1]->quantity, 1000);
        HostFreeLines(&array, &aux, &count, count, table, range);
        HostFreeRange(&range);
    }
    EXPECT_EQ(VsOutstanding(kVsLineArrays), 0);
}

}  // namespace
