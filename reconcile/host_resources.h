// What the host hands out, held by a scope and given back when the scope
// ends, on every way out of it: a range of records (HostFreeRange), an update
// of a range's records with the range (HostEndUpdate), a document's loaded
// lines (HostFreeLines) and a block of the host's heap (HostFree). A new early return then cannot
// leak one. Where the host must have one back before something else happens, Release gives it back
// at once.
//
// The plug-in is compiled without exceptions: nothing unwinds through these
// scopes, and their destructors cost no unwinding code.
#pragma once

#include <cstdint>

#include "host/host_api.h"

struct HeldRange {
    RangeHandle handle = nullptr;

    explicit HeldRange(RangeHandle found) : handle(found) {}
    ~HeldRange() { Release(); }
    HeldRange(const HeldRange&) = delete;
    HeldRange& operator=(const HeldRange&) = delete;

    void Release() {
        if (handle != nullptr)
            HostFreeRange(&handle);
        handle = nullptr;
    }
};

// An update of the records of a range, with the range it was begun on: once
// the range was asked for, HostEndUpdate ends both when the scope ends, with
// the success the scope leaves in success, whatever HostFindRange and
// HostBeginUpdate returned.
struct HeldUpdate {
    RangeHandle range = nullptr;
    UpdateHandle update = nullptr;
    int32_t begin_result = 0;
    int32_t success = 1;

    explicit HeldUpdate(RangeHandle found) : range(found) {}
    ~HeldUpdate() { HostEndUpdate(success, &update, &range, &begin_result); }
    HeldUpdate(const HeldUpdate&) = delete;
    HeldUpdate& operator=(const HeldUpdate&) = delete;

    void Begin(KeyBuffer* key_buffer, int32_t count) {
        begin_result = HostBeginUpdate(key_buffer, count, &update, 0);
    }
};

// A document's lines as HostLoadLines hands them out. Once a load was asked
// for, HostFreeLines is called whatever the load returned: a load that
// failed half-way may still hold the range or have handed out its second
// value, and nothing tells the plug-in whether it does.
struct HeldLines {
    DocumentItem** lines = nullptr;
    void* aux = nullptr;
    int32_t count = 0;  // as the host leaves it after each call
    HostTable* table;
    RangeHandle range;
    bool loaded = false;

    HeldLines(HostTable* from, RangeHandle in) : table(from), range(in) {}
    ~HeldLines() { Release(); }
    HeldLines(const HeldLines&) = delete;
    HeldLines& operator=(const HeldLines&) = delete;

    // The range's lines; count is how many the range holds.
    void Load(int32_t in_range) {
        count = in_range;
        loaded = true;
        HostLoadLines(&lines, &aux, &count, in_range, table, range);
    }
    void Release() {
        if (loaded)
            HostFreeLines(&lines, &aux, &count, count, table, range);
        loaded = false;
    }
};

// A block of the host's heap, count entries of T, or none.
template <typename T>
struct HeldBlock {
    T* entries = nullptr;

    HeldBlock() = default;
    ~HeldBlock() {
        if (entries != nullptr)
            HostFree(entries);
    }
    HeldBlock(const HeldBlock&) = delete;
    HeldBlock& operator=(const HeldBlock&) = delete;

    // False when the host heap cannot give it (or its size does not fit 32
    // bits). With more_per_entry, the block has that many bytes more for each
    // entry, after the entries.
    bool Take(int32_t count, size_t more_per_entry = 0) {
        const uint64_t size = static_cast<uint64_t>(count) * (sizeof(T) + more_per_entry);
        if (count > 0 && size <= UINT32_MAX)
            entries = static_cast<T*>(HostRealloc(nullptr, static_cast<uint32_t>(size)));
        return entries != nullptr;
    }
};
