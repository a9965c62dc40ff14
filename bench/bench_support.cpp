#include "bench/bench_support.h"

#include <x86intrin.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "frame/frame_state.h"
#include "frame/module_attach.h"
#include "reconcile/document_comparison.h"
#include "reconcile/order_choice.h"
#include "reconcile/reconcile_state.h"
#include "standin/veldan_control.h"
#include "tests/support/host_store.h"

namespace bench {
namespace {

using test_host::PutText;

constexpr int32_t kDate = 20260105;

std::string settings_path;

// The stand-in empty and in its normal mode: strict mode, which a test
// environment may switch on for every reset, gives each buffer pages of its own
// and would time the guard pages rather than the host.
void ResetHost() {
    VsReset();
    VsSetStrict(0);
}

// Every line of the order stored deducted by the WZ, and nothing the host
// handed out still held.
bool OrderDeductedAndAllGivenBack(int32_t order_id, size_t count, std::string& why) {
    if (VsLineCount(order_id) != static_cast<int>(count)) {
        why = "the order's line count changed";
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        DocumentItem line;
        VsGetLine(order_id, static_cast<int>(i), &line);
        if (line.quantity != kRoadOrderQuantity - kRoadWzQuantity) {
            why = "an order line was not deducted as expected";
            return false;
        }
    }
    why = test_host::Unreturned();
    return why.empty();
}

}  // namespace

// ------------------------------------------------------------------ clocks

int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart);
}

double TicksToMs(double ticks) {
    return ticks * 1000.0 / TicksPerSecond();
}

double MeasureCyclesPerTick(int milliseconds) {
    const int64_t tick_start = Ticks();
    const uint64_t cycle_start = __rdtsc();
    const int64_t length = static_cast<int64_t>(TicksPerSecond() * milliseconds / 1000.0);
    int64_t tick_end;
    do {
        tick_end = Ticks();
    } while (tick_end - tick_start < length);
    const uint64_t cycle_end = __rdtsc();
    return static_cast<double>(cycle_end - cycle_start) /
           static_cast<double>(tick_end - tick_start);
}

double Median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    if (values.size() % 2 == 1)
        return values[middle];
    return (values[middle - 1] + values[middle]) / 2;
}

double GrowthExponent(double size_a, double time_a, double size_b, double time_b) {
    if (size_a <= 0 || size_b <= 0 || time_a <= 0 || time_b <= 0 || size_a == size_b)
        return NAN;
    return std::log(time_b / time_a) / std::log(size_b / size_a);
}

// ------------------------------------------------------------------ the plug-in DLL

void UseSettingsFile() {
    if (settings_path.empty()) {
        char directory[MAX_PATH];
        char path[MAX_PATH];
        if (GetTempPathA(sizeof directory, directory) != 0 &&
            GetTempFileNameA(directory, "qbn", 0, path) != 0)
            settings_path = path;
    }
    // Emptying the stand-in forgets the settings file; the plug-in reads and
    // may write its one setting at install.
    if (!settings_path.empty())
        VsSetProfilePath(settings_path.c_str());
}

void StopPlugin(const Plugin& plugin) {
    plugin.start(nullptr, nullptr);
}

void RemoveSettings() {
    if (!settings_path.empty())
        DeleteFileA(settings_path.c_str());
}

bool BindCoreToHost() {
    AttachToHost(GetModuleHandleA(nullptr), kProcessAttach);
    return Frame.Attach.HostLibraryHandle != nullptr;
}

// ------------------------------------------------------------------ records

DocumentHeader ShopOrder(int32_t id, int16_t customer, int sequence) {
    char number[32];
    std::snprintf(number, sizeof number, "ZK %d/2026", sequence % 1000000);
    char remarks[64];
    std::snprintf(remarks, sizeof remarks, "Zam. klienta nr %ld, dostawa czesciowa",
                  static_cast<long>(id));
    DocumentHeader header = test_host::MakeHeader(id, id, customer, number, remarks);
    test_host::SetIssueDate(header, kDate + sequence % 20);
    header.gross_value = (1000 + sequence % 5000) * 10000.0;
    return header;
}

