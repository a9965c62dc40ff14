// The benchmark: what the plug-in costs next to the host, at scale.
//
// 1. A bound host call through the binding layer against a direct call of the
//    same host function; 1a. the same call with the call trace on; 1b. with
//    the trace's recording on.
// 2. The whole Ctrl+9 road over header tables of 1,000 to 100,000 headers,
//    split into the time inside the host's operations and the plug-in's own;
//    2a. the road with the recording on: its size and its cost per host call.
// 3. The comparison of a WZ and an order of 10 to 1,000 lines each.
// 4. The order list of a customer with 1,000 and 10,000 orders.
// 5. A document file with a problem at every field refused, at 10,000 and
//    100,000 problems, against the parse of the same text alone.
//
// `quendrix_bench.exe 2 4` runs only the stages named; without arguments it
// runs all five.
//
// Every figure is the median of several runs, timed with
// QueryPerformanceCounter. The exit code is 1 when a limit is missed or a
// stage grows faster than its algorithm allows, 2 when a stage did not do
// the work it is supposed to measure, 3 when an argument names no stage.
//
// How the host's share is measured: the stand-in adds the time that each of
// its operations runs to an account (VsSetTiming, VsHostTime), leaving out the
// plug-in's callbacks, and reads its clock behind a fence so that no memory
// wait of an operation slips past its end. It measures what reading the clock
// costs when timing is switched on, books each operation net of the part of
// that cost inside it, and keeps the whole cost on a second account
// (VsHostClockTime). Each measurement alternates untimed runs, which give the
// true total, with timed runs; in a timed run the time outside the host's
// operations is the wall time less the clock's cost less the host's account.
//
// Some of that outside time is no caller's own work: the host's reads of a
// large store leave the processor's caches and address translations cold for
// whatever runs next. So the Ctrl+9 road is compared with a bare caller that
// makes the road's reads (the scan and the walk) and nothing else; what the
// road spends outside the host beyond what the bare caller spends there is the
// plug-in's own time, and its share is that time against the untimed total.
// The fences keep the plug-in's code from running in the shadow of the host's
// memory waits, so this is its full cost, not a flattering one.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "documentfile/document_file.h"
#include "frame/call_trace.h"
#include "standin/veldan_control.h"
#include "tests/support/child_process.h"

using namespace bench;

