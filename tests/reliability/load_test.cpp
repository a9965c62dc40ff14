// Load: many WZ comparisons and remark writes, one after another in one
// process, as a host that runs all day would make them.
//
// Every iteration puts the shop back as it was (the documents taken from the
// store at the start), compares the WZ with order A through the line event, runs
// command 350 and has the host store the WZ's header, which receives the
// remarks. Nothing the host hands out may stay held, the process's private
// memory may not grow, and every iteration must leave exactly the stored
// bytes that the first one left.
//
// `make test` runs a shortened form. The full run, ten thousand iterations:
//
//     QUENDRIX_LOAD_ITERATIONS=10000 ctest -R Load --output-on-failure
//
// (from the build folder; or run reliability_load_test.exe under Wine with
// the variable set).
#include <windows.h>
// After windows.h, which it needs.
#include <psapi.h>

#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "documentfile/standin_store.h"
#include "reliability_host.h"

namespace reliability {

int RunChild(const std::vector<std::string>&) {
    return 2;  // this program starts no children
}

namespace {

using namespace shop;

constexpr int kDefaultIterations = 300;
// Iterations before the baseline is taken: the plug-in binds its host
// entries on first use and the stand-in's strict heap keeps a bounded history
// of freed blocks, both of which settle within the first few iterations.
constexpr int kWarmUp = 50;
// Growth of private memory tolerated: the C runtime's and Wine's own heaps
// grow in steps of their own (some 128 KiB over ten thousand iterations here).
// A leak of a few hundred bytes per iteration exceeds it in the full run, one
// of some 4 KiB in the short one.
constexpr size_t kToleratedBaseGrowth = 1024 * 1024;
constexpr size_t kToleratedGrowthPerIteration = 100;

int Iterations() {
    const char* text = getenv("QUENDRIX_LOAD_ITERATIONS");
    const int iterations = text != nullptr ? atoi(text) : 0;
    return iterations > 0 ? iterations : kDefaultIterations;
}

// The process's committed private memory. Windows reports it twice, as
// PrivateUsage and as PagefileUsage; Wine fills in only the latter.
size_t PrivateBytes() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
    return counters.PagefileUsage;
}

// What one iteration leaves behind: the store's bytes and the record buffer.
struct Result {
    StoreImage store;
    std::string buffer;
    bool operator==(const Result&) const = default;
};

TEST(Load, ComparisonsAndRemarkWritesLeaveNothingBehind) {
    const int iterations = Iterations();
    FreshHost();
    const Plugin plugin = LoadPlugin();
    std::string why;
    ASSERT_TRUE(StartAndInstall(plugin, why)) << why;
    Seed();
    const document_file::DocumentSet shop = document_file::TakeDocuments();
    const DocumentHeader selected = MakeHeader(1, 1, kCustomer, "ZK 1", "ZK 1/2024 zamówienie"_mz);
    VsAddSelection(1, 1, &selected);
    const std::vector<int32_t> documents = Documents();

    Result first;
    size_t baseline = 0;
    for (int i = 0; i < kWarmUp + iterations; ++i) {
        if (i == kWarmUp)
            baseline = PrivateBytes();
        document_file::PutDocuments(shop);
        ASSERT_EQ(VsOpenDocument(kWz), 1);
        VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, kRowOfA);
        VsRaiseLineEvent(kKeyEditedLines);
        VsRunMenuCommand(kMenuCommand, static_cast<uint16_t>(kAnswerYes), kMenuPhaseConfirmed);
        VsStoreHeader(kVsKeyCustomerHeaders);

        const Result result{ImageOfStore(documents), Bytes(RecordBuffer(), sizeof(DocumentHeader))};
        if (i == 0) {
            first = result;
            // The first iteration did the work: A deducted, the WZ compared
            // and given the selected record's remarks.
            const DocumentHeader wz = StoredHeader(VsFindHeader(kWz));
            ASSERT_EQ(wz.compared_marker, kComparedMarker);
            ASSERT_STREQ(wz.remarks, "ZK 1/2024 zamówienie"_mz);
            ASSERT_EQ(StoredLines(kOrderA).size(), LinesOfAAfterWz().size());
        } else {
            ASSERT_TRUE(result == first) << "iteration " << i << " left other bytes than the first";
        }
        ASSERT_EQ(Unreturned(), "") << "iteration " << i;
        ASSERT_EQ(VsDialogCallCount(), 1) << "iteration " << i << ": only the order list";
        VsClearLogs();
    }
    ASSERT_GT(baseline, 0u) << "the process's private memory cannot be measured";
    const size_t growth = PrivateBytes() > baseline ? PrivateBytes() - baseline : 0;
    EXPECT_LT(growth, kToleratedBaseGrowth + kToleratedGrowthPerIteration * iterations)
        << iterations << " iterations";
    RecordProperty("iterations", iterations);
    RecordProperty("private_bytes_at_start", static_cast<int>(baseline));
    RecordProperty("private_bytes_growth", static_cast<int>(growth));
}

}  // namespace
}  // namespace reliability
