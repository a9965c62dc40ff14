// Applying a goods-issue document (WZ) to one customer order.
#pragma once

#include <cstdint>

#include "host/host_records.h"

// Deducts the quantities of the WZ lines from the lines of the order whose
// document identifier is order_id, article by article, clearing order lines
// delivered in full and the order's header once no article line is left. WZ
// lines whose article is not on the order get "? " in front of their text,
// lines that deliver more than the order holds get "!<excess units> ". The
// order's remarks are copied into remarks (at least 101 bytes).
//
// A WZ line whose article was on the order but whose lines earlier WZ lines
// used up is over the order too. A return (a negative quantity) first takes
// back what earlier WZ lines were marked over the order with, and gives the
// rest to the first open line of its article or, with every one used up by
// earlier WZ lines, brings the first of them back holding it. Quantities are
// worked in 64 bits.
//
// Returns 1 when done, 0 after a message and with nothing stored: tables or
// ranges missing, no header carrying order_id (the order is gone), no working
// memory, or an order line whose quantity would grow past 32 bits (a return
// of goods). An order whose lines were stored but whose header could not be
// written back is done too (1), after a message naming it. Leaves table 44's
// record buffer holding the last header read; restoring it is the caller's
// concern.
int32_t PorownajDokumentyZeSoba(int32_t order_id, DocumentItem** wz_lines, int32_t wz_count,
                                char* remarks);
