// The stand-in host's process-wide state, shared by its source files.
//
// The host is single-threaded towards the plug-in: every operation, event and
// menu command runs on the caller's thread, so nothing here takes a lock.
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "standin/veldan_control.h"

namespace veldan {

// ------------------------------------------------------------------ memory
// Every buffer the plug-in gets to see comes from here, so strict mode is a
// single switch. Blocks are zero-filled; name says what the block is in a fault
// report and must be a string literal.
// reserve: bytes more that the block may later grow by in place (not in
// strict mode, where every block ends at its guard page).
void* Allocate(size_t size, const char* name, size_t reserve = 0);
// Changes the size of a block without moving it; false when it has no room.
bool ResizeInPlace(void* block, size_t size);
void Release(void* block);
bool IsAllocated(const void* block);
size_t AllocatedSize(const void* block);  // 0 when unknown
bool StrictAllocation();
void SetStrictAllocation(bool on);

// ------------------------------------------------------------------ store
struct Store {
    std::vector<DocumentHeader> headers;                 // storage order
    std::map<int32_t, std::vector<DocumentItem>> lines;  // by document identifier
};

// What a range or scan walks over: header positions, or one document's lines.
struct Range {
    int32_t table = 0;     // 44 or 45
    int32_t key = 0;       // the key number it was made for
    int32_t document = 0;  // table 45: whose lines
    std::vector<int> positions;
};

// A write made within an update, kept so that an unsuccessful end undoes it.
struct Undo {
    int32_t table = 0;
    int32_t document = 0;
    int position = 0;
    std::vector<uint8_t> before;
};
struct Update {
    std::vector<Undo> undo;
};

struct Scan {
    Range range;
    size_t next = 0;
    HostTable* table = nullptr;
};

// Lines handed out by HostLoadLines or with a line event: the array and every
// record that belonged to it, so giving it back frees what the plug-in may
// have dropped from the array in the meantime.
struct LineArray {
    DocumentItem** array = nullptr;
    std::vector<DocumentItem*> records;
};

struct DialogRecord {
    VsDialogCall call{};
    std::string caption, text, format;
    std::vector<uint8_t> definition;
    std::vector<std::string> rows;
    std::vector<bool> asked;  // per row: whether the callback was asked for it
    std::vector<const char*> row_pointers;
};

struct Answer {
    int32_t answer = 0;
    int32_t selection = 0;
};

struct HookRecord {
    int events = 0;
    uint32_t last[11] = {};
    int32_t result = 0;
};

struct State {
    Store store;
    int32_t edited_document = 0;
    int edited_position = -1;

    int16_t record_size[2] = {kHeaderRecordSize, kLineRecordSize};
    bool open_fails[2] = {false, false};
    int32_t table_mode[2] = {0, 0};
    HookRecord hooks[2];

    std::set<Range*> ranges;  // handed out by HostFindRange
    std::set<Update*> updates;
    std::map<uint32_t, Scan> scans;  // by the serial written into the scan state
    uint32_t next_scan = 1;
    std::map<DocumentItem**, LineArray> line_arrays;  // handed out by HostLoadLines
    std::set<void*> line_aux;     // second values of failed loads, until HostFreeLines
    std::set<void*> heap_blocks;  // handed out by HostRealloc
    int heap_errors = 0;

    std::map<int32_t, MenuCommandHandler> menu;
    int32_t menu_marks = 0;

    std::vector<std::pair<uint8_t, int32_t>> selection_flags;  // flag, value
    std::vector<DocumentHeader> selection_records;
    int32_t selection_count = 0;
    SelectionEntry** selection_entries = nullptr;
    std::vector<SelectionEntry*> selection_blocks;

    std::deque<DialogRecord> dialogs;
    std::map<int32_t, std::deque<Answer>> answers;
    VsDialogHandler dialog_handler = nullptr;

