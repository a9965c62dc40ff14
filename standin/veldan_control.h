// Control interface of the stand-in host library VELDAN.dll.
//
// The stand-in exports the host operations by ordinal only, exactly as the real
// host library does. These functions, exported by name, let the tests, the
// benchmark and the host program seed and inspect the document store, play the
// host's part (events, menu commands, the user's answers) and inject faults.
// All are cdecl. Texts are Mazovia bytes unless a name says UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/host_operations.h"
#include "host/host_records.h"

#if !defined(_WIN32)
// The native build (fuzz/) links the stand-in's code into each program.
#define VS_API extern "C"
#elif defined(VELDAN_BUILDING_DLL)
#define VS_API extern "C" __declspec(dllexport)
#else
#define VS_API extern "C" __declspec(dllimport)
#endif

// ---------------------------------------------------------------- the store
// Headers are kept in storage order; a document's lines are found by the
// document identifier (header offset 976) they belong to.

// Puts the whole of the stand-in's state back to its defaults at once
// (standin_state.h): an empty store, tables with their sizes and the host's
// own hooks, no menu commands, no selection, no scripts, no faults, no
// variation, empty logs, accounting and host time at zero, interface version
// 112; whatever the plug-in still holds is given back. Strict mode off (on
// when the environment holds VELDAN_STRICT=1, as the test suites set it).
VS_API void VsReset(void);

// Empties the store (headers and lines) and forgets the edited document;
// nothing else changes. The document file (documentfile/) fills the store
// through the functions below.
VS_API void VsClearStore(void);
// The document identifiers that have lines, in increasing order: up to
// capacity of them into ids. Returns how many there are.
VS_API int VsLineDocuments(int32_t* ids, int capacity);

VS_API int VsHeaderCount(void);
VS_API int VsAddHeader(const DocumentHeader* header);       // returns its position
VS_API int VsGetHeader(int position, DocumentHeader* out);  // 1 when the position exists
VS_API int VsPutHeader(int position, const DocumentHeader* header);
VS_API int VsFindHeader(int32_t document_id);  // first position with that identifier, or -1

VS_API int VsLineCount(int32_t document_id);
VS_API int VsAddLine(int32_t document_id, const DocumentItem* line);  // returns its index
VS_API int VsGetLine(int32_t document_id, int index, DocumentItem* out);
VS_API int VsPutLine(int32_t document_id, int index, const DocumentItem* line);

// Bytes of the records that the host keeps for itself and the plug-in never
// touches: a line's unit price (per unit, so a line's value is quantity / 1000
// times the price) and value, recomputed by the host's line and totals updates.
inline constexpr int kVsLineUnitPriceOffset = 210;  // double
inline constexpr int kVsLineValueOffset = 218;      // double, the line's gross value
// A cleared record: every byte zero, as the plug-in clears an order's line or
// header and as HostSaveLines drops a line.
inline bool VsCleared(const void* record, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(record);
    for (size_t i = 0; i < size; ++i)
        if (bytes[i] != 0)
            return false;
    return true;
}
template <typename Record>
bool VsCleared(const Record& record) {
    static_assert(!std::is_pointer_v<Record>, "the record, not its address");
    return VsCleared(&record, sizeof record);
}
// A header's kind, up to 4 characters: "ZK" an order, "WZ" an issue note.
inline constexpr int kVsHeaderKindOffset = 19;
inline constexpr int kVsHeaderKindLength = 4;

// ---------------------------------------------------------------- playing the host
// The host's table objects (44 and 45), as HostOpenTable returns them.
VS_API HostTable* VsTable(int32_t table);

// Opens a document for editing: its header goes into table 44's record buffer
// and its lines become the edited lines (key 806). 1 on success.
VS_API int VsOpenDocument(int32_t document_id);
// Raises event 239 on table 45 through its hook slot, with the given key, the
// edited lines (count, array, table, range) and the other slots zero. Returns the
// hook's result. The edited lines are stored when the hook saves them under 806.
VS_API int32_t VsRaiseLineEvent(uint16_t key);
// Stores table 44's record buffer as the edited document's header, then raises
// event 17152 on table 44 with the given key. Returns the hook's result.
VS_API int32_t VsStoreHeader(uint16_t key);
// Raises any event on a table through its hook slot with all eleven arguments.
VS_API int32_t VsRaiseEvent(int32_t table, const uint32_t args[11]);
// The key that the host passes with event 17152: the headers of the current
// record's customer.
inline constexpr uint16_t kVsKeyCustomerHeaders = 800;

