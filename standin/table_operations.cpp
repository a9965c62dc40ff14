// The host's table operations: keys, ranges, reads and writes, updates, scans
// and line arrays, and the recomputation of line values and header totals.
//
// Failure values under fault injection (VsFailCall, VsFailNthCall):
//   HostOpenTable null; HostFindRange 0 with the count 0; HostReadAt and
//   HostWriteAt 0, nothing copied; HostBeginUpdate 0, the handle untouched;
//   HostScanOpen 0 (the scan state is still safe to close); HostScanNext 0, as
//   at the end; HostLoadLines 0 with no array and the count 0, though with its
//   second value handed out, which HostFreeLines alone gives back;
//   HostUpdateLine, HostUpdateLines and HostUpdateTotals 0 with nothing
//   recomputed.
// HostSaveLines has no way to report a failure: an injected fault makes it
// return 0 with its work done, as a host whose save returns what it kept does
// for an order delivered in full.
// HostSetTableMode, HostMakeKey, HostFreeRange, HostEndUpdate, HostScanClose and
// HostFreeLines have no failure value: an injected fault only counts the call.
//
// Results that the interface leaves open go through call.Open, and 16-bit
// results through call.Short, so that VsSetVariation can change them.
#include <cstring>

#include "standin/standin_state.h"

