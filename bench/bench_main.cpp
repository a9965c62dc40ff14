// The benchmark: what the plug-in costs next to the host, at scale.
//
// 1. A bound host call through the binding layer against a direct call of the
//    same host function.
// 2. The whole Ctrl+9 road over header tables of 1,000 to 100,000 headers,
//    split into the time inside the host's operations and the plug-in's own.
// 3. The comparison of a WZ and an order of 10 to 1,000 lines each.
// 4. The order list of a customer with 1,000 and 10,000 orders.
//
// Every figure is the median of several runs, timed with
// QueryPerformanceCounter. The exit code is 1 when a limit is missed or a
// stage grows faster than its algorithm allows, 2 when a stage did not do
// the work it is supposed to measure.
//
// How the host's share is measured: the stand-in adds the time that each of
// its operations runs to an account (VsSetTiming, VsHostTime), leaving out the
// plug-in's callbacks, and reads its clock behind a fence so that no memory
// wait of an operation slips past the end of it. It measures what reading the
// clock costs when timing is switched on, books each operation net of the
// part of that cost inside it, and keeps the whole cost on a second account
// (VsHostClockTime). Each measurement alternates untimed runs, which give the
// true total, with timed runs; in a timed run the plug-in's time is its wall
// time less the clock's cost less the host's account. The plug-in's share is
// that time against the untimed total: the fences keep the plug-in's code
// from running in the shadow of the host's memory waits, so this is its full
// cost, an upper estimate. The column t/u shows how much slower a timed run
// is, the clock's cost taken off, than an untimed one.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "standin/veldan_control.h"

using namespace bench;

namespace {

constexpr double kBoundCallLimit = 1.05;
constexpr double kPluginShareLimit = 0.10;
// Exponents above these mean a stage grows faster than its algorithm: halfway
// between the expected power and the next one.
constexpr double kLinearLimit = 1.5;
constexpr double kQuadraticLimit = 2.5;
// Host calls follow the algorithm exactly; only a constant part may differ.
constexpr double kLinearCallLimit = 1.05;

double cycles_per_tick = 1;

struct Check {
    std::string what;
    bool ok;
};
std::vector<Check> checks;

void Require(bool ok, const std::string& what) {
    checks.push_back({what, ok});
}

[[noreturn]] void Broken(const std::string& stage, const std::string& why) {
    std::printf("\n%s did not do its work: %s\n", stage.c_str(), why.c_str());
    std::fflush(stdout);
    RemoveSettings();
    std::exit(2);
}

std::string Grouped(long long value) {
    std::string digits = std::to_string(value);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3)
        digits.insert(static_cast<size_t>(at), ",");
    return digits;
}

const char* Verdict(bool ok) {
    return ok ? "ok" : "EXCEEDED";
}

// ------------------------------------------------------------------ 1. bound call

using VersionCall = int32_t(HOST_STDCALL*)(void);
volatile int32_t sink;

// The two loops differ only in the call: the plug-in's own call of the
// operation by its name, which lands on the forwarding stub and jumps on from
// there, and a call through the host function's address, as a caller that
// looked the ordinal up itself would make it. Both are kept out of inlining
// and constant propagation, and a call into another module cannot be hoisted.
__attribute__((noipa)) int64_t TimeBoundCalls(int count) {
    int32_t sum = 0;
    const int64_t start = Ticks();
    for (int i = 0; i < count; ++i)
        sum += HostInterfaceVersion();
    const int64_t end = Ticks();
    sink = sum;
    return end - start;
}

__attribute__((noipa)) int64_t TimeDirectCalls(VersionCall call, int count) {
    int32_t sum = 0;
    const int64_t start = Ticks();
    for (int i = 0; i < count; ++i)
        sum += call();
    const int64_t end = Ticks();
    sink = sum;
    return end - start;
}

