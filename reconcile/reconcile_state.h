// The reconciliation's process-wide state, all of it in one object.
//
// Each module of reconcile/ keeps its state in a type of its own, declared in
// its own header with what it means and how long it lives, and reaches it
// there by the module's name for it (HookChain, TableHooks, WzTrigger,
// Remarks, OrderChoice, Journal); this object holds them all, so that a
// reader finds every variable of the reconciliation from here and a test
// that links the plug-in's code puts all of it back as loaded with one call.
// Everything is touched only on the host's thread that raises the event or
// runs the command, one at a time, and takes no lock.
#pragma once

#include "reconcile/comparison_journal.h"
#include "reconcile/hook_chain.h"
#include "reconcile/line_table_hook.h"
#include "reconcile/order_choice.h"
#include "reconcile/order_number_remarks.h"
#include "reconcile/table_hooks.h"

// The parts, each a module's state (its type, declared in the module's
// header, and the module's name for it): X(type, name).
#define RECONCILE_STATE_PARTS(X)                                \
    X(HookChainState, HookChain)     /* hook_chain */           \
    X(TableHooksState, TableHooks)   /* table_hooks */          \
    X(WzTriggerState, WzTrigger)     /* line_table_hook */      \
    X(RemarksState, Remarks)         /* order_number_remarks */ \
    X(OrderChoiceState, OrderChoice) /* order_choice */         \
    X(JournalRecord, Journal)        /* comparison_journal */

struct ReconcileState {
#define RECONCILE_STATE_MEMBER(type, name) type name = {};
    RECONCILE_STATE_PARTS(RECONCILE_STATE_MEMBER)
#undef RECONCILE_STATE_MEMBER
};

extern constinit ReconcileState Reconcile;

// The reconciliation as loaded: no hook, no command, no list, nothing
// pending. The journal's block is given back; a block of the host's heap is
// the host's to reset. For tests that link the plug-in's code; the plug-in
// itself never calls it.
void ResetReconcileState();
