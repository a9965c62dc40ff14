// The stand-in host's state, its table objects and the control interface by
// which tests and the host program play the host's part.
#include <algorithm>
#include <clocale>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "standin/standin_state.h"

namespace veldan {

// Before the library's start-up below, which resets it.
State state;

namespace {

// The two table objects live as long as the process, at fixed addresses, as the
// plug-in relies on; VsReset restores them in place.
HostTable tables[2];

template <int Slot>
int32_t HOST_STDCALL OwnHook(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                             uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                             uint32_t a11) {
    CheckProcessState();
    HookRecord& hook = S().hooks[Slot];
    const uint32_t args[11] = {event, key, a3, a4, a5, a6, a7, a8, a9, a10, a11};
    memcpy(hook.last, args, sizeof args);
    ++hook.events;
    return hook.result;
}

constexpr TableEventHook kOwnHooks[2] = {OwnHook<0>, OwnHook<1>};

void Tick(std::vector<int>& countdowns, bool& fail) {
    for (auto it = countdowns.begin(); it != countdowns.end();) {
        if (--*it == 0) {
            fail = true;
            it = countdowns.erase(it);
        } else {
            ++it;
        }
    }
}

// VELDAN_STRICT=1 in the environment makes every reset, and so the library's
// own start, strict: a whole test suite runs guarded without each test asking.
// VsSetStrict still switches either way afterwards.
bool StrictByDefault() {
    const char* value = getenv("VELDAN_STRICT");
    return value != nullptr && strcmp(value, "1") == 0;
}

}  // namespace

HostTable* TableObject(int32_t table) {
    const int slot = TableSlot(table);
    return slot < 0 ? nullptr : &tables[slot];
}

int TableSlot(int32_t table) {
    if (table == kHeaderTable)
        return 0;
    if (table == kLineTable)
        return 1;
    return -1;
}

size_t RecordBytes(int32_t table) {
    return table == kHeaderTable ? sizeof(DocumentHeader) : sizeof(DocumentItem);
}

bool EnterCall(int32_t ordinal, int words, const void* frame, int& log) {
    State& s = S();
    if (s.keeps_process_state)
        CheckProcessState();
    ++s.calls[ordinal];
    ++s.total_calls;
    log = -1;
    if (s.call_log.size() < static_cast<size_t>(kVsCallLogKept)) {
        // Above the frame: the caller's frame pointer and the return address,
        // then the arguments as the caller pushed them.
        const auto* arguments = static_cast<const uint32_t*>(frame) + 2;
        VsCall& call = s.call_log.emplace_back();
        call.ordinal = ordinal;
        call.argument_words = words;
        std::copy(arguments, arguments + words, call.arguments);
        log = static_cast<int>(s.call_log.size()) - 1;
    }
    bool fail = false;
    Tick(s.fail_any, fail);
    auto found = s.fail_ordinal.find(ordinal);
    if (found != s.fail_ordinal.end())
        Tick(found->second, fail);
    return fail;
}

void LeftCall(int log, uint32_t result) {
    auto& calls = S().call_log;
    if (log >= 0 && static_cast<size_t>(log) < calls.size()) {
        calls[log].result = result;
        calls[log].returned = 1;
    }
}

int32_t OpenResult(int32_t own, int32_t count) {
    switch (S().variation.open_results) {
        case kVsResultZero:
            return 0;
        case kVsResultOne:
            return 1;
        case kVsResultCount:
            return count;
        case kVsResultGarbage:
            return static_cast<int32_t>(kVsGarbage);
    }
    return own;
}

int32_t OtherSuccess() {
    return S().variation.other_success ? static_cast<int32_t>(kVsGarbage) : 1;
}

uint32_t ShortResult(int16_t value) {
    const uint32_t low = static_cast<uint16_t>(value);
    return S().variation.wide_short ? (0xBEEF0000u | low) : low;
}

int32_t RaiseNestedEvent(int32_t table, uint32_t event, uint32_t key, uint32_t a3, uint32_t a4,
                         uint32_t a6, uint32_t a8) {
    HostTable* object = TableObject(table);
    ++S().nested_events[TableSlot(table)];
    const PluginTimeScope plugin_time;
    return object->hook(event, key, a3, a4, 0, a6, 0, a8, 0, 0, 0);
}

}  // namespace veldan

using namespace veldan;

// ---------------------------------------------------------------- the store