// The host's own hooks count the events they receive and keep the last arguments.
VS_API int VsHostHookEvents(int32_t table);
VS_API const uint32_t* VsHostHookLastArguments(int32_t table);  // eleven slots
// Sets the result the host's own hook returns.
VS_API void VsSetHostHookResult(int32_t table, int32_t result);

// Runs a menu command as the host would: its handler with two 16-bit values.
// Returns the handler's result, or -1 when no handler is registered.
VS_API int32_t VsRunMenuCommand(int32_t command, uint16_t result, uint16_t phase);
VS_API MenuCommandHandler VsMenuHandler(int32_t command);  // null when absent

// The host's selection list. The stand-in copies the record.
VS_API void VsClearSelection(void);
VS_API int VsAddSelection(uint8_t flag, int32_t value, const DocumentHeader* record);

// The settings file of HostProfileValue (INI style, written atomically).
VS_API void VsSetProfilePath(const char* path);

// ---------------------------------------------------------------- the user's answers
// Queues the answer to the next call of a dialog operation (by its ordinal):
// HostQuestion returns answer; HostListDialog returns answer with the selection
// set to selection; HostNotice sets its flag to answer (selection unused).
// With nothing queued: questions answer yes (20481), list dialogs confirm row 0,
// notices leave the flag as it is.
VS_API void VsQueueAnswer(int32_t ordinal, int32_t answer, int32_t selection);

// Every call of a message, question, notice, text or dialog operation, with its
// exact bytes. Pointers stay valid until VsReset.
struct VsDialogCall {
    int32_t ordinal;
    const char* caption;        // HostMessage, HostQuestion; else ""
    const char* text;           // the text shown: formatted for HostQuestion
    const char* format;         // HostQuestion's format; else ""
    int32_t flags;              // HostMessage, HostQuestion
    int32_t dialog;             // HostListDialog, HostNotice
    const uint8_t* definition;  // HostListDialog: the whole block, length word included
    int32_t definition_size;
    int32_t flag_in;               // HostNotice: the flag as it came in
    int32_t rows;                  // HostListDialog: what the row callback gave for row -1
    const char* const* row_texts;  // HostListDialog: each row as the callback gave it, null
                                   // for a row it was not asked for
    int32_t result;                // what the stand-in answered
};
VS_API int VsDialogCallCount(void);
VS_API const VsDialogCall* VsDialogCallAt(int index);
// Empties this log and the call log (VsCallAt), so that a long run in one
// process does not grow them; earlier pointers into them become invalid, and
// index 0 is then the next call.
VS_API void VsClearLogs(void);

// The host program's own drawing of the dialogs. With a handler set, every
// message, question, notice, text and list dialog is handed to it as it
// happens, once logged (a list dialog's rows already fetched), and what it
// returns is the answer in place of the script: the result of HostQuestion
// and HostListDialog, the flag HostNotice leaves, the result of HostMessage
// and HostShowText. For a list dialog *selection comes in as the row the
// dialog opens on and goes out as the chosen row. A call made to fail by
// VsFailCall is not handed over. Null, and VsReset, go back to the script.
typedef int32_t (*VsDialogHandler)(const VsDialogCall* call, int32_t* selection);
VS_API void VsSetDialogHandler(VsDialogHandler handler);

// ---------------------------------------------------------------- faults and accounting
VS_API void VsSetInterfaceVersion(int32_t version);
VS_API void VsSetRecordSize(int32_t table, int16_t size);
VS_API void VsSetOpenTableFails(int32_t table, int fails);

// Makes the nth call (1 = the next) of one operation fail, once, with that
// operation's failure value (null, 0, or a 16-bit answer other than yes).
VS_API void VsFailCall(int32_t ordinal, int nth);
// Makes the nth host call of any operation (1 = the next) fail, once.
VS_API void VsFailNthCall(int nth);
VS_API int VsCallCount(int32_t ordinal);  // calls of one operation since VsReset
VS_API int VsTotalCalls(void);            // calls of all operations since VsReset

