#include "reconcile/reconcile_state.h"

#include <memory>

constinit ReconcileState Reconcile;

// Each module's name for its part.
#define RECONCILE_STATE_REFERENCE(type, name) constinit type& name = Reconcile.name;
RECONCILE_STATE_PARTS(RECONCILE_STATE_REFERENCE)
#undef RECONCILE_STATE_REFERENCE

void ResetReconcileState() {
    ReleaseJournal();
    std::construct_at(&Reconcile);
}
