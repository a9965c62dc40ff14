// The missing-entry dialog when the host lacks its text converter (HostConvertText)
// too: the dialog must still appear, converted by the plug-in itself, and the
// missing converter must never be called or recursed into.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "frame/host_binding.h"
#include "frame/module_attach.h"
#include "host/host_api.h"
#include "missing_dialog.h"
#include "standin/veldan_control.h"
#include "system_hooks.h"

namespace {

const std::string kModulePath = "C:\\Host\\Quendrix.dll";

class HostWithoutConverter : public ::testing::Test {
  protected:
    void SetUp() override { AttachAsModule(kModulePath); }
};

}  // namespace

TEST_F(HostWithoutConverter, ConverterFoundMissingWhileReportingAnotherEntry) {
    // Reporting HostShowText binds the converter, which is missing too: its own
    // dialog comes first, then HostShowText's, both converted to the system's code.
    QueueAnswers({kAnswerIgnore, kAnswerIgnore});
    EXPECT_EQ(HostShowText("x"), 0);
    ASSERT_EQ(ShownBoxes().size(), 2u);
    ExpectMissingEntryBox(ShownBoxes()[0], kModulePath, kOrdinalHostConvertText);
    ExpectMissingEntryBox(ShownBoxes()[1], kModulePath, kOrdinalHostShowText);
    EXPECT_EQ(EntryState(HostEntryId::HostConvertText), HostEntryState::kEmpty);
    EXPECT_EQ(EntryState(HostEntryId::HostShowText), HostEntryState::kEmpty);
    EXPECT_EQ(Lookups(), (std::vector<uint16_t>{kOrdinalHostShowText, kOrdinalHostConvertText}));
}

TEST_F(HostWithoutConverter, ConverterItselfCalledFirst) {
    QueueAnswers({kAnswerRetry, kAnswerAbort});
    char text[] = "\x86";  // Mazovia ą
    EXPECT_EQ(HostConvertText(text, text, kTextHost, kTextSystem), 0);
    EXPECT_STREQ(text, "\x86");  // abandoned: nothing converted
    ASSERT_EQ(ShownBoxes().size(), 2u);
    ExpectMissingEntryBox(ShownBoxes()[0], kModulePath, kOrdinalHostConvertText);
    ExpectMissingEntryBox(ShownBoxes()[1], kModulePath, kOrdinalHostConvertText);

    // A later missing entry is still shown converted.
    QueueAnswers({kAnswerAbort});
    EXPECT_EQ(HostFindRange(0, nullptr, nullptr, nullptr), nullptr);
    ASSERT_EQ(ShownBoxes().size(), 3u);
    ExpectMissingEntryBox(ShownBoxes()[2], kModulePath, kOrdinalHostFindRange);
    EXPECT_EQ(Lookups(), (std::vector<uint16_t>{kOrdinalHostConvertText, kOrdinalHostFindRange}));
}
