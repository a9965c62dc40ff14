// The benchmark's shops at a small size: each stage must do, run after run,
// the work it claims to time, or its figures mean nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "bench/bench_support.h"
#include "reconcile/order_choice.h"
#include "reconcile/reconcile_state.h"
#include "standin/veldan_control.h"

namespace {

using namespace bench;

TEST(BenchShops, TheRoadWalksToTheCustomersLastOrderAndCanBeRunAgain) {
    Plugin plugin;
    std::string why;
    ASSERT_TRUE(LoadPlugin(plugin, why)) << why;
    constexpr int kHeaders = 1000;
    const RoadShop shop = SeedRoadShop(kHeaders);
    UseSettingsFile();
    ASSERT_TRUE(StartAndInstall(plugin, why)) << why;

    // The order the user confirms lies among the last headers, so the
    // comparison's walk covers nearly the whole table.
    EXPECT_GE(shop.order_position, kHeaders - 1 - kRoadCustomers);
    EXPECT_EQ(shop.customer_orders, (kHeaders - 2) / kRoadCustomers + 1);

    for (int run = 0; run < 3; ++run) {
        SCOPED_TRACE(run);
        PrepareRoad(shop);
        const int scans = VsCallCount(kOrdinalHostScanNext);
        const int reads = VsCallCount(kOrdinalHostReadAt);
        RunRoad();
        EXPECT_TRUE(RoadDone(shop, why)) << why;
        EXPECT_EQ(VsCallCount(kOrdinalHostScanNext) - scans, kHeaders + 1);
        EXPECT_EQ(VsCallCount(kOrdinalHostReadAt) - reads, shop.order_position + 1);
    }
    StopPlugin(plugin);
    RemoveSettings();

    // Without the plug-in the stage's baseline makes the same bulk of reads.
    const int scans = VsCallCount(kOrdinalHostScanNext);
    const int reads = VsCallCount(kOrdinalHostReadAt);
    RunBareRoad(shop);
    EXPECT_EQ(VsCallCount(kOrdinalHostScanNext) - scans, kHeaders + 1);
    EXPECT_EQ(VsCallCount(kOrdinalHostReadAt) - reads, shop.order_position + 1);
    EXPECT_EQ(VsOutstanding(kVsScans), 0);
    EXPECT_EQ(VsOutstanding(kVsRanges), 0);
}

TEST(BenchShops, TheRoadCheckNoticesARoadThatDidNothing) {
    Plugin plugin;
    std::string why;
    ASSERT_TRUE(LoadPlugin(plugin, why)) << why;
    const RoadShop shop = SeedRoadShop(300);
    // Not installed: the event reaches only the host's own hook.
    PrepareRoad(shop);
    RunRoad();
    EXPECT_FALSE(RoadDone(shop, why));
    EXPECT_FALSE(why.empty());
}

TEST(BenchShops, EveryWzLineDeliversPartOfItsOwnOrderLineInEveryRun) {
    ASSERT_TRUE(BindCoreToHost());
    constexpr int kLines = 40;
    ComparisonShop shop;
    SeedComparisonShop(shop, kLines);
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        PrepareComparison(shop);
        const int updates = VsCallCount(kOrdinalHostUpdateLine);
        const int matches = VsCallCount(kOrdinalHostUpdateLines);
        ASSERT_EQ(RunComparison(shop), 1);
        std::string why;
        EXPECT_TRUE(ComparisonDone(shop, why)) << why;
        // One match per WZ line, each reducing the order line without
        // clearing it.
        EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLine) - updates, kLines);
        EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLines) - matches, kLines);
    }
}

TEST(BenchShops, TheOrderListListsTheCustomersOrdersOnlyAndIsReleased) {
    ASSERT_TRUE(BindCoreToHost());
    constexpr int kOrders = 95;
    SeedOrderListShop(kOrders);
    EXPECT_EQ(VsHeaderCount(), 2 * kOrders);

    const int reallocs = VsCallCount(kOrdinalHostRealloc);
    EXPECT_EQ(RunOrderList(), kOrders);
    EXPECT_EQ(VsCallCount(kOrdinalHostRealloc) - reallocs, 4);
    EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.entries, nullptr);

    const int dialogs = VsDialogCallCount();
    EXPECT_EQ(RunOrderChoiceCancelled(), 0);
    ASSERT_EQ(VsDialogCallCount(), dialogs + 1);
    EXPECT_EQ(VsDialogCallAt(dialogs)->rows, kOrders);
    EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 0);
}

TEST(BenchShops, GrowthExponentsTellLinearFromQuadratic) {
    EXPECT_NEAR(GrowthExponent(1000, 2.0, 100000, 200.0), 1.0, 1e-9);
    EXPECT_NEAR(GrowthExponent(100, 1.0, 1000, 100.0), 2.0, 1e-9);
    EXPECT_NEAR(GrowthExponent(1000, 100.0, 10, 1.0), 1.0, 1e-9) << "order of sizes";
    EXPECT_TRUE(std::isnan(GrowthExponent(10, 0.0, 100, 1.0)));
    EXPECT_TRUE(std::isnan(GrowthExponent(10, 1.0, 10, 1.0)));
}

}  // namespace
