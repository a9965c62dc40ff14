// What the reconciliation tests share: a fresh stand-in host per test, the
// plug-in's binding pointed at it, records built readably, and the checks
// that every scenario ends with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "standin/veldan_control.h"

namespace reconcile_test {

class HostScenario : public ::testing::Test {
  protected:
    void SetUp() override;
    // Nothing the host handed out may still be held, and nothing was given
    // back twice. The order list is the caller's to release, so it is released
    // here first; a test that wants to see it released earlier checks itself.
    void TearDown() override;
};

// Everything the host handed out has been given back.
void ExpectAllGivenBack();

// An order of the customer: second identifier set, a date, remarks.
DocumentHeader Order(int32_t id, int16_t customer, const char* number, const char* remarks = "");
// A header that is not an order (no second identifier).
DocumentHeader PlainHeader(int32_t id, int16_t customer, const char* number);
// A line; unit price 1.0 so the host's line value follows the quantity.
DocumentItem Line(int16_t article, int16_t variant, int32_t quantity, const char* text);

// The store's lines of a document, in stored order.
std::vector<DocumentItem> StoredLines(int32_t document_id);
DocumentHeader StoredHeader(int position);
DocumentHeader& HeaderBuffer();  // table 44's record buffer

bool AllZero(const void* bytes, size_t size);
std::string Text(const char* text, size_t max = 4096);

// The pointers the line event would deliver for a set of WZ lines.
std::vector<DocumentItem*> Pointers(std::vector<DocumentItem>& lines);

// The dialog log, as far as the plug-in produced it.
std::vector<const VsDialogCall*> DialogCalls();
// Expects exactly one call in the log, a "Błąd" message with flags 1 and text.
void ExpectOnlyError(const char* text);

}  // namespace reconcile_test