void BoundCall() {
    // Short rounds, so that few of them are hit by another process taking the
    // processor; the median of the rounds' ratios ignores those that are.
    constexpr int kCalls = 50000;
    constexpr int kRounds = 101;
    const auto direct = reinterpret_cast<VersionCall>(reinterpret_cast<void*>(GetProcAddress(
        GetModuleHandleA("VELDAN.dll"), MAKEINTRESOURCEA(kOrdinalHostInterfaceVersion))));
    if (direct == nullptr || !BindCoreToHost())
        Broken("The bound-call stage", "VELDAN.dll lacks HostInterfaceVersion");
    VsReset();
    // The first bound call binds the entry; neither measurement may include it.
    if (HostInterfaceVersion() != kInterfaceVersion || direct() != kInterfaceVersion)
        Broken("The bound-call stage", "HostInterfaceVersion answered wrongly");
    TimeDirectCalls(direct, kCalls);
    TimeBoundCalls(kCalls);

    std::vector<double> direct_ns, bound_ns, extra_ns, ratios;
    const double ns_per_tick = 1e9 / TicksPerSecond();
    for (int round = 0; round < kRounds; ++round) {
        // Alternating which goes first cancels a drift of the machine's speed.
        double d, b;
        if (round % 2 == 0) {
            d = static_cast<double>(TimeDirectCalls(direct, kCalls));
            b = static_cast<double>(TimeBoundCalls(kCalls));
        } else {
            b = static_cast<double>(TimeBoundCalls(kCalls));
            d = static_cast<double>(TimeDirectCalls(direct, kCalls));
        }
        direct_ns.push_back(d * ns_per_tick / kCalls);
        bound_ns.push_back(b * ns_per_tick / kCalls);
        extra_ns.push_back(bound_ns.back() - direct_ns.back());
        ratios.push_back(b / d);
    }
    const double ratio = Median(ratios);
    std::printf("1. Bound host call: HostInterfaceVersion, %s calls x %d rounds\n",
                Grouped(kCalls).c_str(), kRounds);
    std::printf("   direct call (GetProcAddress by ordinal)   %8.2f ns/call\n", Median(direct_ns));
    std::printf("   through the binding layer                 %8.2f ns/call (%+.2f ns)\n",
                Median(bound_ns), Median(extra_ns));
    std::printf("   ratio bound/direct (median of rounds)     %8.3f   limit %.2f  %s\n\n", ratio,
                kBoundCallLimit, Verdict(ratio <= kBoundCallLimit));
    Require(ratio <= kBoundCallLimit, "bound call within 5 % of a direct call");
}

// ------------------------------------------------------------------ split timing

struct Split {
    double total_ms = 0;     // untimed runs: the true time
    double host_ms = 0;      // timed runs: inside the host's operations
    double plugin_ms = 0;    // timed runs: outside them, the clock's cost taken off
    double timed_ratio = 0;  // timed runs, the clock's cost taken off, against untimed ones
    double calls = 0;        // host operations of one run

    // The plug-in's time against the true total. Reading the clock behind a
    // fence keeps the processor from overlapping the host's memory waits with
    // the plug-in's next instructions, so the plug-in's time measured this way
    // is its full serial cost, and the share is an upper estimate.
    double Share() const { return total_ms > 0 ? plugin_ms / total_ms : 0; }
};

double CyclesToMs(int64_t cycles) {
    return TicksToMs(static_cast<double>(cycles) / cycles_per_tick);
}

// Runs alternate untimed and timed. The untimed ones give the true total; each
// timed one is split into host and plug-in time on its own, so that what
// slows a run down shows in both parts of the same run.
template <typename Prepare, typename Run>
Split MeasureSplit(int runs, Prepare prepare, Run run) {
    std::vector<double> untimed, timed, host, plugin, calls;
    for (int i = 0; i < runs; ++i) {
        for (int timing = 0; timing <= 1; ++timing) {
            prepare();
            const int calls_before = VsTotalCalls();
            VsSetTiming(timing);
            const int64_t host_before = VsHostTime();
            const int64_t clock_before = VsHostClockTime();
            const int64_t start = Ticks();
            run();
            const int64_t end = Ticks();
            const double host_ms = CyclesToMs(VsHostTime() - host_before);
            const double clock_ms = CyclesToMs(VsHostClockTime() - clock_before);
            VsSetTiming(0);
            const double ms = TicksToMs(static_cast<double>(end - start));
            if (timing == 0) {
                untimed.push_back(ms);
                calls.push_back(VsTotalCalls() - calls_before);
                continue;
            }
            timed.push_back(ms - clock_ms);
            host.push_back(host_ms);
            plugin.push_back(std::max(0.0, ms - clock_ms - host_ms));
        }
    }
    Split split;
    split.total_ms = Median(untimed);
    split.host_ms = Median(host);
    split.plugin_ms = Median(plugin);
    split.timed_ratio = split.total_ms > 0 ? Median(timed) / split.total_ms : 0;
    split.calls = Median(calls);
    return split;
}

// ------------------------------------------------------------------ 2. Ctrl+9 road