// The call log: every call of a host operation (and of the exception
// translator, ordinal 30005) since VsReset, in the order the calls began,
// each with its fixed arguments as the 32-bit words they were passed in and
// its result as it went back (a pointer as its address, a 16-bit result as
// its whole register, 0 for HostFree). Every operation fills it in the one
// way it runs (standin_state.h), so a test can see any operation's arguments
// without a recorder of its own; the dialog log above keeps what a dialog
// showed. The first kVsCallLogKept calls are kept.
inline constexpr int kVsCallLogKept = 100000;
inline constexpr int kVsCallArgumentWords = 14;  // 56 bytes, the most an operation takes
struct VsCall {
    int32_t ordinal;
    int32_t argument_words;
    uint32_t arguments[kVsCallArgumentWords];
    uint32_t result;   // 0 while the call runs, or when it was left by a long jump
    int32_t returned;  // nonzero once it has returned
};
// The index-th call (0 = the first), or null beyond the calls kept. Pointers
// stay valid until VsReset.
VS_API const VsCall* VsCallAt(int index);

// What the plug-in holds of what the host handed out.
enum VsResource { kVsRanges, kVsUpdates, kVsScans, kVsLineArrays, kVsHeapBlocks };
VS_API int VsOutstanding(int resource);

// Strict mode: every buffer handed to the plug-in ends at a page boundary
// followed by a no-access page, and a fault there is reported with the buffer's
// name before the process ends.
VS_API void VsSetStrict(int on);

// Misuses of the host heap and of line arrays: HostFree or HostRealloc of a
// block the host did not hand out (or freed already), HostFreeLines of an array
// given back before. Each is also reported on stderr.
VS_API int VsHeapErrors(void);

// ---------------------------------------------------------------- host variations
// Where the host interface leaves a result or a side effect open, the stand-in
// makes one choice by default; a variation makes another that the interface
// equally allows, so that tests can show the plug-in's outcome does not hang
// on the stand-in's choice. VsReset goes back to the defaults (all zero).

// The operations whose result the interface does not define or the plug-in
// must not consult. Each gives its result through the stand-in's one helper
// for them, which does not compile for an operation missing here.
inline constexpr int32_t kVsOpenResultOperations[] = {
    kOrdinalHostSetTableMode, kOrdinalHostMakeKey,      kOrdinalHostFreeRange,
    kOrdinalHostEndUpdate,    kOrdinalHostScanClose,    kOrdinalHostLoadLines,
    kOrdinalHostFreeLines,    kOrdinalHostSaveLines,    kOrdinalHostUpdateLine,
    kOrdinalHostUpdateLines,  kOrdinalHostUpdateTotals, kOrdinalHostMessage,
    kOrdinalHostShowText,     kOrdinalHostNotice,       kOrdinalHostRemoveMenuCommand,
    kOrdinalHostFormatDate,   kOrdinalHostConvertText,  kOrdinalHostCopyText,  // a pointer
};
// The operations that promise only a non-zero success; likewise checked.
inline constexpr int32_t kVsOtherSuccessOperations[] = {
    kOrdinalHostReadAt,   kOrdinalHostWriteAt,        kOrdinalHostBeginUpdate,
    kOrdinalHostScanOpen, kOrdinalHostAddMenuCommand,
};
// Whether an operation is in such a list.
template <int N>
constexpr bool VsListed(const int32_t (&list)[N], int32_t ordinal) {
    for (int32_t listed : list)
        if (listed == ordinal)
            return true;
    return false;
}
// The operations with a 16-bit result: those whose result
// host/host_operations.h declares int16_t.
constexpr bool VsShortResult(int32_t ordinal) {
#define VS_SHORT_RESULT(name, number, convention, bytes, result, params) \
    if (ordinal == number)                                               \
        return std::is_same_v<result, int16_t>;
    HOST_OPERATIONS(VS_SHORT_RESULT)
#undef VS_SHORT_RESULT
    return false;
}

// What open_results makes of the result of an operation in
// kVsOpenResultOperations.
enum VsOpenResult {
    kVsResultOwn,      // the stand-in's own value
    kVsResultZero,     // 0
    kVsResultOne,      // 1
    kVsResultCount,    // a count the operation has at hand: lines kept, characters written
    kVsResultGarbage,  // 0xDEADBEEF
};
inline constexpr uint32_t kVsGarbage = 0xDEADBEEFu;

// What HostSaveLines does with the cleared lines (all zero) of the array.
enum VsSaveLines {
    kVsSaveDropCleared,  // drops them from the store, compacts the array and lowers the count
    kVsSaveKeepCleared,  // stores every line as it is; array and count unchanged
};

