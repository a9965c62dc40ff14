// The list of failed record-size tests and the report built from it, tested
// on the plug-in's routines directly.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "frame/compatibility.h"
#include "frame/frame_state.h"
#include "reconcile/reconcile_state.h"

namespace {

std::vector<const RecordSizeCheck*> Listed() {
    std::vector<const RecordSizeCheck*> list;
    for (const RecordSizeCheck* r = Frame.Compatibility.CompatibilityList;
         r != nullptr && list.size() < 10; r = r->next)
        list.push_back(r);
    return list;
}

}  // namespace

TEST(CompatibilityList, GrowsInOrderAndHoldsEachTestOnce) {
    RecordSizeCheck a = {980, 0, nullptr, nullptr};
    RecordSizeCheck b = {298, 0, nullptr, nullptr};
    RecordSizeCheck c = {980, 0, nullptr, nullptr};
    EXPECT_EQ(CountMismatches(), 0);

    // Equal sizes: 0, the list is not touched.
    FillRecordSizeCheck(&a, 980, kHeaderTableLabel);
    EXPECT_EQ(AddIfMismatched(&a), 0);
    EXPECT_EQ(Frame.Compatibility.CompatibilityList, nullptr);

    FillRecordSizeCheck(&b, 297, kLineTableLabel);
    EXPECT_EQ(AddIfMismatched(&b), -1);
    EXPECT_EQ(AddMismatch(&c), -1);
    EXPECT_EQ(Listed(), (std::vector<const RecordSizeCheck*>{&b, &c}));

    // Handed over again, first or last: nothing changes, no cycle appears.
    EXPECT_EQ(AddMismatch(&c), -1);
    EXPECT_EQ(AddMismatch(&b), -1);
    EXPECT_EQ(AddIfMismatched(&b), -1);
    EXPECT_EQ(Listed(), (std::vector<const RecordSizeCheck*>{&b, &c}));
    EXPECT_EQ(c.next, nullptr);
    EXPECT_EQ(CountMismatches(), 2);

    // The first filling stays: a later one changes neither size nor label.
    FillRecordSizeCheck(&b, 100, kHeaderTableLabel);
    EXPECT_EQ(b.actual, 297);
    EXPECT_STREQ(b.label, "Tspr_dok");

    // A record with a matching size that someone added anyway is still counted.
    EXPECT_EQ(AddMismatch(&a), -1);
    EXPECT_EQ(CountMismatches(), 3);
    Frame.Compatibility.CompatibilityList = nullptr;  // this process's own records, on the stack
}

TEST(CompatibilityList, FourRecordsOfTheProcessStartEmptyAndAResetEmptiesThem) {
    RecordSizeCheck* const all[] = {
        &Frame.Compatibility.StartHeaderCheck, &Frame.Compatibility.StartLineCheck,
        &Reconcile.TableHooks.InstallHeaderCheck, &Reconcile.TableHooks.InstallLineCheck};
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "as loaded" : "after the resets");
        for (const RecordSizeCheck* r : all) {
            EXPECT_EQ(r->actual, 0);
            EXPECT_EQ(r->label, nullptr);
            EXPECT_EQ(r->next, nullptr);
        }
        EXPECT_EQ(Frame.Compatibility.StartHeaderCheck.expected, 980);
        EXPECT_EQ(Frame.Compatibility.StartLineCheck.expected, 298);
        EXPECT_EQ(Reconcile.TableHooks.InstallHeaderCheck.expected, 980);
        EXPECT_EQ(Reconcile.TableHooks.InstallLineCheck.expected, 298);
        EXPECT_EQ(Frame.Compatibility.CompatibilityList, nullptr);
        // Every test failed, then each layer's state put back in one call.
        for (RecordSizeCheck* r : all) {
            FillRecordSizeCheck(r, 1, kLineTableLabel);
            AddIfMismatched(r);
        }
        ASSERT_EQ(CountMismatches(), 4);
        ResetFrameState();
        ResetReconcileState();
    }
}

TEST(IncompatibilityReport, NeverOverrunsItsBuffer) {
    // The longest list there can be, with sizes of the most digits, and a
    // module path of the full 300 bytes without a backslash.
    RecordSizeCheck* all[] = {
        &Frame.Compatibility.StartHeaderCheck, &Frame.Compatibility.StartLineCheck,
        &Reconcile.TableHooks.InstallHeaderCheck, &Reconcile.TableHooks.InstallLineCheck};
    for (RecordSizeCheck* r : all) {
        FillRecordSizeCheck(r, INT_MIN, r->expected == 980 ? kHeaderTableLabel : kLineTableLabel);
        r->expected = INT_MIN + 1;
        AddMismatch(r);
    }
    memset(Frame.Attach.PluginModulePath, 'M', sizeof Frame.Attach.PluginModulePath - 1);
    Frame.Attach.PluginModulePath[sizeof Frame.Attach.PluginModulePath - 1] = 0;

    std::vector<char> report(kIncompatibilityReportSize + 64, '#');
    const uint32_t length = ComposeIncompatibilityReport(report.data(), kIncompatibilityReportSize);
    ASSERT_LT(length, kIncompatibilityReportSize);
    EXPECT_EQ(strlen(report.data()), length);
    const std::string text(report.data(), length);
    EXPECT_NE(text.find("\x02" + std::string(299, 'M') + "\x01\n"), std::string::npos);
    EXPECT_NE(text.find("\x01tp25p40\x01Tspr_dok\t-2147483647\t-2147483648\n"), std::string::npos);
    for (size_t i = kIncompatibilityReportSize; i < report.size(); ++i)
        ASSERT_EQ(report[i], '#');

    // A small buffer is cut short, still terminated, and never passed.
    std::vector<char> small(40 + 8, '#');
    EXPECT_EQ(ComposeIncompatibilityReport(small.data(), 40), 39u);
    EXPECT_EQ(small[39], 0);
    EXPECT_EQ(std::string(small.data()), text.substr(0, 39));
    for (size_t i = 40; i < small.size(); ++i)
        EXPECT_EQ(small[i], '#');

    // The file name is what follows the last backslash.
    strcpy(Frame.Attach.PluginModulePath, "C:\\Program Files\\Host\\plug\\Q.dll");
    report.assign(report.size(), '#');
    ComposeIncompatibilityReport(report.data(), kIncompatibilityReportSize);
    EXPECT_NE(std::string(report.data()).find("\x02Q.dll\x01\n"), std::string::npos);
}