VS_API void VsReset(void) {
    // Whatever the plug-in still holds goes back with the state that owns it.
    S() = State{};
    SetStrictAllocation(StrictByDefault());
    for (int slot = 0; slot < 2; ++slot) {
        HostTable& table = tables[slot];
        Release(table.record);
        memset(reinterpret_cast<uint8_t*>(&table), 0, sizeof table);
        table.record_size = S().record_size[slot];
        table.hook = kOwnHooks[slot];
    }
    HandOutStandingBuffers();
}

VS_API void VsClearStore(void) {
    State& s = S();
    s.store = Store{};
    s.edited_document = 0;
    s.edited_position = -1;
}

VS_API int VsLineDocuments(int32_t* ids, int capacity) {
    int count = 0;
    for (const auto& [id, lines] : S().store.lines) {
        if (lines.empty())
            continue;
        if (ids && count < capacity)
            ids[count] = id;
        ++count;
    }
    return count;
}

VS_API int VsHeaderCount(void) {
    return static_cast<int>(S().store.headers.size());
}

VS_API int VsAddHeader(const DocumentHeader* header) {
    auto& headers = S().store.headers;
    headers.push_back(*header);
    return static_cast<int>(headers.size()) - 1;
}

VS_API int VsGetHeader(int position, DocumentHeader* out) {
    const auto& headers = S().store.headers;
    if (position < 0 || position >= static_cast<int>(headers.size()))
        return 0;
    *out = headers[position];
    return 1;
}

VS_API int VsPutHeader(int position, const DocumentHeader* header) {
    auto& headers = S().store.headers;
    if (position < 0 || position >= static_cast<int>(headers.size()))
        return 0;
    headers[position] = *header;
    return 1;
}

VS_API int VsFindHeader(int32_t document_id) {
    const auto& headers = S().store.headers;
    for (size_t i = 0; i < headers.size(); ++i)
        if (headers[i].document_id == document_id)
            return static_cast<int>(i);
    return -1;
}

VS_API int VsLineCount(int32_t document_id) {
    const auto& lines = S().store.lines;
    auto found = lines.find(document_id);
    return found == lines.end() ? 0 : static_cast<int>(found->second.size());
}

VS_API int VsAddLine(int32_t document_id, const DocumentItem* line) {
    auto& lines = S().store.lines[document_id];
    lines.push_back(*line);
    return static_cast<int>(lines.size()) - 1;
}

VS_API int VsGetLine(int32_t document_id, int index, DocumentItem* out) {
    const auto& lines = S().store.lines;
    auto found = lines.find(document_id);
    if (found == lines.end() || index < 0 || index >= static_cast<int>(found->second.size()))
        return 0;
    *out = found->second[index];
    return 1;
}

VS_API int VsPutLine(int32_t document_id, int index, const DocumentItem* line) {
    auto& lines = S().store.lines;
    auto found = lines.find(document_id);
    if (found == lines.end() || index < 0 || index >= static_cast<int>(found->second.size()))
        return 0;
    found->second[index] = *line;
    return 1;
}

// ---------------------------------------------------------------- playing the host

VS_API HostTable* VsTable(int32_t table) {
    return TableObject(table);
}

VS_API int VsOpenDocument(int32_t document_id) {
    const int position = VsFindHeader(document_id);
    if (position < 0)
        return 0;
    State& s = S();
    memcpy(TableObject(kHeaderTable)->record, &s.store.headers[position], sizeof(DocumentHeader));
    s.edited_document = document_id;
    s.edited_position = position;
    return 1;
}

namespace {

// The lines handed out with one line event, until they are taken back.
struct EventLines {
    LineArray lines;
    OwnedBlock count;
    const Range* range = nullptr;
    int32_t* Count() const { return static_cast<int32_t*>(count.get()); }
};

EventLines HandOutEditedLines() {
    State& s = S();
    // The event's lines belong to the host: copies of the stored lines, stored
    // again only when the hook saves them under key 806.
    std::vector<DocumentItem> stored;
    auto found = s.store.lines.find(s.edited_document);
    if (found != s.store.lines.end())
        stored = found->second;

    std::vector<const void*> records;
    for (const DocumentItem& line : stored)
        records.push_back(&line);
    EventLines event;
    event.lines = HandOutLines(records, "line array of the line event", "line of the line event");
    event.count = OwnedBlock(Allocate(sizeof(int32_t), "line count of the line event"));
    *event.Count() = static_cast<int32_t>(stored.size());
    Range range{kLineTable, kKeyEditedLines, s.edited_document, {}};
    for (size_t i = 0; i < stored.size(); ++i)
        range.positions.push_back(static_cast<int>(i));
    event.range = HandOut(s.ranges, std::move(range));
    return event;
}

// Gives the event's lines back now: a dialog that left by a long jump
// returns past the scope that would.
void TakeBack(EventLines& event) {
    S().ranges.erase(event.range);
    event = EventLines{};
}

// The guest's imports diverted for one line event, and put back after it.
struct GuestImports {
    DivertedImports diverted;