namespace {

constexpr double kBoundCallLimit = 1.01;
constexpr double kPluginShareLimit = 0.10;
// Exponents above these mean a stage grows faster than its algorithm. The
// time of a linear stage may rise faster than its size where the data leaves
// the processor's caches (by about 1.2 to 1.45 here); a quadratic one rises
// by 2. Against a bare caller making the same reads the caches cancel out.
constexpr double kLinearLimit = 1.75;
constexpr double kOverBareLimit = 0.25;
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

volatile int32_t sink;

// The loop of count calls, instantiated twice: with ByName, the plug-in's
// own call of the operation by its name, which lands on the forwarding stub
// and jumps on from there; with the host function's address, a call through
// it as a caller that looked the ordinal up itself would make it. Each is kept
// out of inlining and constant propagation, and a call into another module
// cannot be hoisted.
template <typename Call>
__attribute__((noipa)) int64_t TimeCalls(Call call, int count) {
    int32_t sum = 0;
    const int64_t start = Ticks();
    for (int i = 0; i < count; ++i)
        sum += call();
    const int64_t end = Ticks();
    sink = sum;
    return end - start;
}

struct ByName {
    int32_t operator()() const { return HostInterfaceVersion(); }
};

int64_t TimeBoundCalls(int count) {
    return TimeCalls(ByName{}, count);
}

void BoundCall() {
    // Short rounds, so that few of them are hit by another process taking the
    // processor; the median of the rounds' ratios ignores those that are.
    constexpr int kCalls = 50000;
    constexpr int kRounds = 101;
    const auto direct = test_host::Direct().HostInterfaceVersion;
    if (direct == nullptr)
        Broken("The bound-call stage", "VELDAN.dll is not loaded or lacks the operation");
    VsReset();
    VsSetStrict(0);
    // The first bound call binds the entry; neither measurement may include it.
    if (HostInterfaceVersion() != kInterfaceVersion || direct() != kInterfaceVersion)
        Broken("The bound-call stage", "HostInterfaceVersion answered wrongly");
    TimeCalls(direct, kCalls);
    TimeBoundCalls(kCalls);

    std::vector<double> direct_ns, bound_ns, extra_ns, ratios;
    const double ns_per_tick = 1e9 / TicksPerSecond();
    for (int round = 0; round < kRounds; ++round) {
        // Alternating which goes first cancels a drift of the machine's speed.
        double d, b;
        if (round % 2 == 0) {
            d = static_cast<double>(TimeCalls(direct, kCalls));
            b = static_cast<double>(TimeBoundCalls(kCalls));
        } else {
            b = static_cast<double>(TimeBoundCalls(kCalls));
            d = static_cast<double>(TimeCalls(direct, kCalls));
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
    Require(ratio <= kBoundCallLimit, "bound call within 1 % of a direct call");
}

// The same call with the call trace on: two lines written to a file of the
// benchmark's own for each call; with record, the recording's lines too.
void TracedCall(bool record) {
    constexpr int kCalls = 2000;
    constexpr int kRounds = 11;
    wchar_t directory[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, directory);
    const std::wstring path = std::wstring(directory) + L"quendrix-bench-trace.txt";
    DeleteFileW(path.c_str());
    if (!StartCallTrace(path.c_str(), record))
        Broken("The traced-call stage", "the trace file in the temporary folder cannot be written");
    const double ns_per_tick = 1e9 / TicksPerSecond();
    TimeBoundCalls(kCalls / 10);
    std::vector<double> traced_ns;
    for (int round = 0; round < kRounds; ++round)
        traced_ns.push_back(static_cast<double>(TimeBoundCalls(kCalls)) * ns_per_tick / kCalls);
    StopCallTrace();
    DeleteFileW(path.c_str());
    if (!record) {
        std::printf(
            "1a. Traced host call: HostInterfaceVersion with the call trace on, %s calls x %d "
            "rounds\n",
            Grouped(kCalls).c_str(), kRounds);
        std::printf("   cost per traced call (two lines written)  %8.0f ns/call\n\n",
                    Median(traced_ns));
    } else {
        std::printf("1b. Recorded host call: the same with the recording on (Record=1)\n");
        std::printf("   cost per recorded call (no memory behind it) %5.0f ns/call\n\n",
                    Median(traced_ns));
    }
}

// ------------------------------------------------------------------ split timing

struct Split {
    double total_ms = 0;   // untimed runs: the true time
    double host_ms = 0;    // timed runs: inside the host's operations
    double plugin_ms = 0;  // timed runs: outside them, the clock's cost taken off
    double calls = 0;      // host operations of one run

    // The time outside the host's operations against the true total.
    double Share() const { return total_ms > 0 ? plugin_ms / total_ms : 0; }
};

double CyclesToMs(int64_t cycles) {
    return TicksToMs(static_cast<double>(cycles) / cycles_per_tick);
}

struct Workload {
    std::function<void()> prepare;
    std::function<void()> run;
};

// Runs alternate untimed and timed, and the workloads alternate with each
// other, so that workloads compared with each other meet the same load of the
// machine. The untimed runs give the true total; each timed one is split into
// host and outside time on its own, so that what slows a run down shows in
// both parts of the same run.
std::vector<Split> MeasureSplits(int runs, const std::vector<Workload>& workloads) {
    struct Samples {
        std::vector<double> untimed, host, outside, calls;
    };
    std::vector<Samples> samples(workloads.size());
    for (int i = 0; i < runs; ++i) {
        for (size_t w = 0; w < workloads.size(); ++w) {
            for (int timing = 0; timing <= 1; ++timing) {
                if (workloads[w].prepare)
                    workloads[w].prepare();
                const int calls_before = VsTotalCalls();
                VsSetTiming(timing);
                const int64_t host_before = VsHostTime();
                const int64_t clock_before = VsHostClockTime();
                const int64_t start = Ticks();
                workloads[w].run();
                const int64_t end = Ticks();
                const double host_ms = CyclesToMs(VsHostTime() - host_before);
                const double clock_ms = CyclesToMs(VsHostClockTime() - clock_before);
                VsSetTiming(0);
                const double ms = TicksToMs(static_cast<double>(end - start));
                Samples& into = samples[w];
                if (timing == 0) {
                    into.untimed.push_back(ms);
                    into.calls.push_back(VsTotalCalls() - calls_before);
                } else {
                    into.host.push_back(host_ms);
                    into.outside.push_back(std::max(0.0, ms - clock_ms - host_ms));
                }
            }
        }
    }
    std::vector<Split> splits;
    for (const Samples& taken : samples) {
        Split split;
        split.total_ms = Median(taken.untimed);
        split.host_ms = Median(taken.host);
        split.plugin_ms = Median(taken.outside);
        split.calls = Median(taken.calls);
        splits.push_back(split);
    }
    return splits;
}

// ------------------------------------------------------------------ growth

// A stage grows no faster than its algorithm when its time grows no faster
// than the expected power (allowing for the caches, which small sizes fit and
// large ones do not) and, where a bare caller makes the same reads of the
// host, its time against that caller's grows by no more than noise: the
// caches then weigh on both alike.
struct Growth {
    double time = 0;       // the exponent of the time's growth
    double over_bare = 0;  // and of the time against the bare caller's
    bool Linear() const { return time <= kLinearLimit && over_bare <= kOverBareLimit; }
};

// From the first size measured to the last, of the stage and the bare caller.
template <size_t N>
Growth GrowthOver(const int (&sizes)[N], const std::vector<double>& totals,
                  const std::vector<double>& bare_totals) {
    const double first = sizes[0], last = sizes[N - 1];
    return {GrowthExponent(first, totals[0], last, totals[N - 1]),
            GrowthExponent(first, totals[0] / bare_totals[0], last,
                           totals[N - 1] / bare_totals[N - 1])};
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
    std::vector<double> totals, bare_totals, calls;
    double largest_share = 0;
    for (int s = 0; s < 3; ++s) {
        const int headers = sizes[s];
        const RoadShop shop = SeedRoadShop(headers);
        std::string why;
        UseSettingsFile();
        if (!StartAndInstall(plugin, why))
            Broken("The Ctrl+9 road", why);
        PrepareRoad(shop);
        RunRoad();
        if (!RoadDone(shop, why))
            Broken("The Ctrl+9 road at " + Grouped(headers) + " headers", why);
        const std::vector<Split> splits =
            MeasureSplits(runs[s], {{[&] { PrepareRoad(shop); }, [] { RunRoad(); }},
                                    {nullptr, [&] { RunBareRoad(shop); }}});
        StopPlugin(plugin);
        const Split& road = splits[0];
        const Split& bare = splits[1];

        const double own_ms = std::max(0.0, road.plugin_ms - bare.plugin_ms);
        const double share = road.total_ms > 0 ? own_ms / road.total_ms : 0;
        totals.push_back(road.total_ms);
        bare_totals.push_back(bare.total_ms);
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
    const Growth growth = GrowthOver(sizes, totals, bare_totals);
    const double call_growth = GrowthExponent(sizes[0], calls[0], sizes[2], calls[2]);
    const bool linear = growth.Linear() && call_growth <= kLinearCallLimit;
    std::printf(
        "   growth 1,000->100,000 (linear walk): time %.2f, against the bare reads %+.2f,\n"
        "   host calls %.2f (limits %.2f, %+.2f, %.2f)  %s\n",
        growth.time, growth.over_bare, call_growth, kLinearLimit, kOverBareLimit, kLinearCallLimit,
        Verdict(linear));
    std::printf("   plug-in share at 100,000 headers: %.1f %%, limit %.0f %%  %s\n\n",
                100 * largest_share, 100 * kPluginShareLimit,
                Verdict(largest_share < kPluginShareLimit));
    Require(linear, "Ctrl+9 road linear in the headers");
    Require(largest_share < kPluginShareLimit, "plug-in share of Ctrl+9 at 100,000 under 10 %");
}

// The road at two sizes with a copy of the plug-in whose settings switch the
// trace and its recording on: the recording's bytes (of the road alone, from
// the event to its return), and the road's time against the median of plain
// runs, per host call.
void RecordedRoad(const Plugin& plugin) {
    const int sizes[] = {1000, 100000};
    std::printf("2a. Ctrl+9 road with the call trace recording on (Record=1), one recorded run\n");
    std::printf("   %9s %14s %10s %10s %10s %10s %12s\n", "headers", "recording", "bytes/hdr",
                "plain ms", "recorded", "host calls", "ns/host call");
    for (const int headers : sizes) {
        const RoadShop shop = SeedRoadShop(headers);
        std::string why;
        UseSettingsFile();
        if (!StartAndInstall(plugin, why))
            Broken("The recorded Ctrl+9 road", why);
        std::vector<double> plain;
        for (int run = 0; run < 3; ++run) {
            PrepareRoad(shop);
            const int64_t start = Ticks();
            RunRoad();
            plain.push_back(TicksToMs(static_cast<double>(Ticks() - start)));
        }
        StopPlugin(plugin);

        const std::string folder = test_host::MakeTemporaryFolder();
        test_host::WriteBytes(folder + "Quendrix.ini", "[Trace]\r\nEnabled=1\r\nRecord=1\r\n");
        const Plugin copy = test_host::LoadPluginCopy(folder);
        UseSettingsFile();
        if (copy.module == nullptr || !StartAndInstall(copy, why))
            Broken("The recorded Ctrl+9 road", why.empty() ? "the copy cannot be loaded" : why);
        const std::string trace = folder + "Quendrix-trace.txt";
        PrepareRoad(shop);
        const size_t before = test_host::ReadBytes(trace).size();
        const int calls_before = VsTotalCalls();
        const int64_t start = Ticks();
        RunRoad();
        const double recorded = TicksToMs(static_cast<double>(Ticks() - start));
        const int calls = VsTotalCalls() - calls_before;
        const size_t size = test_host::ReadBytes(trace).size() - before;
        if (!RoadDone(shop, why))
            Broken("The recorded Ctrl+9 road at " + Grouped(headers) + " headers", why);
        StopPlugin(copy);
        FreeLibrary(copy.module);
        test_host::RemoveFolder(folder);
        if (size == 0)
            Broken("The recorded Ctrl+9 road", "nothing was recorded");
        std::printf("   %9s %14s %10.0f %10.3f %10.3f %10s %12.0f\n", Grouped(headers).c_str(),
                    Grouped(static_cast<long long>(size)).c_str(),
                    static_cast<double>(size) / headers, Median(plain), recorded,
                    Grouped(calls).c_str(), (recorded - Median(plain)) * 1e6 / calls);
    }
    std::printf(
        "   recording: the trace file's growth from the line event to its return; ns/host call:\n"
        "   the recorded run's time less the plain runs' median, per host operation\n\n");
}

// ------------------------------------------------------------------ 3. comparison

void Comparison() {
    const int sizes[] = {10, 100, 1000};
    const int runs[] = {41, 21, 9};
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
        const Split split = MeasureSplits(
            runs[s], {{[&] { PrepareComparison(shop); }, [&] { RunComparison(shop); }}})[0];
        totals.push_back(split.total_ms);
        std::printf("   %9s %9.3f %12.2f %9.3f %9.3f %8.1f%% %10s\n", Grouped(lines).c_str(),
                    split.total_ms, split.total_ms * 1e6 / (double(lines) * lines), split.host_ms,
                    split.plugin_ms, 100 * split.Share(),
                    Grouped(static_cast<long long>(split.calls)).c_str());
    }
    std::printf("   outside: time outside the host's operations, mostly the plug-in's matching\n");
    const double growth = GrowthExponent(sizes[1], totals[1], sizes[2], totals[2]);
    std::printf(
        "   growth 100->1,000 lines: time %.2f (O(WZ lines x order lines) by design: 2; "
        "limit %.2f)  %s\n\n",
        growth, kQuadraticLimit, Verdict(growth <= kQuadraticLimit));
    Require(growth <= kQuadraticLimit, "comparison no worse than WZ lines x order lines");
}

// ------------------------------------------------------------------ 4. order list

void OrderList() {
    const int sizes[] = {1000, 10000};
    const int runs[] = {21, 11};
    std::printf("4. Order list of one customer (WybierzMM over twice as many headers)\n");
    std::printf("   %9s %10s %9s %10s %9s %9s %9s %9s %10s\n", "orders", "reallocs", "expected",
                "build ms", "ns/order", "host ms", "outside%", "bare ms", "shown ms");
    std::vector<double> totals, bare_totals;
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
        const int dialogs_before = VsDialogCallCount();
        RunOrderChoiceCancelled();
        if (VsDialogCallCount() != dialogs_before + 1 ||
            VsDialogCallAt(dialogs_before)->rows != orders || VsOutstanding(kVsHeapBlocks) != 0)
            Broken("The order choice of " + Grouped(orders) + " orders",
                   "the list was not shown whole or not released");

        const std::vector<Split> splits =
            MeasureSplits(runs[s], {{nullptr, [] { RunOrderList(); }},
                                    {nullptr, [] { RunBareScan(); }},
                                    {nullptr, [] { RunOrderChoiceCancelled(); }}});
        const Split& build = splits[0];
        totals.push_back(build.total_ms);
        bare_totals.push_back(splits[1].total_ms);
        std::printf("   %9s %10s %9s %10.3f %9.1f %9.3f %8.1f%% %9.3f %10.3f\n",
                    Grouped(orders).c_str(), Grouped(reallocs).c_str(), Grouped(expected).c_str(),
                    build.total_ms, build.total_ms * 1e6 / orders, build.host_ms,
                    100 * build.Share(), splits[1].total_ms, splits[2].total_ms);
    }
    std::printf(
        "   bare: the same scan by a caller that keeps nothing; shown: the whole order choice\n"
        "   with every row of the list formatted, left without confirming\n");
    const Growth growth = GrowthOver(sizes, totals, bare_totals);
    const bool linear = growth.Linear();
    std::printf("   reallocations: n/30 rounded up  %s\n", Verdict(reallocs_ok));
    std::printf(
        "   growth 1,000->10,000 (linear): time %.2f, against the bare scan %+.2f "
        "(limits %.2f, %+.2f)  %s\n\n",
        growth.time, growth.over_bare, kLinearLimit, kOverBareLimit, Verdict(linear));
    Require(reallocs_ok, "order list grows 30 entries at a time");
    Require(linear, "order list linear in the orders");
}

// ------------------------------------------------------------------ 5. document file

// A file with a problem at every field: n empty headers, or one header of n
// fields of unknown (and different) names.
std::string ProblemFile(bool empty_headers, int n) {
    std::string text = empty_headers ? "{\"headers\": [" : "{\"headers\": [{";
    for (int i = 0; i < n; ++i)
        text += empty_headers ? (i ? ", {}" : "{}")
                              : (i ? ", \"f" : "\"f") + std::to_string(i) + "\": 0";
    return text + (empty_headers ? "]}\n" : "}]}\n");
}

void RefusedDocumentFile() {
    const int sizes[] = {10000, 100000};
    const int runs[] = {11, 5};
    std::printf("5. Document file refused (ReadDocuments): a problem at every field\n");
    std::printf("   %-20s %9s %9s %9s %9s %9s\n", "file", "n", "KB", "ms", "ns/byte", "parse ms");
    for (const bool empty_headers : {true, false}) {
        const char* name = empty_headers ? "n empty headers" : "n unknown fields";
        std::vector<double> totals, parse_totals;
        for (int s = 0; s < 2; ++s) {
            const std::string text = ProblemFile(empty_headers, sizes[s]);
            document_file::DocumentFile file;
            std::vector<document_file::Problem> problems;
            const size_t expected = empty_headers ? 5u * sizes[s] : sizes[s] + 5u;
            if (document_file::ReadDocuments(text, file, problems) ||
                document_file::ProblemCount(problems) != expected)
                Broken("The refused document file",
                       std::string(name) + ": not every problem found");
            std::vector<double> times, parse_times;
            for (int run = 0; run < runs[s]; ++run) {
                const int64_t start = Ticks();
                document_file::ReadDocuments(text, file, problems);
                const int64_t parsed = Ticks();
                document_file::Problem syntax;
                document_file::ParseJson(text, file.root, syntax);
                const int64_t end = Ticks();
                times.push_back(TicksToMs(double(parsed - start)));
                parse_times.push_back(TicksToMs(double(end - parsed)));
            }
            totals.push_back(Median(times));
            parse_totals.push_back(Median(parse_times));
            std::printf("   %-20s %9s %9.0f %9.3f %9.1f %9.3f\n", name, Grouped(sizes[s]).c_str(),
                        text.size() / 1024.0, totals.back(), totals.back() * 1e6 / text.size(),
                        parse_totals.back());
        }
        const Growth growth = GrowthOver(sizes, totals, parse_totals);
        std::printf(
            "   growth 10,000->100,000 (linear): time %.2f, against the parse %+.2f "
            "(limits %.2f, %+.2f)  %s\n",
            growth.time, growth.over_bare, kLinearLimit, kOverBareLimit, Verdict(growth.Linear()));
        Require(growth.Linear(),
                std::string("document file of ") + name + " refused in linear time");
    }
    std::printf("   parse: the JSON text read alone, without checking its documents\n\n");
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    constexpr int kStages = 5;
    bool run[kStages + 1] = {false, argc < 2, argc < 2, argc < 2, argc < 2, argc < 2};
    for (int i = 1; i < argc; ++i) {
        const int stage = std::atoi(argv[i]);
        if (stage < 1 || stage > kStages || std::to_string(stage) != argv[i]) {
            std::printf("usage: quendrix_bench [stage 1 to %d ...]\n", kStages);
            return 3;
        }
        run[stage] = true;
    }
    Plugin plugin;
    std::string why;
    if (!LoadPlugin(plugin, why))
        Broken("Loading the plug-in", why);
    // Stages 1, 3 and 4 call the plug-in's routines linked in here: they bind
    // to the host library as the DLL does, whichever stages run.
    if (!BindCoreToHost())
        Broken("Binding the plug-in's routines", "VELDAN.dll is not loaded");
    cycles_per_tick = MeasureCyclesPerTick(200);

    std::printf(
        "Quendrix benchmark: medians of repeated runs; QueryPerformanceCounter at %.0f "
        "MHz,\ntime-stamp counter at %.0f MHz for the host's account\n\n",
        TicksPerSecond() / 1e6, cycles_per_tick * TicksPerSecond() / 1e6);
    if (run[1]) {
        BoundCall();
        TracedCall(false);
        TracedCall(true);
    }
    if (run[2]) {
        Ctrl9Road(plugin);
        RecordedRoad(plugin);
    }
    if (run[3])
        Comparison();
    if (run[4])
        OrderList();
    if (run[5])
        RefusedDocumentFile();

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