DocumentItem ShopLine(int16_t article, int32_t quantity, int sequence) {
    char text[64];
    std::snprintf(text, sizeof text, "Artykul %d, pozycja %d", article, sequence);
    return test_host::MakeLine(text, quantity, article, 1, 12.5);
}

// ------------------------------------------------------------------ the Ctrl+9 road

RoadShop SeedRoadShop(int headers) {
    ResetHost();
    RoadShop shop;
    shop.headers = headers;
    const int orders = headers - 1;
    for (int i = 0; i < orders; ++i) {
        const auto customer = static_cast<int16_t>(i % kRoadCustomers + 1);
        const DocumentHeader order = ShopOrder(i + 1, customer, i);
        const int position = VsAddHeader(&order);
        if (customer == 1) {
            shop.order_id = order.document_id;
            shop.order_position = position;
            shop.order = order;
            ++shop.customer_orders;
        }
    }
    for (int k = 0; k < kRoadLines; ++k) {
        shop.order_lines.push_back(ShopLine(static_cast<int16_t>(k + 1), kRoadOrderQuantity, k));
        shop.wz_lines.push_back(ShopLine(static_cast<int16_t>(k + 1), kRoadWzQuantity, k));
        VsAddLine(shop.order_id, &shop.order_lines.back());
    }

    shop.wz_id = headers;
    DocumentHeader wz = ShopOrder(shop.wz_id, 1, headers);
    wz.second_id = 0;  // a WZ is no order
    PutText(wz.number, sizeof wz.number, "WZ 1/2026");
    PutText(wz.remarks, sizeof wz.remarks, "");
    VsAddHeader(&wz);
    for (const DocumentItem& line : shop.wz_lines)
        VsAddLine(shop.wz_id, &line);
    return shop;
}

void PrepareRoad(const RoadShop& shop) {
    VsPutHeader(shop.order_position, &shop.order);
    for (size_t k = 0; k < shop.order_lines.size(); ++k) {
        VsPutLine(shop.order_id, static_cast<int>(k), &shop.order_lines[k]);
        VsPutLine(shop.wz_id, static_cast<int>(k), &shop.wz_lines[k]);
    }
    VsOpenDocument(shop.wz_id);
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, shop.customer_orders - 1);
}

int32_t RunRoad() {
    return VsRaiseLineEvent(static_cast<uint16_t>(kKeyEditedLines));
}

namespace {

using test_host::DirectHost;

// Key 801 over table 44, every header read; returns the key for further use.
KeyBuffer BareScan(const DirectHost& host, HostTable*& table) {
    table = host.HostOpenTable(kHeaderTable);
    KeyBuffer key{};
    host.HostMakeKey(kKeyOrderHeaders, &table, &key, 0);
    ScanState scan{};
    host.HostScanOpen(&scan, table, kKeyOrderHeaders, &key, 0, 0);
    while (host.HostScanNext(&scan) == 1) {
    }
    host.HostScanClose(&scan);
    return key;
}

}  // namespace

void RunBareRoad(const RoadShop& shop) {
    const DirectHost& host = test_host::Direct();
    HostTable* table = nullptr;
    KeyBuffer key = BareScan(host, table);
    int32_t count = 0;
    RangeHandle range = host.HostFindRange(kKeyOrderHeaders, &key, table, &count);
    for (int32_t position = 0; position <= shop.order_position && position < count; ++position)
        host.HostReadAt(nullptr, position, table, table->record, range);
    host.HostFreeRange(&range);
}

bool RoadDone(const RoadShop& shop, std::string& why) {
    const auto* buffer = static_cast<const DocumentHeader*>(VsTable(kHeaderTable)->record);
    if (buffer->document_id != shop.wz_id || buffer->compared_marker != kComparedMarker) {
        why = "the WZ was not marked as compared";
        return false;
    }
    if (std::strcmp(buffer->remarks, shop.order.remarks) != 0) {
        why = "the WZ did not receive the order's remarks";
        return false;
    }
    const int calls = VsDialogCallCount();
    const VsDialogCall* list = calls > 0 ? VsDialogCallAt(calls - 1) : nullptr;
    if (list == nullptr || list->ordinal != kOrdinalHostListDialog ||
        list->rows != shop.customer_orders) {
        why = "the order list did not show the customer's orders";
        return false;
    }
    DocumentHeader order;
    if (VsGetHeader(shop.order_position, &order) != 1 || order.document_id != shop.order_id) {
        why = "the order's header was lost";
        return false;
    }
    return OrderDeductedAndAllGivenBack(shop.order_id, shop.order_lines.size(), why);
}

