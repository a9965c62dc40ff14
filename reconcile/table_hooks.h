// The plug-in's hooks on the header table (44) and the line table (45), menu
// command 350, the install notice and the one setting, "Pytaj".
//
// Each hook of ours hands the events it does not handle to the hook it
// replaced, with all eleven arguments; the two 16-bit arguments (2nd and 10th)
// go on widened with zeros, whatever the host left in their upper halves.
#pragma once

#include <cstdint>

#include "frame/compatibility.h"
#include "host/host_records.h"

// The state of the hooks and the command (the installation's own record-size
// tests of tables 44 and 45, the hooked tables with the hooks ours replaced,
// CommandMark) is in reconcile/reconcile_state.h.

// Nonzero installs both hooks (0, or -1 when a table cannot be opened or has
// the wrong record size; that table is then left alone and listed in
// CompatibilityList). Zero puts the replaced hooks back; returns 0. Tables
// already hooked, or not hooked, are left as they are.
int32_t InstallTableHooks(int32_t flag);

// Hand one event to the hook that the header or line hook replaced, by the
// chaining contract; returns that hook's result.
int32_t ChainHeaderEvent(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                         uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                         uint32_t a11);
int32_t ChainLineEvent(uint32_t event, uint32_t key, uint32_t a3, uint32_t a4, uint32_t a5,
                       uint32_t a6, uint32_t a7, uint32_t a8, uint32_t a9, uint32_t a10,
                       uint32_t a11);

// Command 350 with OrderNumberCommand as its handler.
void AddOrderCommand();
void RemoveOrderCommand();  // only when CommandMark is nonzero

// Shows what the plug-in adds, unless "Pytaj" holds a nonzero value; stores
// whatever the notice leaves in it. Returns 0.
int32_t ShowInstallNotice();
