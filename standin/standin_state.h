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
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
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

// ------------------------------------------------------------------ the system
// The stand-in's other calls of the system, in system_win32.cpp (the native
// build, fuzz/, has its own of these and of strict mode's, heap_books.h).

// The folder of the stand-in's library, with its last separator; "" when
// unknown.
std::string LibraryFolder();
// Moves temporary over path in one step; on failure deletes temporary and
// returns false.
bool MoveFileOver(const std::string& temporary, const std::string& path);
// Runs work(argument) on a stack of its own (a fiber), or on the calling
// stack where the system has none to give.
void RunOnAnotherStack(void (*work)(void*), void* argument);
// Runs work(argument) on a thread of its own and waits for it; false when
// the thread was ended inside it (EndThisThread).
bool RunOnThreadOfItsOwn(void (*work)(void*), void* argument);
[[noreturn]] void EndThisThread();
// What the host answers for the system at the import table of the module
// that holds code (the variations write_long_jump and thread_reuse), and
// puts back: the slots' former contents.
struct DivertedImports {
    void* guest = nullptr;
    void* write = nullptr;
    void* thread_id = nullptr;
};
DivertedImports DivertGuestImports(const void* code, bool write_long_jump, bool one_thread_id);
void RestoreGuestImports(const DivertedImports& diverted);

// A block from Allocate, given back when its owner goes: whatever the
// stand-in has handed out goes back with the state that holds it, at a reset
// or at the process's end, without a list of things to release.
class OwnedBlock {
  public:
    OwnedBlock() = default;
    explicit OwnedBlock(void* block) : block_(block) {}
    OwnedBlock(OwnedBlock&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
    OwnedBlock& operator=(OwnedBlock&& other) noexcept {
        std::swap(block_, other.block_);
        return *this;
    }
    ~OwnedBlock() { Release(block_); }
    void* get() const { return block_; }

  private:
    void* block_ = nullptr;
};

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
    OwnedBlock array;
    std::vector<OwnedBlock> records;
    DocumentItem** Items() const { return static_cast<DocumentItem**>(array.get()); }
};

// What the plug-in was handed, by its handle, owned until it is given back.
// The handle is the thing's address in the host's heap (Allocate), as a
// real host's would be, so that a heap that reuses addresses reuses them too.
template <typename Thing>
struct GiveBack {
    void operator()(Thing* thing) const {
        thing->~Thing();
        Release(thing);
    }
};
template <typename Thing>
using HandedOut = std::map<const void*, std::unique_ptr<Thing, GiveBack<Thing>>>;

template <typename Thing>
Thing* HandOut(HandedOut<Thing>& handed, Thing thing) {
    Thing* handle = new (Allocate(sizeof(Thing), "handle of the host's")) Thing(std::move(thing));
    handed.emplace(handle, std::unique_ptr<Thing, GiveBack<Thing>>(handle));
    return handle;
}

// The thing behind a handle, or null when it is not (or no longer) handed out.
template <typename Thing>
Thing* Live(const HandedOut<Thing>& handed, const void* handle) {
    auto found = handed.find(handle);
    return found == handed.end() ? nullptr : found->second.get();
}

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

// The account of host time (host_timing.cpp).
struct HostTime {
    bool on = false;
    uint64_t (*clock)() = nullptr;  // null: the time-stamp counter
    int depth = 0;
    uint64_t since = 0;
    int64_t host_cycles = 0;   // net of the clock's part inside each interval
    int64_t clock_cycles = 0;  // the whole cost of reading the clock
    int64_t inside_cost = 0;
    int64_t whole_cost = 0;
};

// Everything the stand-in keeps for a test, in one struct with every default
// written here: VsReset assigns a State{} to it whole, so nothing a test set
// or was handed can reach the next one, and a new field needs no line in
// VsReset. What outlives a reset, on purpose:
// - the two table objects (control.cpp): the plug-in keeps their addresses;
//   VsReset puts their contents back and gives their record buffers anew;
// - the allocator's books and strict mode (guarded_heap.cpp), which VsReset
//   sets from the environment again;
// - the floating-point settings and locale that a variation gave the process.
struct State {
    Store store;
    int32_t edited_document = 0;
    int edited_position = -1;

    int16_t record_size[2] = {kHeaderRecordSize, kLineRecordSize};
    bool open_fails[2] = {false, false};
    HookRecord hooks[2];

    // Handed out to the plug-in; each holds what it owns until given back.
    HandedOut<Range> ranges;  // by HostFindRange
    HandedOut<Update> updates;
    std::map<uint32_t, Scan> scans;  // by the serial written into the scan state
    uint32_t next_scan = 1;
    std::map<DocumentItem**, LineArray> line_arrays;  // by HostLoadLines
    std::map<void*, OwnedBlock> line_aux;     // second values of failed loads, until HostFreeLines
    std::map<void*, OwnedBlock> heap_blocks;  // by HostRealloc
    int heap_errors = 0;

