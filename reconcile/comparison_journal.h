// The comparison journal: what each comparison of a WZ with an order changed,
// appended to a CSV file that a spreadsheet on a Polish Windows opens as it is
// (semicolons, Windows-1250, CRLF, a header row at the top of a new file).
// A text cell that a spreadsheet would take for a formula is written as text.
//
// The comparison reports each change as it makes it, the journal collects the
// rows, and the whole record goes into the file in one append write once the
// comparison is done (frame/diagnostics.h: whether the journal is on, its
// file and the write), so a crash leaves no half record. A journal that
// cannot be written loses the record and nothing else: no call here calls
// the host, fails the comparison or changes a record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/platform.h"
#include "frame/text_builder.h"
#include "host/host_records.h"

// ------------------------------------------------------------------ its state
// One part of the reconciliation's state (reconcile/reconcile_state.h): the
// record of the comparison at work, the WZ and the order that every row
// names, when, and the rows so far, the header row first, in a block of the
// C runtime's heap that grows as rows come, from the first record to the stop.
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
extern JournalRecord& Journal;

// The WZ being compared (its number and identifier), as the line hook has it.
void JournalWz(const DocumentHeader* wz);
// The order the WZ is applied to; begins a new record.
void JournalOrder(const DocumentHeader* order);
// What happens to an order line: reduced (a return adds to it), cleared, or
// restored (a line cleared earlier in this comparison, brought back by a
// return of goods, its quantity 0 until then).
enum class JournalLine { kReduced, kCleared, kRestored };
// An order line about to become quantity_after (0 when cleared).
void JournalOrderLine(const DocumentItem* line, int32_t quantity_after, JournalLine what);
// A WZ line about to receive prefix ("? ", "!n ") in front of its text, with
// the exact quantity (thousandths) by which it is over the order: the open
// quantity, or for "? " the line's whole quantity.
void JournalWzMark(const DocumentItem* wz_line, const char* prefix, int64_t excess);
// The order's header about to be cleared.
void JournalOrderCleared();
// The order's header, cleared or not, could not be written back.
void JournalHeaderNotWritten();
// Appends the record to the file, when it holds any row, and ends it.
void JournalFinish();
// Gives the record's block back to the C runtime's heap: at the stop.
void ReleaseJournal();