// How HostListDialog asks the row callback for its rows. Either way it asks
// for the row count (row -1) first.
enum VsListRows {
    kVsRowsAllInOrder,  // every row once, 0 to count - 1, before the user answers
    // Only the nine rows on screen, those ending at the row the user will
    // choose, last to first and each twice, then a row past the end of the
    // list and one far outside it.
    kVsRowsShownOnly,
};

// The locale a host sets in the C runtime it shares with the plug-in.
enum VsLocale {
    kVsLocaleAsFound,  // the runtime's own ("C")
    kVsLocalePolish,   // setlocale(LC_ALL, "Polish"): a decimal comma
    kVsLocaleGerman,   // setlocale(LC_ALL, "German")
};

// The switches of a variation, one line each: VsVariation's fields, the
// tests' variation that makes every interface choice otherwise at once
// (kVsEveryInterfaceVariation), the road table's runs (one per switch, named
// here) and the stand-in's test of each switch (tests/standin/faults_test.cpp,
// which does not compile without a check for every switch) all follow from it.
//
// X(field, kind, value, name): kind is Interface (a choice the host interface
// leaves open) or Process (the state of the host's process); value is the
// choice other than the default (0) that the tests make, and name their name
// for a run under it. What each switch does:
//
// open_results      VsOpenResult, for the operations in kVsOpenResultOperations.
// wide_short        nonzero: 16-bit results with garbage in the upper half.
// save_lines        VsSaveLines.
// copy_zero_fill    nonzero: HostCopyText zero-fills the rest of its n characters.
// list_rows         VsListRows.
// nested_events     nonzero: HostWriteAt of a header raises event 17152 on table 44
//                   (key 800), and HostSaveLines under key 806 raises event 239 with
//                   key 806 and the lines it stored, each after its work is done.
// other_success     nonzero: the operations in kVsOtherSuccessOperations succeed with
//                   0xDEADBEEF (0xBEEF in 16 bits).
// The host process's own state, set by VsSetVariation in the calling thread
// and expected at every host operation and in the host's own hooks from then
// on (VsProcessStateViolations); 0 leaves it as found:
// x87_control       the x87 control word, e.g. 0x1332 (invalid operation, division by
//                   zero and overflow unmasked, extended precision) or 0x027F.
// mxcsr             MXCSR, e.g. 0x1900 (the same exceptions unmasked).
// locale            VsLocale.
// dialog_long_jump  nonzero: the first HostQuestion or HostListDialog in a line event
//                   that VsRaiseLineEvent raised leaves by a long jump back there, past
//                   the plug-in's frames, unanswered and out of the dialog log; the host
//                   then takes the event's lines back, puts the edited document into the
//                   record buffer again and raises the event once more.
// reuse_addresses   nonzero: the host's heap hands out the most recently freed address
//                   first (to a block that fits there: handles, lines, line arrays, heap
//                   blocks, the selection list), and in every line event VsRaiseLineEvent
//                   raises, each table gets its record buffer anew at the same address,
//                   table 44 with a record size 8 bytes larger, and again after it with its
//                   own.
// release_blocks    nonzero: the host gives back what it may: after every operation but
//                   HostSelectionCount and HostSelectionEntries its selection list is
//                   handed out anew and the old blocks freed, and at every line event
//                   VsRaiseLineEvent raises each table gets a new record buffer elsewhere.
// The plug-in's diagnostics as a guest of the host's process, which the host
// may run in ways that its trace must survive (with the trace off they change
// nothing the plug-in does):
// other_stack       nonzero: a list dialog asks the plug-in's row callback for its rows
//                   from a fiber of its own, on another stack than the one the plug-in
//                   called the dialog on.
// write_long_jump   nonzero: the host answers for the system at the import table of the
//                   module whose hook gets a line event VsRaiseLineEvent raises, and the
//                   first WriteFile made there in the event leaves by a long jump back
//                   to VsRaiseLineEvent, which then raises the event once more.
// thread_reuse      nonzero: every line event VsRaiseLineEvent raises runs on a thread of
//                   its own, the event's first HostQuestion or HostListDialog ends that
//                   thread, and the host raises the event once more on another; the
//                   hook's module, at its import table, gets one thread identifier for
//                   every thread, as if each ended thread's identifier went to the next.
enum VsSwitchKind { kVsSwitchInterface, kVsSwitchProcess };
/* clang-format off */
#define VS_VARIATION_SWITCHES(X) \
    X(open_results,     Interface, kVsResultGarbage,   "results-garbage") \
    X(wide_short,       Interface, 1,                  "short-results-garbage-above") \
    X(save_lines,       Interface, kVsSaveKeepCleared, "save-keeps-cleared-lines") \
    X(copy_zero_fill,   Interface, 1,                  "copy-text-zero-fills") \
    X(list_rows,        Interface, kVsRowsShownOnly,   "list-asks-shown-rows-only") \
    X(nested_events,    Interface, 1,                  "events-from-inside-operations") \
    X(other_success,    Interface, 1,                  "success-other-than-one") \
    X(x87_control,      Process,   0x1332,             "x87-exceptions-unmasked") \
    X(mxcsr,            Process,   0x1900,             "sse-exceptions-unmasked") \
    X(locale,           Process,   kVsLocalePolish,    "locale-polish") \
    X(dialog_long_jump, Process,   1,                  "dialog-left-by-long-jump") \
    X(reuse_addresses,  Interface, 1,                  "heap-reuses-addresses") \
    X(release_blocks,   Interface, 1,                  "host-gives-back-what-it-may") \
    X(other_stack,      Process,   1,                  "row-callback-on-another-stack") \
    X(write_long_jump,  Process,   1,                  "trace-write-left-by-long-jump") \
    X(thread_reuse,     Process,   1,                  "events-on-threads-that-end")
