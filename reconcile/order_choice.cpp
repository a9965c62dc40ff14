#include "reconcile/order_choice.h"

#include <cstring>

#include "frame/call_trace.h"
#include "frame/float_scope.h"
#include "frame/plugin_messages.h"
#include "host/host_api.h"
#include "host/mazovia_text.h"
#include "reconcile/bounded_text.h"
#include "reconcile/decimal_text.h"
#include "reconcile/document_comparison.h"

// Not constexpr (nor defined): reaching it fails the build, naming the fault.
void DialogDefinitionSizeMismatch();

namespace {

// ------------------------------------------------------------ dialog definition
// The host draws text-mode dialogs from a block of items: a 20-byte head and a
// zero-terminated text each, the dialog's own item first.

// The definition block is in the host's own format, which holds the plug-in's
// two dialogs together: the progress dialog 1001 and the list dialog 1002.
// Only 1002 is ever run; 1001 is part of the block the host reads.
constexpr uint16_t kProgressTextControl = 0x4003;
constexpr uint16_t kColumnHeaderControl = 0x5801;
constexpr uint16_t kOrderListControl = 0x4001;
// What the dialog returns when confirmed.
constexpr auto kOkButton = static_cast<uint16_t>(kAnswerYes);

struct DialogItem {
    uint16_t kind;
    uint16_t id;  // the dialog's number on the dialog's own item
    uint16_t flags;
    uint16_t hot_key;
    uint16_t column;
    uint16_t row;
    uint16_t width;
    uint16_t height;
    uint32_t extra;
    const char* text;
};

constexpr DialogItem kProgressItems[] = {
    {kControlDialog, kProgressDialog, 0x4008, 0, 0, 0, 48, 5, 0, "Przetwarzanie"_mz},
    {kControlFrame, kNoControlId, 0, 0, 3, 1, 42, 3, 3, ""},
    {kControlTextLine, kProgressTextControl, 0, 0, 4, 2, 40, 1, 0,
     "1234567890\x05"
     "1234567890\x02"
     "12345\x03"
     "67890\x04"
     "1234567890"_mz},
};

// The column header line gives each column its alignment letter and width;
// the row texts of OrderRowText follow the same three columns.
constexpr DialogItem kOrderListItems[] = {
    {kControlDialog, kOrderListDialog, 0x0200, 0, 0, 0, 78, 18, 0, "Wybierz zamówienie"_mz},
    {kControlTextLine, kColumnHeaderControl, 0, 0, 2, 3, 74, 1, 0,
     "l17Numer zam.\rp15Wartość zak.br.\rl12Data wyst."_mz},
    {kControlLabel, kNoControlId, 0, kHotKeyF3, 2, 2, 20, 1, 0,
     "\x02"
     "F3\x01"
     " Dokumenty"_mz},
    {kControlList, kOrderListControl, 0x0408, 0, 2, 4, 74, 9, 0, ""},
    {kControlButton, kOkButton, 0x0100, kHotKeyF12, 30, 15, 16, 1, 0,
     "\x05"
     "F12\x01"
     " OK"_mz},
};

constexpr size_t kItemHeadSize = 20;

constexpr size_t TextLength(const char* text) {
    size_t length = 0;
    while (text[length] != 0)
        ++length;
    return length;
}

// Bytes of a dialog entry after its 4-byte head (entry length, control count).
template <size_t N>
constexpr size_t EntryLength(const DialogItem (&items)[N]) {
    size_t length = 0;
    for (const DialogItem& item : items)
        length += kItemHeadSize + TextLength(item.text) + 1;
    return length;
}

static_assert(EntryLength(kProgressItems) == 120);
static_assert(EntryLength(kOrderListItems) == 191);
static_assert(4 + EntryLength(kProgressItems) + 4 + EntryLength(kOrderListItems) ==
              kDialogDefinitionSize - 4);

struct BlockWriter {
    std::array<uint8_t, kDialogDefinitionSize> bytes{};
    size_t at = 0;

