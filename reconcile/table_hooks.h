// The plug-in's hooks on the header table (44) and the line table (45), menu
// command 350, the install notice and the one setting, "Pytaj". The hooks
// ours replaced, and the handing on of events to them, are the hook chain's
// (reconcile/hook_chain.h).
#pragma once

#include <cstdint>

#include "frame/compatibility.h"
#include "host/host_records.h"

// ------------------------------------------------------------------ its state
// One part of the reconciliation's state (reconcile/reconcile_state.h), from
// the installation to the stop: the installation's own record-size tests of
// tables 44 and 45, and what HostAddMenuCommand returned (nonzero while the
// command is in place; its removal does not reset it).
struct TableHooksState {
    RecordSizeCheck InstallHeaderCheck = {kHeaderRecordSize, 0, nullptr, nullptr};
    RecordSizeCheck InstallLineCheck = {kLineRecordSize, 0, nullptr, nullptr};
    int32_t CommandMark = 0;
};
extern TableHooksState& TableHooks;

// Nonzero installs both hooks (0, or -1 when a table cannot be opened or has
// the wrong record size; that table is then left alone and listed in
// CompatibilityList). Zero puts the replaced hooks back; returns 0. Tables
// already hooked, or not hooked, are left as they are.
int32_t InstallTableHooks(int32_t flag);

// Command 350 with OrderNumberCommand as its handler.
void AddOrderCommand();
void RemoveOrderCommand();  // only when CommandMark is nonzero

// The stop: the replaced hooks back, the command removed, and the journal's
// record given back to the C runtime's heap.
void StopReconciliation();

// Shows what the plug-in adds, unless "Pytaj" holds a nonzero value; stores
// whatever the notice leaves in it. Returns 0.
int32_t ShowInstallNotice();
