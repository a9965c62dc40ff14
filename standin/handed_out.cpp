// What the stand-in hands the plug-in that holds records: the tables' record
// buffers, the lines of a line event or a load, the selection list with its
// entries and their records. Each block comes from HandOut, the one place a
// record is handed out, so that strict mode and every variation reach them
// all alike; the standing ones (the record buffers and the selection list)
// are handed out anew whenever either changes (HandOutStandingBuffers), so
// the order of a reset and a setting does not matter.
#include <algorithm>
#include <cstring>
#include <vector>

#include "standin/standin_state.h"

namespace veldan {

namespace {

bool HoldsAnything(const void* block) {
    const auto* bytes = static_cast<const uint8_t*>(block);
    const size_t size = block != nullptr ? AllocatedSize(block) : 0;
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return true;
    return false;
}

const char* RecordBufferName(int32_t table) {
    return table == kHeaderTable ? "record buffer of table 44" : "record buffer of table 45";
}

}  // namespace

void* HandOut(size_t size, const void* bytes, size_t length, const char* name) {
    void* const block = Allocate(size, name);
    if (block != nullptr && bytes != nullptr)
        memcpy(block, bytes, std::min(size, length));
    return block;
}

void HandOutRecordBuffers() {
    for (int32_t table_number : {kHeaderTable, kLineTable}) {
        HostTable& table = *TableObject(table_number);
        const size_t real = RecordBytes(table_number);
        // A record size set larger than the real record still gets a buffer
        // of that size, since the plug-in clears records by the table's size;
        // under reuse_addresses, one with room for the record size a line
        // event gives table 44.
        size_t size = table.record_size > static_cast<int16_t>(real) ? table.record_size : real;
        if (S().variation.reuse_addresses != 0)
            size = real + kRecordGrowth;
        // Elsewhere: the old block is given back after the new one is had.
        // What it holds goes with it; a buffer that holds nothing yet (every
        // byte zero, as it was handed out) is handed out as any block is.
        void* const old = table.record;
        const size_t held = HoldsAnything(old) ? AllocatedSize(old) : 0;
        table.record = HandOut(size, old, held, RecordBufferName(table_number));
        Release(old);
    }
}

void HandOutRecordBuffersAgain(int16_t growth) {
    for (int32_t table_number : {kHeaderTable, kLineTable}) {
        HostTable& table = *TableObject(table_number);
        const size_t size = AllocatedSize(table.record);
        const auto* bytes = static_cast<const uint8_t*>(table.record);
        const std::vector<uint8_t> kept(bytes, bytes + size);
        Release(table.record);
        table.record = HandOut(size, kept.data(), size, RecordBufferName(table_number));
        if (table_number == kHeaderTable)
            table.record_size = static_cast<int16_t>(RecordBytes(kHeaderTable) + growth);
    }
}

LineArray HandOutLines(const std::vector<const void*>& records, const char* array_name,
                       const char* line_name) {
    LineArray handed;
    handed.array =
        OwnedBlock(HandOut(records.size() * sizeof(DocumentItem*), nullptr, 0, array_name));
    for (size_t i = 0; i < records.size(); ++i) {
        void* const line =
            HandOut(sizeof(DocumentItem), records[i], sizeof(DocumentItem), line_name);
        handed.records.emplace_back(line);
        handed.Items()[i] = static_cast<DocumentItem*>(line);
    }
    return handed;
}

void RebuildSelection() {
    State& s = S();
    s.selection_blocks.clear();
    const size_t count = s.selection_records.size();
    s.selection_entries =
        OwnedBlock(HandOut(count * sizeof(SelectionEntry*), nullptr, 0, "selection list"));
    auto* entries = static_cast<SelectionEntry**>(s.selection_entries.get());
    for (size_t i = 0; i < count; ++i) {
        auto* entry = static_cast<SelectionEntry*>(
            HandOut(sizeof(SelectionEntry), nullptr, 0, "selection entry"));
        auto* record =
            static_cast<DocumentHeader*>(HandOut(sizeof(DocumentHeader), &s.selection_records[i],
                                                 sizeof(DocumentHeader), "selection record"));
        s.selection_blocks.emplace_back(entry);
        s.selection_blocks.emplace_back(record);
        entry->flag = s.selection_flags[i].first;
        entry->value = s.selection_flags[i].second;
        entry->record = record;
        entries[i] = entry;
    }
    s.selection_count = static_cast<int32_t>(count);
}

void HandOutStandingBuffers() {
    HandOutRecordBuffers();
    RebuildSelection();
}

}  // namespace veldan
