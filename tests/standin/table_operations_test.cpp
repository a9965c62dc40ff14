// The stand-in's table operations as the plug-in uses them: keys, ranges,
// reads and writes, updates, scans, line arrays and the line event.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/host_store.h"

namespace {

using test_host::MakeLine;
using test_host::MakeOrder;

class TableOperations : public ::testing::Test {
  protected:
    void SetUp() override {
        VsReset();
        VsAddHeader(&orders[0]);
        VsAddHeader(&orders[1]);
        VsAddHeader(&orders[2]);
        VsAddLine(101, &lines[0]);
        VsAddLine(101, &lines[1]);
        VsAddLine(101, &lines[2]);
        VsAddLine(102, &lines[0]);
    }
    void TearDown() override {
        for (int resource : {kVsRanges, kVsUpdates, kVsScans, kVsLineArrays, kVsHeapBlocks})
            EXPECT_EQ(VsOutstanding(resource), 0) << "resource " << resource;
    }

    static DocumentHeader& Buffer() { return *static_cast<DocumentHeader*>(VsTable(44)->record); }

    DocumentHeader orders[3] = {MakeOrder(101, 7, "ZK/1"), MakeOrder(102, 8, "ZK/2"),
                                MakeOrder(103, 7, "ZK/3")};
    DocumentItem lines[3] = {MakeLine("Maka", 5000, 11, 1, 2.5),
                             MakeLine("Cukier", 2000, 12, 1, 4.0),
                             MakeLine("Sol", 1000, 13, 1, 1.0)};
};

TEST_F(TableOperations, TablesStayInPlaceWithTheirSizesAndHooks) {
    HostTable* headers = HostOpenTable(44);
    HostTable* lines_table = HostOpenTable(45);
    ASSERT_NE(headers, nullptr);
    ASSERT_NE(lines_table, nullptr);
    EXPECT_EQ(headers, VsTable(44));
    EXPECT_EQ(headers->record_size, 980);
    EXPECT_EQ(lines_table->record_size, 298);
    EXPECT_EQ(HostOpenTable(46), nullptr);

    // VsReset restores the same object: the plug-in may hold it across resets.
    VsSetRecordSize(44, 979);
    headers->hook = nullptr;
    VsReset();
    EXPECT_EQ(HostOpenTable(44), headers);
    EXPECT_EQ(headers->record_size, 980);
    ASSERT_NE(headers->hook, nullptr);
    const uint32_t args[11] = {5, 0xFFFF, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    VsSetHostHookResult(44, 77);
    EXPECT_EQ(headers->hook(5, 0xFFFF, 3, 4, 5, 6, 7, 8, 9, 10, 11), 77);
    EXPECT_EQ(VsHostHookEvents(44), 1);
    EXPECT_EQ(memcmp(VsHostHookLastArguments(44), args, sizeof args), 0);

    VsSetOpenTableFails(45, 1);
    EXPECT_EQ(HostOpenTable(45), nullptr);
    VsSetOpenTableFails(45, 0);
    EXPECT_EQ(HostOpenTable(45), lines_table);
}

TEST_F(TableOperations, HeaderRangeReadsAndWritesInStorageOrder) {
    HostTable* table = HostOpenTable(44);
    KeyBuffer key{};
    ASSERT_NE(HostMakeKey(801, &table, &key, 0), 0);
    int32_t count = -1;
    RangeHandle range = HostFindRange(801, &key, table, &count);
    ASSERT_NE(range, nullptr);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(VsOutstanding(kVsRanges), 1);

    for (int32_t i = 0; i < 3; ++i) {
        ASSERT_EQ(HostReadAt(nullptr, i, table, nullptr, range), 1);
        EXPECT_EQ(Buffer().document_id, 101 + i);
    }
    DocumentHeader own{};
    ASSERT_EQ(HostReadAt(nullptr, 1, table, &own, range), 1);
    EXPECT_STREQ(own.number, "ZK/2");
    EXPECT_EQ(HostReadAt(nullptr, 3, table, nullptr, range), 0);
    EXPECT_EQ(HostReadAt(nullptr, -1, table, nullptr, range), 0);
    EXPECT_EQ(HostReadAt(nullptr, 0, HostOpenTable(45), nullptr, range), 0) << "wrong table";

    // A write without a buffer stores the table's current record.
    strcpy(Buffer().remarks, "pilne");
    ASSERT_EQ(HostWriteAt(nullptr, 2, table, nullptr, range), 1);
    DocumentHeader stored;
    ASSERT_EQ(VsGetHeader(2, &stored), 1);
    EXPECT_EQ(test_host::FieldText(stored.remarks, sizeof stored.remarks), "pilne");
    EXPECT_EQ(stored.document_id, 103);

    ASSERT_EQ(HostFreeRange(&range), 1);
    EXPECT_EQ(range, nullptr);
    EXPECT_EQ(VsOutstanding(kVsRanges), 0);
}

TEST_F(TableOperations, StaleOrUnknownHandlesAreRefused) {
    HostTable* table = HostOpenTable(44);
    KeyBuffer key{};
    HostMakeKey(801, &table, &key, 0);
    int32_t count = 0;
    RangeHandle range = HostFindRange(801, &key, table, &count);
    RangeHandle stale = range;
    HostFreeRange(&range);
    EXPECT_EQ(HostReadAt(nullptr, 0, table, nullptr, stale), 0);
    EXPECT_EQ(HostWriteAt(nullptr, 0, table, nullptr, stale), 0);
    EXPECT_EQ(HostFreeRange(&stale), 0);

    // A key made for one key number does not open a range for another, and a
    // key buffer the host never filled opens nothing.
    EXPECT_EQ(HostFindRange(802, &key, table, &count), nullptr);
    EXPECT_EQ(count, 0);
    KeyBuffer blank{};
    EXPECT_EQ(HostFindRange(801, &blank, table, &count), nullptr);
    HostTable* lines_table = HostOpenTable(45);
    EXPECT_EQ(HostMakeKey(801, &lines_table, &key, 0), 0) << "key 801 belongs to table 44";
}

TEST_F(TableOperations, CustomerKeyTakesTheCurrentRecordsCustomer) {
    HostTable* table = HostOpenTable(44);
    Buffer() = orders[2];  // customer 7
    KeyBuffer key{};
    ASSERT_NE(HostMakeKey(kVsKeyCustomerHeaders, &table, &key, 0), 0);
    Buffer() = orders[1];  // the key keeps the value it was made with
    int32_t count = 0;
    RangeHandle range = HostFindRange(kVsKeyCustomerHeaders, &key, table, &count);
    ASSERT_NE(range, nullptr);
    ASSERT_EQ(count, 2);
    HostReadAt(nullptr, 0, table, nullptr, range);
    EXPECT_EQ(Buffer().document_id, 101);
    HostReadAt(nullptr, 1, table, nullptr, range);
    EXPECT_EQ(Buffer().document_id, 103);
    HostFreeRange(&range);
}

TEST_F(TableOperations, UpdateEndedUnsuccessfullyTakesItsWritesBack) {
    HostTable* table = HostOpenTable(44);
    KeyBuffer key{};
    HostMakeKey(801, &table, &key, 0);
    for (int32_t success : {0, 1}) {
        SCOPED_TRACE(success);
        int32_t count = 0;
        RangeHandle range = HostFindRange(801, &key, table, &count);
        UpdateHandle update = nullptr;
        int32_t begun = HostBeginUpdate(&key, count, &update, 0);
        ASSERT_NE(begun, 0);
        ASSERT_NE(update, nullptr);
        EXPECT_EQ(VsOutstanding(kVsUpdates), 1);
        for (int32_t i : {0, 2, 0}) {
            HostReadAt(update, i, table, nullptr, range);
            strcat(Buffer().remarks, "x");
            ASSERT_EQ(HostWriteAt(update, i, table, nullptr, range), 1);
        }
        ASSERT_EQ(HostEndUpdate(success, &update, &range, &begun), 1);
        EXPECT_EQ(update, nullptr);
        EXPECT_EQ(range, nullptr);
        DocumentHeader first, third;
        VsGetHeader(0, &first);
        VsGetHeader(2, &third);
        EXPECT_EQ(test_host::FieldText(first.remarks, sizeof first.remarks), success ? "xx" : "");
        EXPECT_EQ(test_host::FieldText(third.remarks, sizeof third.remarks), success ? "x" : "");
    }

    // The plug-in ends an update that never began, with no handle and no range.
    UpdateHandle none = nullptr;
    RangeHandle no_range = nullptr;
    int32_t begun = 0;
    EXPECT_EQ(HostEndUpdate(0, &none, &no_range, &begun), 1);
}

TEST_F(TableOperations, ScanDeliversEachHeaderIntoTheRecordBuffer) {
    HostTable* table = HostOpenTable(44);
    KeyBuffer key{};
    HostMakeKey(801, &table, &key, 0);
    ScanState scan;
    memset(&scan, 0xCC, sizeof scan);
    Buffer() = orders[1];
    ASSERT_NE(HostScanOpen(&scan, table, 801, &key, 0, 0), 0);
    EXPECT_EQ(Buffer().document_id, 102) << "opening delivers no record";
    EXPECT_EQ(VsOutstanding(kVsScans), 1);
    std::string seen;
    while (HostScanNext(&scan) == 1)
        seen += Buffer().number, seen += ' ';
    EXPECT_EQ(seen, "ZK/1 ZK/2 ZK/3 ");
    EXPECT_EQ(HostScanNext(&scan), 0);
    HostScanClose(&scan);
    EXPECT_EQ(VsOutstanding(kVsScans), 0);

    // A scan that did not open is safe to close, as the plug-in does.
    KeyBuffer blank{};
    ASSERT_EQ(HostScanOpen(&scan, table, 801, &blank, 0, 0), 0);
    EXPECT_EQ(HostScanNext(&scan), 0);
    HostScanClose(&scan);
}

TEST_F(TableOperations, LoadedLinesAreCopiesThatSaveLinesStoresCompacted) {
    HostTable* table = HostOpenTable(45);
    KeyBuffer key{};
    ASSERT_NE(HostMakeKey(802, &table, &key, 101), 0);
    int32_t count = 0;
    RangeHandle range = HostFindRange(802, &key, table, &count);
    ASSERT_NE(range, nullptr);
    ASSERT_EQ(count, 3);

    DocumentItem** array = nullptr;
    void* aux = nullptr;
    int32_t loaded = 0;
    ASSERT_NE(HostLoadLines(&array, &aux, &loaded, count, table, range), 0);
    ASSERT_EQ(loaded, 3);
    EXPECT_EQ(VsOutstanding(kVsLineArrays), 1);
    EXPECT_NE(array[0], array[1]);
    strcpy(array[0]->text, "? Maka");
    EXPECT_EQ(test_host::StoredLineTexts(101), "Maka|Cukier|Sol") << "changes stay in the copy";

    // A cleared line is dropped when storing, and array and count shrink to
    // what was stored.
    DocumentItem* third = array[2];
    memset(array[1], 0, sizeof(DocumentItem));
    ASSERT_NE(HostSaveLines(802, table, array, &loaded, range, 0x4100, 0, 1, 0, 0, 0, 0), 0);
    EXPECT_EQ(loaded, 2);
    EXPECT_EQ(array[1], third);
    EXPECT_EQ(test_host::StoredLineTexts(101), "? Maka|Sol");
    EXPECT_EQ(test_host::StoredLineTexts(102), "Maka") << "another document's lines";

    // A line whose article key is 0 but which is not cleared is kept.
    array[0]->article_key_first = 0;
    HostSaveLines(802, table, array, &loaded, range, 0x4100, 0, 1, 0, 0, 0, 0);
    EXPECT_EQ(VsLineCount(101), 2);

    HostFreeLines(&array, &aux, &loaded, loaded, table, range);
    EXPECT_EQ(array, nullptr);
    EXPECT_EQ(loaded, 0);
    HostFreeRange(&range);
}

TEST_F(TableOperations, LineUpdatesRecomputeValuesAndTheHeaderTotal) {
    DocumentItem first = lines[0], second = lines[1];  // 5 × 2.5, 2 × 4.0
    DocumentItem* array[2] = {&first, &second};
    DocumentHeader header = orders[0];
    ASSERT_NE(HostUpdateLine(0, &first, &header, 1), 0);
    EXPECT_DOUBLE_EQ(test_host::LineValue(first), 12.5);
    EXPECT_EQ(header.gross_value, 0.0) << "a single line leaves the header alone";

    second.quantity = 1500;
    ASSERT_NE(HostUpdateLines(array, 2, &header, 0, 0), 0);
    EXPECT_DOUBLE_EQ(test_host::LineValue(second), 6.0);
    EXPECT_DOUBLE_EQ(header.gross_value, 185000.0);

    memset(&second, 0, sizeof second);
    ASSERT_NE(HostUpdateTotals(&header, &header, array, 2), 0);
    EXPECT_DOUBLE_EQ(header.gross_value, 125000.0);
}

// A hook in table 45's slot, standing in for the plug-in: marks the first line,
// clears the second and saves under 806 as the plug-in's line hook does.
uint32_t seen_args[11];
int32_t HOST_STDCALL SavingLineHook(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4,
                                    uint32_t a5, uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9,
                                    uint32_t a10, uint32_t a11) {
    const uint32_t args[11] = {event, key, a3, a4, a5, a6, a7, a8, a9, a10, a11};
    memcpy(seen_args, args, sizeof args);
    auto* count = reinterpret_cast<int32_t*>(a3);
    auto** lines = reinterpret_cast<DocumentItem**>(a4);
    if (*count >= 2) {
        lines[0]->text[0] = '!';
        memset(lines[1], 0, sizeof(DocumentItem));
    }
    return HostSaveLines(806, reinterpret_cast<HostTable*>(a6), lines, count,
                         reinterpret_cast<RangeHandle>(a8), 0x4100, 0, 1, 0, 0, 0, 0) == 1
               ? 55
               : -55;
}

TEST_F(TableOperations, LineEventPassesTheEditedLinesAndStoresWhatTheHookSaves) {
    ASSERT_EQ(VsOpenDocument(101), 1);
    EXPECT_EQ(Buffer().document_id, 101);
    VsTable(45)->hook = SavingLineHook;
    EXPECT_EQ(VsRaiseLineEvent(kKeyEditedLines), 55);
    EXPECT_EQ(seen_args[0], 239u);
    EXPECT_EQ(seen_args[1], 806u);
    EXPECT_EQ(seen_args[5], reinterpret_cast<uintptr_t>(VsTable(45)));
    EXPECT_NE(seen_args[7], 0u) << "the range of the lines";
    EXPECT_EQ(seen_args[4] | seen_args[6] | seen_args[8] | seen_args[9] | seen_args[10], 0u);
    EXPECT_EQ(test_host::StoredLineTexts(101), "!aka|Sol");
    EXPECT_EQ(VsLineCount(102), 1);

    // Storing the header: the record buffer goes to the edited document's
    // position, then event 17152 reaches table 44's hook with the key.
    strcpy(Buffer().remarks, "ZK/1 z 3 marca");
    EXPECT_EQ(VsStoreHeader(kVsKeyCustomerHeaders), 0);
    DocumentHeader stored;
    VsGetHeader(0, &stored);
    EXPECT_EQ(test_host::FieldText(stored.remarks, sizeof stored.remarks), "ZK/1 z 3 marca");
    EXPECT_EQ(VsHostHookEvents(44), 1);
    EXPECT_EQ(VsHostHookLastArguments(kHeaderTable)[0], kEventHeaderStored);
    EXPECT_EQ(VsHostHookLastArguments(44)[1], 800u);
}

}  // namespace