    explicit GuestImports(TableEventHook hook) {
        const State& s = S();
        if (s.variation.write_long_jump != 0 || s.variation.thread_reuse != 0)
            diverted =
                DivertGuestImports(reinterpret_cast<const void*>(hook),
                                   s.variation.write_long_jump != 0, s.variation.thread_reuse != 0);
    }
    ~GuestImports() { RestoreGuestImports(diverted); }
    GuestImports(const GuestImports&) = delete;
    GuestImports& operator=(const GuestImports&) = delete;
};

// The hook's call with the event's lines, and its result.
int32_t CallLineHook(uint16_t key, EventLines& event) {
    HostTable* table = TableObject(kLineTable);
    const PluginTimeScope plugin_time;
    return table->hook(kEventLines, key, reinterpret_cast<uintptr_t>(event.Count()),
                       reinterpret_cast<uintptr_t>(event.lines.Items()), 0,
                       reinterpret_cast<uintptr_t>(table), 0,
                       reinterpret_cast<uintptr_t>(event.range), 0, 0, 0);
}

struct EventOnThread {
    uint16_t key;
    EventLines* event;
    int32_t result;
};

void RaiseOnThread(void* argument) {
    auto* raised = static_cast<EventOnThread*>(argument);
    S().on_event_thread = true;
    raised->result = CallLineHook(raised->key, *raised->event);
    S().on_event_thread = false;
}

// thread_reuse: the hook called on a thread of its own; false when a dialog
// ended the thread.
bool CallLineHookOnThread(uint16_t key, EventLines& event, int32_t& result) {
    EventOnThread raised{key, &event, 0};
    const bool whole = RunOnThreadOfItsOwn(RaiseOnThread, &raised);
    S().on_event_thread = false;
    result = raised.result;
    return whole;
}

}  // namespace

VS_API int32_t VsRaiseLineEvent(uint16_t key) {
    const HostTimeScope host_time;
    State& s = S();
    if (s.variation.release_blocks != 0)
        HandOutRecordBuffers();  // elsewhere: the old ones are freed
    if (s.variation.reuse_addresses != 0)
        HandOutRecordBuffersAgain(kRecordGrowth);
    EventLines event = HandOutEditedLines();
    const GuestImports imports(TableObject(kLineTable)->hook);
    // A dialog or a write that leaves by a long jump lands here, past the plug-in.
    std::jmp_buf left_to;
    const bool may_leave =
        s.variation.thread_reuse == 0 && ((s.variation.dialog_long_jump != 0 && !s.dialog_left) ||
                                          (s.variation.write_long_jump != 0 && !s.write_left));
    if (may_leave && s.dialog_exit == nullptr) {
        if (setjmp(left_to) != 0) {
            s.dialog_exit = nullptr;
            TakeBack(event);
            VsOpenDocument(s.edited_document);
            return VsRaiseLineEvent(key);
        }
        s.dialog_exit = &left_to;
    }

    int32_t result = 0;
    if (s.variation.thread_reuse != 0) {
        // A dialog that ended the event's thread: the event again, on another.
        while (!CallLineHookOnThread(key, event, result)) {
            TakeBack(event);
            VsOpenDocument(s.edited_document);
            event = HandOutEditedLines();
        }
    } else {
        result = CallLineHook(key, event);
    }
    if (s.dialog_exit == &left_to)
        s.dialog_exit = nullptr;
    TakeBack(event);
    if (s.variation.reuse_addresses != 0)
        HandOutRecordBuffersAgain(0);
    return result;
}