// ------------------------------------------------------------------ the comparison

void SeedComparisonShop(ComparisonShop& shop, int lines) {
    ResetHost();
    shop.lines = lines;
    for (int i = 0; i < kComparisonOtherHeaders; ++i) {
        const DocumentHeader other = ShopOrder(i + 1, 2, i);
        VsAddHeader(&other);
    }
    shop.order_id = kComparisonOtherHeaders + 1;
    shop.order = ShopOrder(shop.order_id, 1, shop.order_id);
    shop.order_position = VsAddHeader(&shop.order);
    shop.order_lines.clear();
    shop.wz_seed.clear();
    for (int k = 0; k < lines; ++k) {
        shop.order_lines.push_back(ShopLine(static_cast<int16_t>(k + 1), kRoadOrderQuantity, k));
        VsAddLine(shop.order_id, &shop.order_lines.back());
    }
    for (int k = 0; k < lines; ++k)
        shop.wz_seed.push_back(ShopLine(static_cast<int16_t>(lines - k), kRoadWzQuantity, k));
    shop.wz = shop.wz_seed;
    shop.wz_pointers.clear();
    for (DocumentItem& line : shop.wz)
        shop.wz_pointers.push_back(&line);
}

void PrepareComparison(ComparisonShop& shop) {
    VsPutHeader(shop.order_position, &shop.order);
    for (size_t k = 0; k < shop.order_lines.size(); ++k)
        VsPutLine(shop.order_id, static_cast<int>(k), &shop.order_lines[k]);
    std::copy(shop.wz_seed.begin(), shop.wz_seed.end(), shop.wz.begin());
    std::memset(shop.remarks, 0, sizeof shop.remarks);
}

int32_t RunComparison(ComparisonShop& shop) {
    return PorownajDokumentyZeSoba(shop.order_id, shop.wz_pointers.data(),
                                   static_cast<int32_t>(shop.wz_pointers.size()), shop.remarks);
}

bool ComparisonDone(const ComparisonShop& shop, std::string& why) {
    if (std::strcmp(shop.remarks, shop.order.remarks) != 0) {
        why = "the order's remarks were not handed back";
        return false;
    }
    for (size_t k = 0; k < shop.wz.size(); ++k) {
        if (std::strcmp(shop.wz[k].text, shop.wz_seed[k].text) != 0) {
            why = "a WZ line was marked although the order holds its article";
            return false;
        }
    }
    return OrderDeductedAndAllGivenBack(shop.order_id, shop.order_lines.size(), why);
}

// ------------------------------------------------------------------ the order list

void SeedOrderListShop(int orders) {
    ResetHost();
    for (int i = 0; i < orders; ++i) {
        const DocumentHeader own = ShopOrder(2 * i + 1, kListCustomer, i);
        const DocumentHeader other =
            ShopOrder(2 * i + 2, static_cast<int16_t>(kListCustomer + 1 + i % 50), i);
        VsAddHeader(&own);
        VsAddHeader(&other);
    }
}

void RunBareScan() {
    HostTable* table = nullptr;
    BareScan(test_host::Direct(), table);
}

int32_t RunOrderList() {
    const int32_t built = WybierzMM(kListCustomer);
    const int32_t listed = built != 0 ? Reconcile.OrderChoice.OrderCandidateList.count : -1;
    ReleaseOrderCandidates();
    return listed;
}

int32_t RunOrderChoiceCancelled() {
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerEscape, 0);
    char remarks[101] = {};
    return ChooseOrder(kListCustomer, nullptr, 0, remarks);
}

}  // namespace bench