    constexpr void Byte(uint8_t value) { bytes[at++] = value; }
    constexpr void Word(uint16_t value) {
        Byte(static_cast<uint8_t>(value));
        Byte(static_cast<uint8_t>(value >> 8));
    }
    constexpr void Long(uint32_t value) {
        Word(static_cast<uint16_t>(value));
        Word(static_cast<uint16_t>(value >> 16));
    }
    template <size_t N>
    constexpr void Entry(const DialogItem (&items)[N]) {
        Word(static_cast<uint16_t>(EntryLength(items)));
        Word(static_cast<uint16_t>(N - 1));  // controls, without the dialog's own item
        for (const DialogItem& item : items) {
            Word(item.kind);
            Word(item.id);
            Word(item.flags);
            Word(item.hot_key);
            Word(item.column);
            Word(item.row);
            Word(item.width);
            Word(item.height);
            Long(item.extra);
            for (const char* c = item.text; *c != 0; ++c)
                Byte(static_cast<uint8_t>(*c));
            Byte(0);
        }
    }
};

consteval std::array<uint8_t, kDialogDefinitionSize> BuildDialogDefinition() {
    BlockWriter block;
    block.Long(kDialogDefinitionSize - 4);
    block.Entry(kProgressItems);
    block.Entry(kOrderListItems);
    if (block.at != kDialogDefinitionSize)
        DialogDefinitionSizeMismatch();
    return block.bytes;
}

// ------------------------------------------------------------ order list

constexpr int32_t kGrowth = 30;
constexpr int32_t kMaxCapacity =
    static_cast<int32_t>(INT32_MAX / sizeof(OrderCandidate) / kGrowth * kGrowth);

// The text of the row the host asked for last: number, gross value and date,
// each cell followed by a carriage return but the last.
constexpr size_t kRowTextSize = kNumberLength + 1 + kTwoDecimalsLongest + 1 + kDateTextLength + 1;
static_assert(kRowTextSize <= kRowTextBufferSize);

// Makes room for one more entry. False when the host heap cannot provide it;
// the block held so far is then still held.
bool GrowOrderCandidates() {
    OrderCandidates& list = OrderChoice.OrderCandidateList;
    if (list.capacity >= kMaxCapacity)
        return false;
    const int32_t capacity = list.capacity + kGrowth;
    void* block =
        HostRealloc(list.entries, static_cast<uint32_t>(capacity) * sizeof(OrderCandidate));
    if (block == nullptr)
        return false;
    list.entries = static_cast<OrderCandidate*>(block);
    list.capacity = capacity;
    return true;
}

void FillCandidate(OrderCandidate* entry, const DocumentHeader* header) {
    std::memset(entry, 0, sizeof *entry);
    // A number may fill its field to the last byte; the entry keeps 16 of it.
    BoundedCopy(entry->number, header->number, kNumberLength);
    HostFormatDate(entry->issue_date, header->issue_date);
    entry->issue_date[kDateTextLength] = 0;
    // The value as stored, as bits; ScaleGrossValues makes it units.
    std::memcpy(&entry->gross_bits, &header->gross_value, sizeof entry->gross_bits);
    entry->document_id = header->document_id;
}

// The stored gross values of all entries in units, scaled in the plug-in's own
// floating-point setting: a signalling NaN in a header must not fault a host
// that unmasks invalid operations. One setting for the whole list.
void ScaleGrossValues() {
    const OwnFloatingPoint own;
    const OrderCandidates& list = OrderChoice.OrderCandidateList;
    for (int32_t i = 0; i < list.count; ++i) {
        uint64_t& bits = list.entries[i].gross_bits;
        bits = BitsOfFloat(FloatFromBits(bits) * 0.0001);
    }
}

}  // namespace

constinit const std::array<uint8_t, kDialogDefinitionSize> DialogDefinition =
    BuildDialogDefinition();

void ReleaseOrderCandidates() {
    OrderCandidates& list = OrderChoice.OrderCandidateList;
    if (list.entries != nullptr)
        HostFree(list.entries);
    list = {nullptr, 0, 0};
}

int32_t WybierzMM(int16_t customer) {
    HostTable* header_table = HostOpenTable(kHeaderTable);
    if (header_table == nullptr) {
        ShowMessage(MessageId::kOrderListDiskError);
        return 0;
    }
    HostSetTableMode(header_table, kTableMode);
    KeyBuffer key{};
    HostMakeKey(kKeyOrderHeaders, &header_table, &key, 0);

    ScanState scan{};
    if (HostScanOpen(&scan, header_table, kKeyOrderHeaders, &key, 0, 0) == 0) {
        HostScanClose(&scan);
        return 1;
    }
    const auto* header = static_cast<const DocumentHeader*>(header_table->record);
    OrderCandidates& list = OrderChoice.OrderCandidateList;
    while (HostScanNext(&scan) == 1) {
        // Headers without both identifiers are not orders, or were cleared by a
        // comparison that delivered them in full.
        if (header->document_id == 0 || header->second_id == 0 || header->customer != customer)
            continue;
        if (list.count == list.capacity && !GrowOrderCandidates()) {
            ShowMessage(MessageId::kOrderListAllocationError);
            HostScanClose(&scan);
            ReleaseOrderCandidates();
            return 0;
        }
        FillCandidate(&list.entries[list.count], header);
        ++list.count;
    }
    HostScanClose(&scan);
    ScaleGrossValues();
    return 1;
}

int32_t HOST_STDCALL OrderRowText(uint32_t row, int32_t /*unused*/) {
    const OrderCandidates& list = OrderChoice.OrderCandidateList;
    char* const text = OrderChoice.RowTextBuffer;
    const auto index = static_cast<int16_t>(row & 0xFFFF);
    if (index == -1)
        return list.count;
    text[0] = 0;
    // The host asks only for rows it was told exist; any other gets an empty row.
    if (index >= 0 && index < list.count) {
        const OrderCandidate& entry = list.entries[index];
        // "%s\r%.2f\r%s" as the "C" locale writes it, whatever locale the host set.
        char* at = text + BoundedCopy(text, entry.number, kNumberLength);
        *at++ = '\r';
        at += WriteTwoDecimals(at, entry.gross_bits);
        *at++ = '\r';
        BoundedCopy(at, entry.issue_date, kDateTextLength);
    }
    return static_cast<int32_t>(reinterpret_cast<intptr_t>(text));
}

int32_t ChooseOrder(int16_t customer, DocumentItem** wz_lines, int32_t wz_count, char* remarks) {
    int16_t selection = 0;
    // The previous holder released the list; should it not have, the block is
    // given back rather than lost.
    ReleaseOrderCandidates();
    if (WybierzMM(customer) == 0)
        return 0;

    const int16_t result = HostListDialog(DialogDefinition.data(), kOrderListDialog, &selection, 0,
                                          AS_HANDED(OrderRowText));
    // A confirmation on no entry (an empty list, or a row the list does not
    // have) leaves nothing to compare with.
    if (result != kAnswerYes || selection < 0 ||
        selection >= OrderChoice.OrderCandidateList.count) {
        ReleaseOrderCandidates();
        return 0;
    }
    return PorownajDokumentyZeSoba(OrderChoice.OrderCandidateList.entries[selection].document_id,
                                   wz_lines, wz_count, remarks);
}
