#include "reconcile/reconcile_state.h"

#include <memory>

constinit ReconcileState Reconcile;

// Each module's name for its part.
constinit HookChainState& HookChain = Reconcile.HookChain;
constinit TableHooksState& TableHooks = Reconcile.TableHooks;
constinit WzTriggerState& WzTrigger = Reconcile.WzTrigger;
constinit RemarksState& Remarks = Reconcile.Remarks;
constinit OrderChoiceState& OrderChoice = Reconcile.OrderChoice;
constinit JournalRecord& Journal = Reconcile.Journal;

void ResetReconcileState() {
    ReleaseJournal();
    std::construct_at(&Reconcile);
}
