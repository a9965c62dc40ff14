// Choosing the customer order that a WZ delivers: the customer's open orders
// are listed in the host's list dialog 1002 and the confirmed one is compared
// with the WZ.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "host/host_records.h"

// One order offered in the order list.
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

// ------------------------------------------------------------------ its state
// One part of the reconciliation's state (reconcile/reconcile_state.h),
// during one Ctrl+9: the orders offered, in a block of host heap, and the
// text of the row the host asked for last.
struct OrderChoiceState {
    OrderCandidates OrderCandidateList = {nullptr, 0, 0};
    char RowTextBuffer[kRowTextBufferSize] = {};
};
extern OrderChoiceState& OrderChoice;

// Gives the list's block back to the host heap, if any, and empties the list.
void ReleaseOrderCandidates();

// The candidate list held by a scope, the line event's: whatever block it
// holds is given back (HostFree) when the scope ends, on every way out of it.
// Within the scope the order choice gives it back at once where the host is
// to have it back before its next call: a list left without a confirmed
// entry, a block that could not grow.
struct HeldOrderCandidates {
    HeldOrderCandidates() = default;
    ~HeldOrderCandidates() { ReleaseOrderCandidates(); }
    HeldOrderCandidates(const HeldOrderCandidates&) = delete;
    HeldOrderCandidates& operator=(const HeldOrderCandidates&) = delete;
};

// Lets the user choose one of the customer's orders and compares the WZ with
// it. Returns the comparison's result (1 done, 0 failed), or 0 when the list
// could not be built or the dialog was not confirmed on an entry. The list may
// stay held; the caller holds it by a scope (HeldOrderCandidates).
int32_t ChooseOrder(int16_t customer, DocumentItem** wz_lines, int32_t wz_count, char* remarks);

// Fills the OrderCandidateList with the customer's orders from the header
// table. Returns 1 when the list was built (possibly empty), 0 after a message.
int32_t WybierzMM(int16_t customer);

// Row callback of the order list: row -1 (low 16 bits) gives the number of
// entries, any other row a pointer to its text, valid until the next call.
int32_t HOST_STDCALL OrderRowText(uint32_t row, int32_t unused);

// The plug-in's dialog definition block that the host draws: a 4-byte length,
// then dialog 1001 (a progress box) and dialog 1002 (the order list).
inline constexpr size_t kDialogDefinitionSize = 4 + 319;
extern const std::array<uint8_t, kDialogDefinitionSize> DialogDefinition;