    std::map<int32_t, MenuCommandHandler> menu;
    int32_t menu_marks = 0;

    std::vector<std::pair<uint8_t, int32_t>> selection_flags;  // flag, value
    std::vector<DocumentHeader> selection_records;
    int32_t selection_count = 0;
    OwnedBlock selection_entries;              // SelectionEntry*[selection_count]
    std::vector<OwnedBlock> selection_blocks;  // the entries and their records

    std::deque<DialogRecord> dialogs;
    std::map<int32_t, std::deque<Answer>> answers;
    VsDialogHandler dialog_handler = nullptr;

    int32_t interface_version = kInterfaceVersion;
    std::map<int32_t, int> calls;
    int total_calls = 0;
    std::deque<VsCall> call_log;                       // the first kVsCallLogKept calls
    std::map<int32_t, std::vector<int>> fail_ordinal;  // countdowns per operation
    std::vector<int> fail_any;                         // countdowns over all calls

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
    // write_long_jump: where a line event's first write at the guest's import
    // table leaves to, and whether one has left already; thread_reuse: whether
    // a dialog has ended its event's thread already.
    std::jmp_buf* write_exit = nullptr;
    bool write_left = false;
    bool thread_ended = false;
    bool on_event_thread = false;

    HostTime time;
};

// The one State, defined in control.cpp before anything that uses it.
extern State state;
inline State& S() {
    return state;
}

// The host's two table objects; they never move.
HostTable* TableObject(int32_t table);  // null for other numbers
int TableSlot(int32_t table);           // 0, 1 or -1
size_t RecordBytes(int32_t table);      // the real record length

// ------------------------------------------------------------------ what the plug-in is handed
// Every record the plug-in is handed (handed_out.cpp) is a block from
// HandOut: size bytes, the first of them length bytes copied from bytes (none
// for null), the rest as the heap gives them. Strict mode and the variations
// reach every such block there, and VsReset, VsSetStrict and VsSetVariation
// hand the standing ones out anew, so that nothing handed out before a
// setting escapes it.
void* HandOut(size_t size, const void* bytes, size_t length, const char* name);
// Both tables' record buffers anew, elsewhere, keeping what they hold (a
// buffer whose bytes are all zero holds nothing).
void HandOutRecordBuffers();
// reuse_addresses: each record buffer given back and handed out again (the
// heap gives it the same address), table 44's record size its own plus
// growth.
void HandOutRecordBuffersAgain(int16_t growth);
// Under reuse_addresses, the room a record buffer has for the record size it
// takes on in a line event.
inline constexpr int16_t kRecordGrowth = 8;
// Copies of records (DocumentItem), each line a block of its own, in an array.
LineArray HandOutLines(const std::vector<const void*>& records, const char* array_name,
                       const char* line_name);
// The selection list, its entries and their records, from the records kept.
void RebuildSelection();
// What stands handed out between calls, anew: the record buffers and the
// selection list.
void HandOutStandingBuffers();

// Counts a violation when the process's state differs from the variation's.
void CheckProcessState();
// Under dialog_long_jump, the first dialog of a raised line event leaves
// here, by a long jump out of the plug-in; under thread_reuse, it ends the
// event's thread here; otherwise nothing happens. The dialog's record is
// emptied first: the jump passes every destructor between here and where it
// lands, and what it holds would be lost to the heap.
void LeaveDialogByLongJump(DialogRecord& record);
// release_blocks: what the host gives back after an operation.
void GiveBackWhatItMay(int32_t ordinal);

// ------------------------------------------------------------------ host time
// VsSetTiming/VsHostTime: every host operation runs within a HostTimeScope
// (Operation below); a PluginTimeScope around a call back into the plug-in
// takes that call out of the host's account again. Off, a scope costs one
// test.
void StartHostTime();
void StopHostTime();
int SuspendHostTime();  // returns what ResumeHostTime needs
void ResumeHostTime(int depth);

struct HostTimeScope {
    const bool on = S().time.on;
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
    const bool on = S().time.on;
    const int depth = on ? SuspendHostTime() : 0;
    PluginTimeScope() = default;
    ~PluginTimeScope() {
        if (on)
            ResumeHostTime(depth);
    }
    PluginTimeScope(const PluginTimeScope&) = delete;
    PluginTimeScope& operator=(const PluginTimeScope&) = delete;
};

