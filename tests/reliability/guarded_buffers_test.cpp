// Strict mode as the plug-in's tests rely on it: every kind of buffer the host
// hands to the plug-in ends exactly at a page boundary with a page behind it
// that may not be touched. The stand-in's own tests make one-byte overruns of
// some kinds fault; this one goes through every kind the plug-in receives,
// including those that only a line event or a grown heap block delivers.
#include <gtest/gtest.h>

#include "reliability_host.h"

namespace reliability {
namespace {

// Empty when the block of size bytes at start ends at a page boundary with an
// inaccessible page behind it; otherwise what is wrong.
std::string Guarded(const void* start, size_t size) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const uintptr_t end = reinterpret_cast<uintptr_t>(start) + size;
    if (end % system.dwPageSize != 0)
        return "does not end at a page boundary";
    MEMORY_BASIC_INFORMATION behind{};
    if (VirtualQuery(reinterpret_cast<const void*>(end), &behind, sizeof behind) == 0)
        return "";  // nothing mapped there at all
    const bool untouchable = behind.State != MEM_COMMIT || (behind.Protect & PAGE_NOACCESS) != 0 ||
                             (behind.Protect & PAGE_GUARD) != 0;
    return untouchable ? "" : "has an accessible page behind it";
}

struct EventBuffers {
    std::vector<std::string> problems;
    int lines = 0;
};
EventBuffers seen;

void Check(const char* what, const void* start, size_t size) {
    const std::string problem = Guarded(start, size);
    if (!problem.empty())
        seen.problems.push_back(std::string(what) + " " + problem);
}

// Takes the place of the plug-in in table 45's hook slot.
int32_t __stdcall InspectLineEvent(uint32_t, uint32_t, uint32_t a3, uint32_t a4, uint32_t, uint32_t,
                                   uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
    const auto* count = reinterpret_cast<const int32_t*>(static_cast<uintptr_t>(a3));
    auto* const* lines = reinterpret_cast<DocumentItem* const*>(static_cast<uintptr_t>(a4));
    Check("the event's line count", count, sizeof *count);
    Check("the event's line array", lines, *count * sizeof(DocumentItem*));
    for (int32_t i = 0; i < *count; ++i)
        Check("a line of the event", lines[i], sizeof(DocumentItem));
    seen.lines = *count;
    return 0;
}

TEST(GuardedBuffers, EveryKindTheHostHandsOutEndsAtANoAccessPage) {
    FreshHost();
    HostTable* headers = VsTable(kHeaderTable);
    HostTable* lines = VsTable(kLineTable);
    EXPECT_EQ(Guarded(headers->record, kHeaderRecordSize), "") << "table 44's record buffer";
    EXPECT_EQ(Guarded(lines->record, kLineRecordSize), "") << "table 45's record buffer";

    // The lines of a line event.
    AddHeader(MakeHeader(5, 0, 1, "WZ 5", ""));
    for (int i = 0; i < 3; ++i)
        AddLine(5, MakeLine("x", 1000, 1, 1));
    ASSERT_EQ(VsOpenDocument(5), 1);
    lines->hook = InspectLineEvent;
    VsRaiseLineEvent(kKeyEditedLines);
    EXPECT_EQ(seen.lines, 3);
    EXPECT_TRUE(seen.problems.empty()) << seen.problems.front();

    // The selection list: its array, every entry and every entry's record.
    const DocumentHeader record = MakeHeader(7, 7, 1, "ZK 7", "uwagi");
    VsAddSelection(1, 1, &record);
    VsAddSelection(1, 1, &record);
    const test_host::DirectHost& host = test_host::Direct();
    SelectionEntry** entries = host.HostSelectionEntries();
    EXPECT_EQ(Guarded(entries, 2 * sizeof(SelectionEntry*)), "") << "the selection list";
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(Guarded(entries[i], sizeof(SelectionEntry)), "") << "selection entry " << i;
        EXPECT_EQ(Guarded(entries[i]->record, sizeof(DocumentHeader)), "") << "its record " << i;
    }

    // Host heap blocks, also as they grow the way the order list grows them.
    void* block = nullptr;
    for (uint32_t size = 40 * 30; size <= 40 * 30 * 100; size += 40 * 30 * 33) {
        block = host.HostRealloc(block, size);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(Guarded(block, size), "") << "a heap block of " << size << " bytes";
    }
    host.HostFree(block);

    // The lines HostLoadLines hands out.
    KeyBuffer key{};
    host.HostMakeKey(kKeyDocumentLines, &lines, &key, 5);
    int32_t count = 0;
    RangeHandle range = host.HostFindRange(kKeyDocumentLines, &key, lines, &count);
    DocumentItem** loaded = nullptr;
    void* aux = nullptr;
    ASSERT_NE(host.HostLoadLines(&loaded, &aux, &count, count, lines, range), 0);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(Guarded(loaded, count * sizeof(DocumentItem*)), "") << "a loaded line array";
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(Guarded(loaded[i], sizeof(DocumentItem)), "") << "loaded line " << i;
    host.HostFreeLines(&loaded, &aux, &count, count, lines, range);
    host.HostFreeRange(&range);
    EXPECT_EQ(Unreturned(), "");
}

}  // namespace
}  // namespace reliability