void Ctrl9Road(const Plugin& plugin) {
    const int sizes[] = {1000, 10000, 100000};
    const int runs[] = {21, 15, 11};
    std::printf("2. Ctrl+9 road, confirmed order = the customer's last (%d customers, %d lines)\n",
                kRoadCustomers, kRoadLines);
    std::printf("   %9s %9s %10s %9s %9s %9s %9s %7s %10s %7s\n", "headers", "total ms",
                "ns/header", "host ms", "outside", "bare", "plug-in", "share", "calls/hdr",
                "listed");
    std::vector<double> totals, calls;
    double largest_share = 0;
    for (int s = 0; s < 3; ++s) {
        const int headers = sizes[s];
        const RoadShop shop = SeedRoadShop(headers);
        std::string why;
        if (!StartPlugin(plugin, why))
            Broken("The Ctrl+9 road", why);
        PrepareRoad(shop);
        RunRoad();
        if (!RoadDone(shop, why))
            Broken("The Ctrl+9 road at " + Grouped(headers) + " headers", why);
        const Split road = MeasureSplit(
            runs[s], [&] { PrepareRoad(shop); }, [] { RunRoad(); });
        StopPlugin(plugin);
        const Split bare = MeasureSplit(
            runs[s], [] {}, [&] { RunBareRoad(shop); });

        const double own_ms = std::max(0.0, road.plugin_ms - bare.plugin_ms);
        const double share = road.total_ms > 0 ? own_ms / road.total_ms : 0;
        totals.push_back(road.total_ms);
        calls.push_back(road.calls);
        std::printf("   %9s %9.3f %10.1f %9.3f %9.3f %9.3f %9.3f %6.1f%% %10.3f %7s\n",
                    Grouped(headers).c_str(), road.total_ms, road.total_ms * 1e6 / headers,
                    road.host_ms, road.plugin_ms, bare.plugin_ms, own_ms, 100 * share,
                    road.calls / headers, Grouped(shop.customer_orders).c_str());
        largest_share = share;
    }
    std::printf(
        "   outside: the road's time outside the host's operations; bare: the same for a\n"
        "   caller that makes the road's reads and nothing else; plug-in: the difference\n");
    // The host calls show the algorithm itself; the time adds the machine's
    // caches, which the 98 MB store of the largest table no longer fits.
    const double growth = GrowthExponent(sizes[0], totals[0], sizes[2], totals[2]);
    const double call_growth = GrowthExponent(sizes[0], calls[0], sizes[2], calls[2]);
    const bool linear = growth <= kLinearLimit && call_growth <= kLinearCallLimit;
    std::printf(
        "   growth exponent 1,000->100,000: time %.2f, host calls %.2f "
        "(linear walk: 1; limits %.1f, %.2f)  %s\n",
        growth, call_growth, kLinearLimit, kLinearCallLimit, Verdict(linear));
    std::printf("   plug-in share at 100,000 headers: %.1f %%, limit %.0f %%  %s\n\n",
                100 * largest_share, 100 * kPluginShareLimit,
                Verdict(largest_share < kPluginShareLimit));
    Require(linear, "Ctrl+9 road linear in the headers");
    Require(largest_share < kPluginShareLimit, "plug-in share of Ctrl+9 at 100,000 under 10 %");
}

// ------------------------------------------------------------------ 3. comparison

void Comparison() {
    const int sizes[] = {10, 100, 1000};
    const int runs[] = {41, 21, 7};
    std::printf(
        "3. Comparison (PorownajDokumentyZeSoba): WZ and order of n lines each,\n"
        "   WZ line i matching order line n-1-i, every line partly delivered\n");
    std::printf("   %9s %9s %12s %9s %9s %9s %10s\n", "lines", "total ms", "ns/pair", "host ms",
                "outside", "outside%", "host calls");
    std::vector<double> totals;
    ComparisonShop shop;
    for (int s = 0; s < 3; ++s) {
        const int lines = sizes[s];
        SeedComparisonShop(shop, lines);
        std::string why;
        PrepareComparison(shop);
        if (RunComparison(shop) != 1 || !ComparisonDone(shop, why))
            Broken("The comparison of " + Grouped(lines) + " lines",
                   why.empty() ? "it failed" : why);
        const Split split = MeasureSplit(
            runs[s], [&] { PrepareComparison(shop); }, [&] { RunComparison(shop); });
        totals.push_back(split.total_ms);
        std::printf("   %9s %9.3f %12.2f %9.3f %9.3f %8.1f%% %10s\n", Grouped(lines).c_str(),
                    split.total_ms, split.total_ms * 1e6 / (double(lines) * lines), split.host_ms,
                    split.plugin_ms, 100 * split.Share(),
                    Grouped(static_cast<long long>(split.calls)).c_str());
    }
    const double growth = GrowthExponent(sizes[1], totals[1], sizes[2], totals[2]);
    std::printf("   outside: time outside the host's operations, the plug-in's matching loop\n");
    std::printf(
        "   growth exponent 100->1,000 lines: %.2f (O(WZ lines x order lines) by design: "
        "2; limit %.1f)  %s\n\n",
        growth, kQuadraticLimit, Verdict(growth <= kQuadraticLimit));
    Require(growth <= kQuadraticLimit, "comparison no worse than WZ lines x order lines");
}

