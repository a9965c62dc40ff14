#include "reconcile/reconcile_state.h"

#include <cstdlib>
#include <memory>

constinit ReconcileState Reconcile;

void ResetReconcileState() {
    std::free(Reconcile.Journal.text.text);
    std::construct_at(&Reconcile);
}