VS_API int32_t VsStoreHeader(uint16_t key) {
    State& s = S();
    HostTable* table = TableObject(kHeaderTable);
    auto& headers = s.store.headers;
    DocumentHeader header;
    memcpy(&header, table->record, sizeof header);
    if (s.edited_position >= 0 && s.edited_position < static_cast<int>(headers.size())) {
        headers[s.edited_position] = header;
    } else {
        // A header stored with no document open is a new document.
        headers.push_back(header);
        s.edited_position = static_cast<int>(headers.size()) - 1;
        s.edited_document = header.document_id;
    }
    return table->hook(kEventHeaderStored, key, 0, 0, 0, 0, 0, 0, 0, 0, 0);
}

VS_API int32_t VsRaiseEvent(int32_t table, const uint32_t args[11]) {
    HostTable* object = TableObject(table);
    if (!object)
        return 0;
    return object->hook(args[0], args[1], args[2], args[3], args[4], args[5], args[6], args[7],
                        args[8], args[9], args[10]);
}

VS_API int VsHostHookEvents(int32_t table) {
    const int slot = TableSlot(table);
    return slot < 0 ? 0 : S().hooks[slot].events;
}

VS_API const uint32_t* VsHostHookLastArguments(int32_t table) {
    static const uint32_t none[11] = {};
    const int slot = TableSlot(table);
    return slot < 0 ? none : S().hooks[slot].last;
}

VS_API void VsSetHostHookResult(int32_t table, int32_t result) {
    const int slot = TableSlot(table);
    if (slot >= 0)
        S().hooks[slot].result = result;
}

VS_API int32_t VsRunMenuCommand(int32_t command, uint16_t result, uint16_t phase) {
    MenuCommandHandler handler = VsMenuHandler(command);
    if (!handler)
        return -1;
    return handler(result, phase);
}

VS_API MenuCommandHandler VsMenuHandler(int32_t command) {
    const auto& menu = S().menu;
    auto found = menu.find(command);
    return found == menu.end() ? nullptr : found->second;
}

VS_API void VsClearSelection(void) {
    State& s = S();
    s.selection_flags.clear();
    s.selection_records.clear();
    RebuildSelection();
}

VS_API int VsAddSelection(uint8_t flag, int32_t value, const DocumentHeader* record) {
    State& s = S();
    s.selection_flags.emplace_back(flag, value);
    s.selection_records.push_back(*record);
    RebuildSelection();
    return static_cast<int>(s.selection_records.size()) - 1;
}

// ---------------------------------------------------------------- the user's answers

VS_API void VsQueueAnswer(int32_t ordinal, int32_t answer, int32_t selection) {
    S().answers[ordinal].push_back(Answer{answer, selection});
}

VS_API int VsDialogCallCount(void) {
    return static_cast<int>(S().dialogs.size());
}

VS_API void VsClearLogs(void) {
    S().dialogs.clear();
    S().call_log.clear();
}

VS_API const VsDialogCall* VsDialogCallAt(int index) {
    auto& dialogs = S().dialogs;
    if (index < 0 || index >= static_cast<int>(dialogs.size()))
        return nullptr;
    return &dialogs[index].call;
}

// ---------------------------------------------------------------- faults and accounting

VS_API void VsSetInterfaceVersion(int32_t version) {
    S().interface_version = version;
}

VS_API void VsSetRecordSize(int32_t table, int16_t size) {
    const int slot = TableSlot(table);
    if (slot < 0)
        return;
    S().record_size[slot] = size;
    TableObject(table)->record_size = size;
    HandOutRecordBuffers();
}

VS_API void VsSetOpenTableFails(int32_t table, int fails) {
    const int slot = TableSlot(table);
    if (slot >= 0)
        S().open_fails[slot] = fails != 0;
}

VS_API void VsFailCall(int32_t ordinal, int nth) {
    if (nth >= 1)
        S().fail_ordinal[ordinal].push_back(nth);
}

VS_API void VsFailNthCall(int nth) {
    if (nth >= 1)
        S().fail_any.push_back(nth);
}

VS_API int VsCallCount(int32_t ordinal) {
    const auto& calls = S().calls;
    auto found = calls.find(ordinal);
    return found == calls.end() ? 0 : found->second;
}

VS_API int VsTotalCalls(void) {
    return S().total_calls;
}

VS_API const VsCall* VsCallAt(int index) {
    const auto& calls = S().call_log;
    return index >= 0 && static_cast<size_t>(index) < calls.size() ? &calls[index] : nullptr;
}