namespace veldan {
namespace {

// What a key buffer holds: the key, its table and the value it was made with,
// resolved when the key takes its value from a current record.
struct EncodedKey {
    char magic[4];
    int32_t key;
    int32_t table;
    int32_t value;
};
constexpr char kKeyMagic[4] = {'V', 'K', 'E', 'Y'};

struct EncodedScan {
    char magic[4];
    uint32_t serial;  // 0: not open
};
constexpr char kScanMagic[4] = {'V', 'S', 'C', 'N'};

const DocumentHeader& CurrentHeader() {
    return *static_cast<const DocumentHeader*>(TableObject(kHeaderTable)->record);
}

// The table that a key orders, or 0 for keys the host does not know.
int32_t KeyTable(int32_t key) {
    switch (key) {
        case kVsKeyCustomerHeaders:
        case kKeyOrderHeaders:
            return kHeaderTable;
        case kKeyDocumentLines:
        case kKeyEditedLines:
            return kLineTable;
    }
    return 0;
}

bool DecodeKey(const KeyBuffer* buffer, EncodedKey& key) {
    if (!buffer)
        return false;
    memcpy(&key, buffer->bytes, sizeof key);
    return memcmp(key.magic, kKeyMagic, sizeof kKeyMagic) == 0;
}

bool BuildRange(int32_t key, const KeyBuffer* buffer, const HostTable* table, Range& range) {
    EncodedKey encoded;
    if (!DecodeKey(buffer, encoded) || encoded.key != key)
        return false;
    if (!table || table != TableObject(encoded.table))
        return false;
    const Store& store = S().store;
    range = Range{encoded.table, key, 0, {}};
    if (encoded.table == kHeaderTable) {
        for (size_t i = 0; i < store.headers.size(); ++i) {
            if (key == kKeyOrderHeaders || store.headers[i].customer == encoded.value)
                range.positions.push_back(static_cast<int>(i));
        }
    } else {
        range.document = encoded.value;
        auto found = store.lines.find(encoded.value);
        const size_t count = found == store.lines.end() ? 0 : found->second.size();
        for (size_t i = 0; i < count; ++i)
            range.positions.push_back(static_cast<int>(i));
    }
    return true;
}

// The stored record at a range position, or null when it no longer exists.
uint8_t* StoredRecord(const Range& range, int32_t index) {
    if (index < 0 || index >= static_cast<int32_t>(range.positions.size()))
        return nullptr;
    const int position = range.positions[index];
    Store& store = S().store;
    if (range.table == kHeaderTable) {
        if (position >= static_cast<int>(store.headers.size()))
            return nullptr;
        return reinterpret_cast<uint8_t*>(&store.headers[position]);
    }
    auto found = store.lines.find(range.document);
    if (found == store.lines.end() || position >= static_cast<int>(found->second.size()))
        return nullptr;
    return reinterpret_cast<uint8_t*>(&found->second[position]);
}

Range* LiveRange(RangeHandle handle) {
    return Live(S().ranges, handle);
}

Update* LiveUpdate(UpdateHandle handle) {
    return Live(S().updates, handle);
}

// A read or write checks everything it is given, as the host's own record
// layer does: a stale range or update is refused rather than followed.
uint8_t* RecordFor(UpdateHandle update, int32_t index, HostTable* table, RangeHandle handle,
                   Range*& range) {
    range = LiveRange(handle);
    if (!range || !table || table != TableObject(range->table))
        return nullptr;
    if (update && !LiveUpdate(update))
        return nullptr;
    return StoredRecord(*range, index);
}

// HostReadAt and HostWriteAt: the stored record and its length, unless the
// call is to fail or refuses what it was given.
template <int32_t Ordinal>
uint8_t* RecordAt(const Call<Ordinal>& call, UpdateHandle update, int32_t index, HostTable* table,
                  RangeHandle handle, Range*& range, size_t& size) {
    if (call.fail)
        return nullptr;
    uint8_t* record = RecordFor(update, index, table, handle, range);
    if (record)
        size = RecordBytes(range->table);
    return record;
}

double ReadDouble(const void* record, int offset) {
    double value;
    memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

void WriteDouble(void* record, int offset, double value) {
    memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

double RecomputeLine(DocumentItem* line) {
    const double value = line->quantity / 1000.0 * ReadDouble(line, kVsLineUnitPriceOffset);
    WriteDouble(line, kVsLineValueOffset, value);
    return value;
}

bool RecomputeTotals(DocumentHeader* header, DocumentItem** lines, int32_t count) {
    if (count < 0 || (count > 0 && !lines))
        return false;
    double sum = 0;
    for (int32_t i = 0; i < count; ++i)
        if (lines[i])
            sum += RecomputeLine(lines[i]);
    if (header)
        header->gross_value = sum * 10000.0;
    return true;
}

}  // namespace
}  // namespace veldan

using namespace veldan;

extern "C" HostTable* HOST_STDCALL HostOpenTable(int32_t table_number) {
    return Operation<kOrdinalHostOpenTable>(VS_ARGUMENTS, [&](auto call) -> HostTable* {
        const int slot = TableSlot(table_number);
        if (call.fail || slot < 0 || S().open_fails[slot])
            return nullptr;
        return TableObject(table_number);
    });
}

extern "C" int32_t HOST_STDCALL HostSetTableMode(HostTable* table, int32_t /*mode*/) {
    return Operation<kOrdinalHostSetTableMode>(VS_ARGUMENTS, [&](auto call) {
        for (int32_t number : {kHeaderTable, kLineTable})
            if (table && table == TableObject(number))
                return call.Open(1, 1);
        return call.Open(0, 0);
    });
}

extern "C" int32_t HOST_STDCALL HostMakeKey(int32_t key, HostTable** table, KeyBuffer* key_buffer,
                                            int32_t value) {
    return Operation<kOrdinalHostMakeKey>(VS_ARGUMENTS, [&](auto call) {
        if (!key_buffer)
            return call.Open(0, 0);
        memset(key_buffer->bytes, 0, sizeof key_buffer->bytes);
        const int32_t number = KeyTable(key);
        if (!number || !table || *table != TableObject(number))
            return call.Open(0, 0);
        EncodedKey encoded{};
        memcpy(encoded.magic, kKeyMagic, sizeof kKeyMagic);
        encoded.key = key;
        encoded.table = number;
        encoded.value = value;
        if (key == kVsKeyCustomerHeaders && value == 0)
            encoded.value = CurrentHeader().customer;
        if (key == kKeyDocumentLines && value == 0)
            encoded.value = CurrentHeader().document_id;
        if (key == kKeyEditedLines)
            encoded.value = S().edited_document;
        memcpy(key_buffer->bytes, &encoded, sizeof encoded);
        return call.Open(1, static_cast<int32_t>(sizeof encoded));
    });
}

extern "C" RangeHandle HOST_STDCALL HostFindRange(int32_t key, KeyBuffer* key_buffer,
                                                  HostTable* table, int32_t* count) {
    return Operation<kOrdinalHostFindRange>(VS_ARGUMENTS, [&](auto call) -> RangeHandle {
        if (count)
            *count = 0;
        Range range;
        if (call.fail || !BuildRange(key, key_buffer, table, range))
            return nullptr;
        Range* handed_out = HandOut(S().ranges, std::move(range));
        if (count)
            *count = static_cast<int32_t>(handed_out->positions.size());
        return reinterpret_cast<RangeHandle>(handed_out);
    });
}

extern "C" int32_t HOST_STDCALL HostFreeRange(RangeHandle* range) {
    return Operation<kOrdinalHostFreeRange>(VS_ARGUMENTS, [&](auto call) {
        if (!range)
            return call.Open(0, 0);
        Range* live = LiveRange(*range);
        *range = nullptr;
        if (!live)
            return call.Open(0, 0);
        const auto records = static_cast<int32_t>(live->positions.size());
        S().ranges.erase(live);
        return call.Open(1, records);
    });
}

extern "C" int32_t HOST_STDCALL HostReadAt(UpdateHandle update, int32_t index, HostTable* table,
                                           void* buffer, RangeHandle range) {
    return Operation<kOrdinalHostReadAt>(VS_ARGUMENTS, [&](auto call) {
        Range* live = nullptr;
        size_t size = 0;
        const uint8_t* record = RecordAt(call, update, index, table, range, live, size);
        if (!record)
            return 0;
        memcpy(buffer ? buffer : table->record, record, size);
        return call.Success();
    });
}

extern "C" int32_t HOST_STDCALL HostWriteAt(UpdateHandle update, int32_t index, HostTable* table,
                                            void* buffer, RangeHandle range) {
    return Operation<kOrdinalHostWriteAt>(VS_ARGUMENTS, [&](auto call) {
        Range* live = nullptr;
        size_t size = 0;
        uint8_t* record = RecordAt(call, update, index, table, range, live, size);
        if (!record)
            return 0;
        if (Update* within = LiveUpdate(update)) {
            Undo undo{live->table, live->document, live->positions[index],
                      std::vector<uint8_t>(record, record + size)};
            within->undo.push_back(std::move(undo));
        }
        memmove(record, buffer ? buffer : table->record, size);
        if (live->table == kHeaderTable && S().variation.nested_events)
            RaiseNestedEvent(kHeaderTable, kEventHeaderStored, kVsKeyCustomerHeaders, 0, 0, 0, 0);
        return call.Success();
    });
}

extern "C" int32_t HOST_STDCALL HostBeginUpdate(KeyBuffer* key_buffer, int32_t /*count*/,
                                                UpdateHandle* update, int32_t /*zero*/) {
    return Operation<kOrdinalHostBeginUpdate>(VS_ARGUMENTS, [&](auto call) {
        EncodedKey encoded;
        if (call.fail || !update || !DecodeKey(key_buffer, encoded))
            return 0;
        *update = reinterpret_cast<UpdateHandle>(HandOut(S().updates, Update{}));
        return call.Success();
    });
}

// Ends an update and frees the range it worked on. An unsuccessful end takes
// back the update's writes, newest first, so a failure cannot leave half of a
// change behind.
extern "C" int32_t HOST_STDCALL HostEndUpdate(int32_t success, UpdateHandle* update,
                                              RangeHandle* range, int32_t* /*begin_result*/) {
    return Operation<kOrdinalHostEndUpdate>(VS_ARGUMENTS, [&](auto call) {
        State& s = S();
        int32_t undone = 0;
        if (update) {
            if (Update* live = LiveUpdate(*update)) {
                if (!success) {
                    for (auto it = live->undo.rbegin(); it != live->undo.rend(); ++it) {
                        Range where{it->table, 0, it->document, {it->position}};
                        if (uint8_t* record = StoredRecord(where, 0)) {
                            memcpy(record, it->before.data(), it->before.size());
                            ++undone;
                        }
                    }
                }
                s.updates.erase(live);
            }
            *update = nullptr;
        }
        if (range) {
            s.ranges.erase(*range);
            *range = nullptr;
        }
        return call.Open(1, undone);
    });
}

extern "C" uint32_t HOST_STDCALL StandinScanOpen(ScanState* scan, HostTable* table, int32_t key,
                                                 KeyBuffer* key_buffer, int32_t /*zero1*/,
                                                 int32_t /*zero2*/)
    VELDAN_SHORT_RESULT(HostScanOpen, STDCALL, 24);
extern "C" uint32_t HOST_STDCALL StandinScanOpen(ScanState* scan, HostTable* table, int32_t key,
                                                 KeyBuffer* key_buffer, int32_t /*zero1*/,
                                                 int32_t /*zero2*/) {
    return Operation<kOrdinalHostScanOpen>(VS_ARGUMENTS, [&](auto call) {
        if (!scan)
            return call.Short(0);
        EncodedScan encoded{};
        memcpy(encoded.magic, kScanMagic, sizeof kScanMagic);
        memset(scan->bytes, 0, sizeof scan->bytes);
        Range range;
        if (!call.fail && BuildRange(key, key_buffer, table, range)) {
            State& s = S();
            encoded.serial = s.next_scan++;
            s.scans[encoded.serial] = Scan{std::move(range), 0, table};
        }
        memcpy(scan->bytes, &encoded, sizeof encoded);
        return call.Short(encoded.serial ? static_cast<int16_t>(call.Success()) : 0);
    });
}

extern "C" uint32_t HOST_STDCALL StandinScanNext(ScanState* scan)
    VELDAN_SHORT_RESULT(HostScanNext, STDCALL, 4);
extern "C" uint32_t HOST_STDCALL StandinScanNext(ScanState* scan) {
    return Operation<kOrdinalHostScanNext>(VS_ARGUMENTS, [&](auto call) {
        if (call.fail || !scan)
            return call.Short(0);
        EncodedScan encoded;
        memcpy(&encoded, scan->bytes, sizeof encoded);
        auto found = S().scans.find(encoded.serial);
        if (memcmp(encoded.magic, kScanMagic, sizeof kScanMagic) != 0 || found == S().scans.end())
            return call.Short(0);
        Scan& open = found->second;
        while (open.next < open.range.positions.size()) {
            const uint8_t* record = StoredRecord(open.range, static_cast<int32_t>(open.next++));
            if (record) {
                memcpy(open.table->record, record, RecordBytes(open.range.table));
                return call.Short(1);
            }
        }
        return call.Short(0);
    });
}

extern "C" int32_t HOST_STDCALL HostScanClose(ScanState* scan) {
    return Operation<kOrdinalHostScanClose>(VS_ARGUMENTS, [&](auto call) {
        if (!scan)
            return call.Open(0, 0);
        EncodedScan encoded;
        memcpy(&encoded, scan->bytes, sizeof encoded);
        if (memcmp(encoded.magic, kScanMagic, sizeof kScanMagic) != 0)
            return call.Open(0, 0);
        const bool closed = S().scans.erase(encoded.serial) != 0;
        encoded.serial = 0;
        memcpy(scan->bytes, &encoded, sizeof encoded);
        return call.Open(closed ? 1 : 0, closed ? 1 : 0);
    });
}

// Hands out copies of the range's lines, each record a block of its own, so
// that a write past one line cannot reach the next one unnoticed in strict
// mode. The count comes from the range; the caller's count is only a hint.
// The second value is the array again: the host's handle on what it handed out.
extern "C" int32_t HOST_STDCALL HostLoadLines(DocumentItem*** lines, void** aux, int32_t* count_out,
                                              int32_t /*count*/, HostTable* table,
                                              RangeHandle range) {
    return Operation<kOrdinalHostLoadLines>(VS_ARGUMENTS, [&](auto call) {
        if (!lines || !count_out)
            return call.Open(0, 0);
        *lines = nullptr;
        *count_out = 0;
        if (aux)
            *aux = nullptr;
        Range* live = LiveRange(range);
        if (call.fail) {
            // A load that fails half-way: no lines, but the second value already
            // handed out, and only HostFreeLines gives it back.
            if (aux) {
                *aux = Allocate(sizeof(void*), "second value of a failed line load");
                S().line_aux.emplace(*aux, OwnedBlock(*aux));
            }
            return call.Open(0, 0);
        }
        if (!live || live->table != kLineTable || table != TableObject(kLineTable))
            return call.Open(0, 0);

        std::vector<const void*> records;
        for (size_t i = 0; i < live->positions.size(); ++i)
            if (const uint8_t* record = StoredRecord(*live, static_cast<int32_t>(i)))
                records.push_back(record);
        LineArray handed_out = HandOutLines(records, "line array", "line");
        *lines = handed_out.Items();
        if (aux)
            *aux = handed_out.Items();
        *count_out = static_cast<int32_t>(records.size());
        S().line_arrays[handed_out.Items()] = std::move(handed_out);
        return call.Open(1, *count_out);
    });
}

extern "C" int32_t HOST_STDCALL HostFreeLines(DocumentItem*** lines, void** aux, int32_t* count_out,
                                              int32_t /*count*/, HostTable* /*table*/,
                                              RangeHandle /*range*/) {
    return Operation<kOrdinalHostFreeLines>(VS_ARGUMENTS, [&](auto call) {
        State& s = S();
        if (aux) {
            s.line_aux.erase(*aux);
            *aux = nullptr;
        }
        if (count_out)
            *count_out = 0;
        if (!lines || !*lines)
            return call.Open(0, 0);
        auto found = s.line_arrays.find(*lines);
        *lines = nullptr;
        if (found == s.line_arrays.end()) {
            ++s.heap_errors;  // given back twice, or never handed out
            return call.Open(0, 0);
        }
        const auto freed = static_cast<int32_t>(found->second.records.size());
        s.line_arrays.erase(found);
        return call.Open(1, freed);
    });
}

// Stores an array as a document's lines: under 802 the document of the range,
// under 806 the document being edited. Cleared lines (all zero) are dropped,
// and the array and its count are compacted in place to what was stored;
// under the keep-cleared variation every line is stored as it is.
extern "C" int32_t HOST_STDCALL HostSaveLines(int32_t key, HostTable* table, DocumentItem** lines,
                                              int32_t* count, RangeHandle range, int32_t /*flags*/,
                                              int32_t, int32_t, int32_t, int32_t, int32_t,
                                              int32_t) {
    return Operation<kOrdinalHostSaveLines>(VS_ARGUMENTS, [&](auto call) {
        State& s = S();
        if (table != TableObject(kLineTable) || !count || *count < 0 || (*count > 0 && !lines))
            return call.Open(0, 0);
        int32_t document = 0;
        if (key == kKeyDocumentLines) {
            Range* live = LiveRange(range);
            if (!live || live->table != kLineTable)
                return call.Open(0, 0);
            document = live->document;
        } else if (key == kKeyEditedLines) {
            document = s.edited_document;
        } else {
            return call.Open(0, 0);
        }
        const bool keep_cleared = s.variation.save_lines == kVsSaveKeepCleared;
        std::vector<DocumentItem> stored;
        int32_t kept = 0;
        const int32_t total = *count;
        for (int32_t i = 0; i < total; ++i) {
            DocumentItem* line = lines[i];
            if (!line || (!keep_cleared && VsCleared(*line)))
                continue;
            stored.push_back(*line);
            lines[kept++] = line;
        }
        for (int32_t i = kept; i < total; ++i)
            lines[i] = nullptr;
        *count = kept;
        s.store.lines[document] = std::move(stored);
        if (key == kKeyEditedLines && s.variation.nested_events)
            RaiseNestedEvent(kLineTable, kEventLines, kKeyEditedLines,
                             static_cast<uint32_t>(reinterpret_cast<uintptr_t>(count)),
                             static_cast<uint32_t>(reinterpret_cast<uintptr_t>(lines)),
                             static_cast<uint32_t>(reinterpret_cast<uintptr_t>(table)),
                             static_cast<uint32_t>(reinterpret_cast<uintptr_t>(range)));
        return call.fail ? 0 : call.Open(1, kept);
    });
}

extern "C" int32_t HOST_STDCALL HostUpdateLine(int32_t /*zero*/, DocumentItem* line,
                                               DocumentHeader* /*header*/, int32_t /*one*/) {
    return Operation<kOrdinalHostUpdateLine>(VS_ARGUMENTS, [&](auto call) {
        if (call.fail || !line)
            return call.Open(0, 0);
        RecomputeLine(line);
        return call.Open(1, 1);
    });
}

extern "C" int32_t HOST_STDCALL HostUpdateLines(DocumentItem** lines, int32_t count,
                                                DocumentHeader* header, int32_t /*zero1*/,
                                                int32_t /*zero2*/) {
    return Operation<kOrdinalHostUpdateLines>(VS_ARGUMENTS, [&](auto call) {
        if (call.fail || !RecomputeTotals(header, lines, count))
            return call.Open(0, 0);
        return call.Open(1, count);
    });
}

extern "C" int32_t HOST_STDCALL HostUpdateTotals(DocumentHeader* header,
                                                 DocumentHeader* header_again, DocumentItem** lines,
                                                 int32_t count) {
    return Operation<kOrdinalHostUpdateTotals>(VS_ARGUMENTS, [&](auto call) {
        if (call.fail || !RecomputeTotals(header, lines, count))
            return call.Open(0, 0);
        if (header_again && header_again != header && header)
            header_again->gross_value = header->gross_value;
        return call.Open(1, count);
    });
}
