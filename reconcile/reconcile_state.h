// The reconciliation's process-wide state, all of it in one object.
//
// A reader finds every variable of reconcile/ here; a test that links the
// plug-in's code puts all of it back as loaded with one call. Everything is
// touched only on the host's thread that raises the event or runs the
// command, one at a time, and takes no lock.
#pragma once

#include <cstdint>

#include "frame/compatibility.h"
#include "reconcile/comparison_journal.h"
#include "reconcile/nested_events.h"
#include "reconcile/order_choice.h"
#include "reconcile/order_number_remarks.h"
#include "reconcile/table_hooks.h"

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