    int32_t interface_version = kInterfaceVersion;
    std::map<int32_t, int> calls;
    int total_calls = 0;
    std::vector<int32_t> call_order;  // the ordinals of the first kCallOrderKept calls
    std::map<int32_t, std::vector<int>> fail_ordinal;  // countdowns per operation
    std::vector<int> fail_any;                         // countdowns over all calls
    int translator_calls = 0;

    std::string profile_path;  // empty: veldan.ini beside the library

    VsVariation variation{};
    int nested_events[2] = {0, 0};
    int odd_row_texts = 0;

    // The process's state the variation set, as the processor and the
    // runtime report it, and how often it was found otherwise.
    bool keeps_process_state = false;
    uint16_t x87_control = 0;
    uint32_t mxcsr = 0;
    std::string locale;
    int process_state_violations = 0;
    // dialog_long_jump: where the line event raised by VsRaiseLineEvent is
    // left to, and whether a dialog has left already.
    std::jmp_buf* dialog_exit = nullptr;
    bool dialog_left = false;
};

State& S();

// The host's two table objects; they never move.
HostTable* TableObject(int32_t table);  // null for other numbers
int TableSlot(int32_t table);           // 0, 1 or -1
size_t RecordBytes(int32_t table);      // the real record length
// Re-allocates both record buffers in the current allocation mode, keeping
// their contents.
void ReallocateRecordBuffers();
void RebuildSelection();
void ReleaseLineArray(LineArray& lines);

// Counts a call of an operation and says whether it is to fail.
bool Enter(int32_t ordinal);
// Counts a violation when the process's state differs from the variation's.
void CheckProcessState();
// Under dialog_long_jump, the first dialog of a raised line event leaves
// here, by a long jump out of the plug-in; otherwise nothing happens.
void LeaveDialogByLongJump();

// ------------------------------------------------------------------ host time
// VsSetTiming/VsHostTime: every exported operation holds a HostTimeScope for
// its whole run; a PluginTimeScope around a call back into the plug-in takes
// that call out of the host's account again. Off, a scope costs one test.
extern bool host_timing;
void StartHostTime();
void StopHostTime();
int SuspendHostTime();  // returns what ResumeHostTime needs
void ResumeHostTime(int depth);
void ResetHostTime();

struct HostTimeScope {
    const bool on = host_timing;
    HostTimeScope() {
        if (on)
            StartHostTime();
    }
    ~HostTimeScope() {
        if (on)
            StopHostTime();
    }
    HostTimeScope(const HostTimeScope&) = delete;
    HostTimeScope& operator=(const HostTimeScope&) = delete;
};

struct PluginTimeScope {
    const bool on = host_timing;
    const int depth = on ? SuspendHostTime() : 0;
    PluginTimeScope() = default;
    ~PluginTimeScope() {
        if (on)
            ResumeHostTime(depth);
    }
    PluginTimeScope(const PluginTimeScope&) = delete;
    PluginTimeScope& operator=(const PluginTimeScope&) = delete;
};

void ResetProfile();

// ------------------------------------------------------------------ variations
// The result an operation with an open result returns: its own value, or what
// VsSetVariation chose. count is what the operation has at hand to count.
int32_t OpenResult(int32_t own, int32_t count);
// A 16-bit result in the whole register it travels in: the upper half zero,
// or garbage under the wide_short variation. The operations with 16-bit
// results are defined returning uint32_t under their exported symbol (see
// VELDAN_SHORT_RESULT), so that the upper half is ours to set.
uint32_t ShortResult(int16_t value);
// What an operation that promises only a non-zero success returns for it.
int32_t Success();
#define VELDAN_SHORT_RESULT(symbol) __asm__(symbol)
// Raises an event through a table's hook slot from inside an operation,
// counting it as nested; the plug-in's time in it is not the host's.
int32_t RaiseNestedEvent(int32_t table, uint32_t event, uint32_t key, uint32_t a3, uint32_t a4,
                         uint32_t a6, uint32_t a8);

}  // namespace veldan