/* clang-format on */

struct VsVariation {
#define VS_VARIATION_FIELD(field, kind, value, name) int field;
    VS_VARIATION_SWITCHES(VS_VARIATION_FIELD)
#undef VS_VARIATION_FIELD
};

// Every choice the host interface leaves open made otherwise at once: each
// Interface switch at its value, the process as found.
inline constexpr VsVariation kVsEveryInterfaceVariation = [] {
    VsVariation variation{};
#define VS_VARIATION_INTERFACE(field, kind, value, name) \
    if (kVsSwitch##kind == kVsSwitchInterface)           \
        variation.field = value;
    VS_VARIATION_SWITCHES(VS_VARIATION_INTERFACE)
#undef VS_VARIATION_INTERFACE
    return variation;
}();

// Null goes back to the defaults; the process's state stays as it is then.
VS_API void VsSetVariation(const VsVariation* variation);
// Times a host operation or one of the host's own hooks began while the
// x87 control word, MXCSR's control bits or the C runtime's locale differed
// from what the variation set, the state now included; 0 when it set none.
VS_API int VsProcessStateViolations(void);
// Events the stand-in raised from inside its own operations (nested_events),
// included in VsHostHookEvents when they reach the host's own hook.
VS_API int VsNestedEvents(int32_t table);
// Row callback answers that no host could show: a text that is not empty for
// a row outside the list, or a text for a row other than the one the callback
// gave for it before in the same dialog; over all list dialogs since VsReset.
VS_API int VsOddRowTexts(void);

// ---------------------------------------------------------------- host time
// With timing on, every host operation adds the time it runs to an account of
// host time; the time the plug-in's row callback takes during a list dialog is
// left out. VsRaiseLineEvent counts its own work (handing out the event's
// lines and taking them back) as host time, the hook's run not. The account
// is kept in cycles of the processor's time-stamp counter: reading it costs
// nanoseconds, where QueryPerformanceCounter is a system call under Wine that
// takes longer than many operations. Reading it still costs something: when
// timing is switched on, the stand-in measures what, and books each operation
// net of the clock's part within it; the clock's whole cost goes to an
// account of its own, which a caller timing from outside takes off its own
// figure. Off (the default, and after VsReset, which also zeroes both
// accounts), an operation pays one flag test.
VS_API void VsSetTiming(int on);
VS_API int64_t VsHostTime(void);       // time-stamp counter cycles
VS_API int64_t VsHostClockTime(void);  // time-stamp counter cycles
// Replaces the clock the account reads (the time-stamp counter) with another
// function, so that tests can drive it; null puts the counter back, and so
// does VsReset. Switched while timing is on, the clock's cost is measured
// again on the new clock. Not to be called from within a host operation.
VS_API void VsSetTimingClock(uint64_t (*clock)(void));
