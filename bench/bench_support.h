// What the benchmark is built from: clocks, medians and growth, the plug-in DLL
// loaded as the host loads it, and the shops that each stage runs on.
//
// Kept apart from the stages so that the tests can check that every stage
// measures the work it claims to measure.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/host_records.h"
#include "tests/support/plugin_library.h"

namespace bench {

// ------------------------------------------------------------------ clocks
int64_t Ticks();  // QueryPerformanceCounter
double TicksPerSecond();
double TicksToMs(double ticks);
// Time-stamp counter cycles per performance-counter tick, measured over
// `milliseconds` of wall time. The stand-in's host-time account counts cycles.
double MeasureCyclesPerTick(int milliseconds);

double Median(std::vector<double> values);
// The exponent k in time ~ size^k between two measurements.
double GrowthExponent(double size_a, double time_a, double size_b, double time_b);

// ------------------------------------------------------------------ the plug-in DLL
using test_host::Plugin;

// Loads Quendrix.dll beside the stand-in and finds its entries by ordinal;
// false (with why) when something is missing.
using test_host::LoadPlugin;
// Points the stand-in at a temporary settings file, before the plug-in is
// started and installed (test_host::StartAndInstall) into its current tables.
void UseSettingsFile();
using test_host::StartAndInstall;
// Stops it: its hooks and menu command are taken out again.
void StopPlugin(const Plugin& plugin);
// Removes the temporary settings file, if any.
void RemoveSettings();

// The plug-in's routines linked into this program (stages 1, 3 and 4) find the
// host library the way the DLL's attach step does. False when it is not loaded.
bool BindCoreToHost();

// ------------------------------------------------------------------ records
// The shared builders' records with numbers, texts, dates and values that
// vary with the sequence number.
DocumentHeader ShopOrder(int32_t id, int16_t customer, int sequence);
DocumentItem ShopLine(int16_t article, int32_t quantity, int sequence);

// ------------------------------------------------------------------ the Ctrl+9 road
// A header table of orders of many customers and, last, one WZ. The WZ's
// customer has an order in every `customers`th header; the one the user
// confirms is the customer's last, so the comparison walks nearly the whole
// table before it finds it. The WZ delivers part of every line of that order,
// so a run changes quantities but never clears a line or the header, and the
// state can be put back for the next run.
struct RoadShop {
    int headers = 0;
    int32_t wz_id = 0;
    int32_t order_id = 0;
    int order_position = 0;   // in the header table
    int customer_orders = 0;  // how many rows the order list shows
    DocumentHeader order{};   // as seeded
    std::vector<DocumentItem> order_lines, wz_lines;
};

inline constexpr int kRoadCustomers = 100;
inline constexpr int kRoadLines = 10;
inline constexpr int32_t kRoadOrderQuantity = 10000000;  // 10,000 units
inline constexpr int32_t kRoadWzQuantity = 1000;         // 1 unit

// Empties the stand-in and seeds the shop (the plug-in must be installed
// afterwards: emptying the stand-in restores its own hooks).
RoadShop SeedRoadShop(int headers);
// Puts the order and the WZ back as seeded, opens the WZ and queues the user's
// confirmation of the order's row in the list.
void PrepareRoad(const RoadShop& shop);
// One Ctrl+9: event 239 with key 806 on the line table. Returns the hook's result.
int32_t RunRoad();
// After one run: the order was found and deducted, the WZ marked and given
// the order's remarks, and everything handed out was given back.
bool RoadDone(const RoadShop& shop, std::string& why);

// The same reads of the host without the plug-in: the scan over key 801 and
// the walk up to the order, each header read and nothing done with it, by a
// caller that calls the host functions directly. What such a caller spends
// outside the host's operations is what any caller spends there at this size
// (the clock, and the caches the host's reads have emptied); the rest of the
// road's time outside them is the plug-in's own.
void RunBareRoad(const RoadShop& shop);

// ------------------------------------------------------------------ the comparison
// One order and a WZ of `lines` lines each. WZ line i delivers part of order
// line lines-1-i, so matching walks half the order's lines on average and
// every WZ line updates the order: the O(WZ lines x order lines) case.
struct ComparisonShop {
    int lines = 0;
    int32_t order_id = 0;
    int order_position = 0;
    DocumentHeader order{};
    std::vector<DocumentItem> order_lines;
    std::vector<DocumentItem> wz_seed;  // the WZ lines as seeded
    std::vector<DocumentItem> wz;       // the WZ lines a run works on
    std::vector<DocumentItem*> wz_pointers;
    char remarks[101] = {};
};

inline constexpr int kComparisonOtherHeaders = 9;

void SeedComparisonShop(ComparisonShop& shop, int lines);
void PrepareComparison(ComparisonShop& shop);
int32_t RunComparison(ComparisonShop& shop);  // PorownajDokumentyZeSoba
bool ComparisonDone(const ComparisonShop& shop, std::string& why);

// ------------------------------------------------------------------ the order list
// `orders` orders of one customer, each followed by an order of another
// customer: the scan sees twice as many headers as it lists.
inline constexpr int16_t kListCustomer = 7;
inline constexpr int kListGrowth = 30;  // entries the list grows by

void SeedOrderListShop(int orders);
// The scan that WybierzMM makes, by a caller that reads every header and
// does nothing with it: what the host's reads alone cost at this size.
void RunBareScan();
// WybierzMM for the customer, then the list released. Returns how many
// orders it listed, or -1 when it failed.
int32_t RunOrderList();
// The order choice with the list shown and left without confirming.
int32_t RunOrderChoiceCancelled();

}  // namespace bench