// ------------------------------------------------------------------ operations
// Every host operation runs its body through Operation, the one way an
// operation runs: on the host's time account, counted, in the call log with
// its arguments and result, and failing once when a fault was injected for
// it. The body gets a Call that says whether to fail and gives the results a
// variation may change, each to the operations named for it in
// veldan_control.h (kVsOpenResultOperations, kVsOtherSuccessOperations) or
// host/host_operations.h (an int16_t result), and to no other: elsewhere it
// does not compile.
//
//   extern "C" int32_t HOST_STDCALL HostFreeRange(RangeHandle* range) {
//       return Operation<kOrdinalHostFreeRange>(VS_ARGUMENTS, [&](auto call) {
//           ...
//           return call.Open(1, records);
//       });
//   }
//
// VS_ARGUMENTS is the operation's own frame, above which the caller's
// arguments lie whatever the calling convention.
#define VS_ARGUMENTS __builtin_frame_address(0)

// The 32-bit words of fixed arguments an operation takes.
constexpr int ArgumentWords(int32_t ordinal) {
#define VS_ARGUMENT_WORDS(name, number, convention, bytes, result, params) \
    if (ordinal == number)                                                 \
        return bytes / 4;
    HOST_OPERATIONS(VS_ARGUMENT_WORDS)
#undef VS_ARGUMENT_WORDS
    return ordinal == HOST_EXCEPTION_TRANSLATOR_ORDINAL ? 2 : 0;
}

// The result an operation with an open result returns: its own value, or what
// VsSetVariation chose. count is what the operation has at hand to count.
int32_t OpenResult(int32_t own, int32_t count);
// A 16-bit result in the whole register it travels in: the upper half zero,
// or garbage under the wide_short variation. The operations with 16-bit
// results are defined returning uint32_t under their exported symbol (see
// VELDAN_SHORT_RESULT), so that the upper half is ours to set.
uint32_t ShortResult(int16_t value);
// VELDAN_SHORT_RESULT(HostScanOpen, STDCALL, 24) names the symbol as a caller
// of the declaration refers to it, as the operation's line in the list says:
// decorated on Windows (_Name@bytes, _Name), plain in the native build.
#if defined(_WIN32)
#define VELDAN_SYMBOL_STDCALL(name, bytes) "_" #name "@" #bytes
#define VELDAN_SYMBOL_CDECL(name, bytes) "_" #name
#else
#define VELDAN_SYMBOL_STDCALL(name, bytes) #name
#define VELDAN_SYMBOL_CDECL(name, bytes) #name
#endif
#define VELDAN_SHORT_RESULT(name, convention, bytes) \
    __asm__(VELDAN_SYMBOL_##convention(name, bytes))
// What an operation that promises only a non-zero success returns for it.
int32_t OtherSuccess();

template <int32_t Ordinal>
struct Call {
    bool fail;  // a fault was injected: fail with the operation's failure value
    int32_t Open(int32_t own, int32_t count) const {
        static_assert(VsListed(kVsOpenResultOperations, Ordinal), "not an open result");
        return OpenResult(own, count);
    }
    int32_t Success() const {
        static_assert(VsListed(kVsOtherSuccessOperations, Ordinal), "not an other success");
        return OtherSuccess();
    }
    uint32_t Short(int16_t value) const {
        static_assert(VsShortResult(Ordinal), "not a 16-bit result");
        return ShortResult(value);
    }
};

// Enters a call: checks the process's state, counts it, logs it with its
// arguments and says whether it is to fail; log is its place in the call log,
// or -1. Left sets its result.
bool EnterCall(int32_t ordinal, int words, const void* frame, int& log);
void LeftCall(int log, uint32_t result);

template <typename Result>
uint32_t ResultWord(Result result) {
    if constexpr (std::is_pointer_v<Result>)
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(result));
    else
        return static_cast<uint32_t>(result);
}

template <int32_t Ordinal, typename Body>
auto Operation(const void* frame, Body body) {
    const HostTimeScope host_time;
    int log = -1;
    const Call<Ordinal> call{EnterCall(Ordinal, ArgumentWords(Ordinal), frame, log)};
    if constexpr (std::is_void_v<decltype(body(call))>) {
        body(call);
        LeftCall(log, 0);
        GiveBackWhatItMay(Ordinal);
    } else {
        const auto result = body(call);
        LeftCall(log, ResultWord(result));
        GiveBackWhatItMay(Ordinal);
        return result;
    }
}

// Raises an event through a table's hook slot from inside an operation,
// counting it as nested; the plug-in's time in it is not the host's.
int32_t RaiseNestedEvent(int32_t table, uint32_t event, uint32_t key, uint32_t a3, uint32_t a4,
                         uint32_t a6, uint32_t a8);

}  // namespace veldan