VS_API int VsOutstanding(int resource) {
    const State& s = S();
    switch (resource) {
        case kVsRanges:
            return static_cast<int>(s.ranges.size());
        case kVsUpdates:
            return static_cast<int>(s.updates.size());
        case kVsScans:
            return static_cast<int>(s.scans.size());
        case kVsLineArrays:
            return static_cast<int>(s.line_arrays.size() + s.line_aux.size());
        case kVsHeapBlocks:
            return static_cast<int>(s.heap_blocks.size());
    }
    return 0;
}

VS_API void VsSetStrict(int on) {
    if (StrictAllocation() == (on != 0))
        return;
    SetStrictAllocation(on != 0);
    HandOutStandingBuffers();
}

VS_API int VsHeapErrors(void) {
    return S().heap_errors;
}

namespace {
// The library starts in the state VsReset gives, so a host program that never
// calls it still finds its tables.
struct Startup {
    Startup() { VsReset(); }
} startup;
}  // namespace

// ---------------------------------------------------------------- host variations

namespace veldan {
namespace {

void ReadProcessState(uint16_t& x87_control, uint32_t& mxcsr, std::string& locale) {
    asm volatile("fnstcw %0\n\tstmxcsr %1" : "=m"(x87_control), "=m"(mxcsr));
    mxcsr &= 0xFFC0;  // the control bits; the flags are any computation's
    const char* name = setlocale(LC_ALL, nullptr);
    locale = name != nullptr ? name : "";
}

}  // namespace

void CheckProcessState() {
    State& s = S();
    if (!s.keeps_process_state)
        return;
    uint16_t x87_control;
    uint32_t mxcsr;
    std::string locale;
    ReadProcessState(x87_control, mxcsr, locale);
    if (x87_control != s.x87_control || mxcsr != s.mxcsr || locale != s.locale)
        ++s.process_state_violations;
}

void LeaveDialogByLongJump(DialogRecord& record) {
    State& s = S();
    const bool end_thread = s.variation.thread_reuse != 0 && s.on_event_thread && !s.thread_ended;
    if (!end_thread &&
        (s.variation.dialog_long_jump == 0 || s.dialog_exit == nullptr || s.dialog_left))
        return;
    {
        DialogRecord emptied;
        std::swap(record, emptied);  // what the record held goes with emptied
    }
    if (end_thread) {
        s.thread_ended = true;
        EndThisThread();
    }
    s.dialog_left = true;
    std::longjmp(*s.dialog_exit, 1);
}

void GiveBackWhatItMay(int32_t ordinal) {
    if (S().variation.release_blocks != 0 && ordinal != kOrdinalHostSelectionCount &&
        ordinal != kOrdinalHostSelectionEntries)
        RebuildSelection();
}

}  // namespace veldan

VS_API void VsSetVariation(const VsVariation* variation) {
    State& s = S();
    s.variation = variation ? *variation : VsVariation{};
    s.dialog_exit = nullptr;
    s.dialog_left = false;
    s.write_left = false;
    s.thread_ended = false;
    s.process_state_violations = 0;
    // What stands handed out is handed out again as the variation has it.
    HandOutStandingBuffers();
    const VsVariation& v = s.variation;
    if (v.x87_control != 0) {
        const auto control = static_cast<uint16_t>(v.x87_control);
        asm volatile("fnclex\n\tfldcw %0" : : "m"(control));
    }
    if (v.mxcsr != 0) {
        const auto mxcsr = static_cast<uint32_t>(v.mxcsr);
        asm volatile("ldmxcsr %0" : : "m"(mxcsr));
    }
    if (v.locale != kVsLocaleAsFound)
        setlocale(LC_ALL, v.locale == kVsLocalePolish ? "Polish" : "German");
    s.keeps_process_state = v.x87_control != 0 || v.mxcsr != 0 || v.locale != kVsLocaleAsFound;
    ReadProcessState(s.x87_control, s.mxcsr, s.locale);
}

VS_API int VsProcessStateViolations(void) {
    CheckProcessState();
    return S().process_state_violations;
}

VS_API int VsNestedEvents(int32_t table) {
    const int slot = TableSlot(table);
    return slot < 0 ? 0 : S().nested_events[slot];
}

VS_API int VsOddRowTexts(void) {
    return S().odd_row_texts;
}
