// The reconciliation's process-wide state, all of it in one object.
//
// A reader finds every variable of reconcile/ here, and the types of them,
// so that this file stands below the modules that keep their state in it; a
// test that links the plug-in's code puts all of it back as loaded with one
// call. Everything is
// touched only on the host's thread that raises the event or runs the
// command, one at a time, and takes no lock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/frame_state.h"  // RecordSizeCheck
#include "frame/platform.h"
#include "frame/text_builder.h"
#include "host/host_records.h"
#include "reconcile/nested_events.h"

// ------------------------------------------------------------------ the state's types

// A table our hook is in, with the hook it replaced (reconcile/table_hooks.cpp).
struct HookedTable {
    HostTable* table;
    TableEventHook previous;
};

// One order offered in the order list (reconcile/order_choice.cpp).
struct OrderCandidate {
    char number[kNumberLength + 1];  // the header's document number, terminated
    // The gross value in units (the header stores it multiplied by 10,000):
    // an IEEE double, kept as its bits (frame/float_scope.h says why).
    uint64_t gross_bits;
    char issue_date[kDateTextLength + 1];  // as HostFormatDate writes it, terminated
    int32_t document_id;                   // what the comparison receives
};

// The orders offered, in a block of the host's heap grown 30 entries at a time.
struct OrderCandidates {
    OrderCandidate* entries;  // null when no block is held
    int32_t count;
    int32_t capacity;  // a multiple of 30
};

// The text of the row OrderRowText hands the host, with its terminator.
inline constexpr size_t kRowTextBufferSize = 512;

// The remarks command 350 takes: at most 100 characters and a terminator.
inline constexpr size_t kPendingRemarksSize = kRemarksLength + 1;

// The record of the comparison at work (reconcile/comparison_journal.cpp):
// the WZ and the order that every row names, when, and the rows so far, the
// header row first, in a block of the C runtime's heap that grows as rows
// come.
struct JournalRecord {
    char wz_number[kNumberLength + 1] = {};
    int32_t wz_id = 0;
    char order_number[kNumberLength + 1] = {};
    int32_t order_id = 0;
    PlatformTime time = {};
    TextBuilder text = TextBuilder::Growing(4096);
    size_t rows = 0;
    bool lost = false;  // a row could not be kept: the record is not written
};

// ------------------------------------------------------------------ the state

struct ReconcileState {
    // The table hooks and command 350 (reconcile/table_hooks.cpp), from the
    // installation to the stop: the installation's own record-size tests,
    // the hooked tables with the hooks ours replaced, and what
    // HostAddMenuCommand returned (nonzero while the command is in place; its
    // removal does not reset it).
    RecordSizeCheck InstallHeaderCheck = {kHeaderRecordSize, 0, nullptr, nullptr};
    RecordSizeCheck InstallLineCheck = {kLineRecordSize, 0, nullptr, nullptr};
    HookedTable HeaderHook = {nullptr, nullptr};
    HookedTable LineHook = {nullptr, nullptr};
    int32_t CommandMark = 0;

    // The guards against nested events (reconcile/nested_events.h): the
    // active run of the WZ comparison (reconcile/line_table_hook.cpp) and of
    // the remarks' writing (reconcile/order_number_remarks.cpp), while the
    // hook is at work.
    EventGuard ComparingWz = {};
    EventGuard WritingRemarks = {};

    // The order choice (reconcile/order_choice.cpp), during one Ctrl+9: the
    // orders offered, in a block of host heap, and the text of the row the
    // host asked for last.
    OrderCandidates OrderCandidateList = {nullptr, 0, 0};
    char RowTextBuffer[kRowTextBufferSize] = {};

    // Command 350 (reconcile/order_number_remarks.cpp): the remarks waiting
    // to be written, from the command to the next.
    char PendingRemarks[kPendingRemarksSize] = {};

    // The journal's record of the comparison at work
    // (reconcile/comparison_journal.cpp), in a block of the C runtime's heap.
    JournalRecord Journal = {};
};

extern constinit ReconcileState Reconcile;

// The reconciliation as loaded: no hook, no command, no list, nothing
// pending. The journal's block is given back; a block of the host's heap is
// the host's to reset. For tests that link the plug-in's code; the plug-in
// itself never calls it.
void ResetReconcileState();
