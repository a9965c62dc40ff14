#include "reconcile/reconcile_state.h"

#include <memory>

constinit ReconcileState Reconcile;

void ResetReconcileState() {
    Reconcile.Journal.text.Release();
    std::construct_at(&Reconcile);
}
