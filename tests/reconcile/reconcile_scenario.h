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
#include "tests/support/host_store.h"
#include "tests/support/plugin_texts.h"

namespace reconcile_test {

class HostScenario : public ::testing::Test {
  protected:
    void SetUp() override;
    // Nothing the host handed out may still be held, and nothing was given
    // back twice. The order list is the caller's to release, so it is released
    // here first; a test that wants to see it released earlier checks itself.
    void TearDown() override;
};

// Records are built patterned (see test_host::Patterned), so that one written
// back whole is told apart from one rebuilt field by field.
using test_host::MakeHeader;
using test_host::MakeLine;
using test_host::MakeOrder;
using test_host::Patterned;
using test_host::RecordBuffer;
using test_host::StoredHeader;
using test_host::StoredLines;
using test_host::Unreturned;
using namespace plugin_texts;

std::string Text(const char* text, size_t max = 4096);

// The pointers the line event would deliver for a set of WZ lines.
std::vector<DocumentItem*> Pointers(std::vector<DocumentItem>& lines);

// The dialog log, as far as the plug-in produced it.
std::vector<const VsDialogCall*> DialogCalls();
// Expects exactly one call in the log, the message id, with the text given
// (its own by default).
void ExpectOnlyError(MessageId id, const std::vector<std::string>& names = {});

}  // namespace reconcile_test