// ------------------------------------------------------------------ 4. order list

void OrderList() {
    const int sizes[] = {1000, 10000};
    const int runs[] = {21, 9};
    std::printf("4. Order list of one customer (WybierzMM over twice as many headers)\n");
    std::printf("   %9s %10s %9s %11s %9s %9s %8s %13s\n", "orders", "reallocs", "expected",
                "build ms", "ns/order", "host ms", "outside%", "with list ms");
    std::vector<double> per_order;
    bool reallocs_ok = true;
    for (int s = 0; s < 2; ++s) {
        const int orders = sizes[s];
        SeedOrderListShop(orders);
        const int reallocs_before = VsCallCount(kOrdinalHostRealloc);
        if (RunOrderList() != orders)
            Broken("The order list of " + Grouped(orders) + " orders", "not every order listed");
        const int reallocs = VsCallCount(kOrdinalHostRealloc) - reallocs_before;
        const int expected = (orders + kListGrowth - 1) / kListGrowth;
        reallocs_ok = reallocs_ok && reallocs == expected;

        const Split build = MeasureSplit(
            runs[s], [] {}, [] { RunOrderList(); });
        const int dialogs_before = VsDialogCallCount();
        RunOrderChoiceCancelled();
        if (VsDialogCallCount() != dialogs_before + 1 ||
            VsDialogCallAt(dialogs_before)->rows != orders || VsOutstanding(kVsHeapBlocks) != 0)
            Broken("The order choice of " + Grouped(orders) + " orders",
                   "the list was not shown whole or not released");
        const Split shown = MeasureSplit(
            runs[s], [] {}, [] { RunOrderChoiceCancelled(); });

        per_order.push_back(build.total_ms * 1e6 / orders);
        std::printf("   %9s %10s %9s %11.3f %9.1f %9.3f %7.1f%% %13.3f\n", Grouped(orders).c_str(),
                    Grouped(reallocs).c_str(), Grouped(expected).c_str(), build.total_ms,
                    per_order.back(), build.host_ms, 100 * build.Share(), shown.total_ms);
    }
    const double growth =
        GrowthExponent(sizes[0], per_order[0] * sizes[0], sizes[1], per_order[1] * sizes[1]);
    std::printf(
        "   reallocations n/30 rounded up: %s; growth exponent 1,000->10,000: %.2f "
        "(linear: 1; limit %.1f)  %s\n\n",
        reallocs_ok ? "yes" : "NO", growth, kLinearLimit,
        Verdict(reallocs_ok && growth <= kLinearLimit));
    Require(reallocs_ok, "order list grows 30 entries at a time");
    Require(growth <= kLinearLimit, "order list linear in the orders");
}

}  // namespace

int main() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    Plugin plugin;
    std::string why;
    if (!LoadPlugin(plugin, why))
        Broken("Loading the plug-in", why);
    cycles_per_tick = MeasureCyclesPerTick(200);

    std::printf(
        "Quendrix benchmark: medians of repeated runs; QueryPerformanceCounter at %.0f "
        "MHz,\ntime-stamp counter at %.0f MHz for the host's account\n\n",
        TicksPerSecond() / 1e6, cycles_per_tick * TicksPerSecond() / 1e6);
    BoundCall();
    Ctrl9Road(plugin);
    Comparison();
    OrderList();

    const double drift = MeasureCyclesPerTick(200) / cycles_per_tick - 1;
    if (std::fabs(drift) > 0.01)
        std::printf("note: the time-stamp counter rate drifted by %.1f %% during the run\n",
                    100 * drift);
    bool all = true;
    for (const Check& check : checks)
        all = all && check.ok;
    for (const Check& check : checks)
        if (!check.ok)
            std::printf("FAILED: %s\n", check.what.c_str());
    std::printf("%s\n", all ? "All limits met." : "Some limits missed.");
    RemoveSettings();
    return all ? 0 : 1;
}
