// "Numer zamówienia zamiast symbolu": menu command 350 picks remarks from the
// host's selection list, and every header the host stores afterwards gets
// them in its stored copy.
#include <cstring>

#include "plugin_host.h"

namespace {

using shop::kCustomer;
constexpr int32_t kHeaderHookResult = 55;

class OrderNumberRemarks : public InstalledPlugin {
  protected:
    void SetUp() override {
        InstalledPlugin::SetUp();
        if (HasFatalFailure())
            return;
        VsSetHostHookResult(44, kHeaderHookResult);
        a_ = AddHeader(MakeHeader(1, 21, kCustomer, "FV 1/2024", "własne A"_mz));
        b_ = AddHeader(MakeHeader(2, 22, kCustomer, "FV 2/2024", ""));
        c_ = AddHeader(MakeHeader(3, 23, shop::kOtherCustomer, "FV 3/2024", "własne C"_mz));
    }

    // Selects one record with the given remarks, and runs the confirmed command.
    void Select(uint8_t flag, int32_t value, const char* remarks) {
        DocumentHeader record = MakeHeader(90, 91, 9, "ZK 90/2024", remarks);
        VsAddSelection(flag, value, &record);
    }

    // The host stores a document's header (unchanged) and raises the event.
    // The record buffer ends as the host left it.
    int32_t StoreDocument(int32_t document_id) {
        EXPECT_EQ(VsOpenDocument(document_id), 1);
        const std::string before = RecordBytes(RecordBuffer(), sizeof(DocumentHeader));
        const int32_t result = VsStoreHeader(kVsKeyCustomerHeaders);
        EXPECT_EQ(RecordBytes(RecordBuffer(), sizeof(DocumentHeader)), before);
        return result;
    }

    std::string StoredRemarks(int position) { return Text(StoredHeader(position).remarks); }

    int a_ = 0, b_ = 0, c_ = 0;
};

}  // namespace

TEST_F(OrderNumberRemarks, CommandThenSeveralSavedHeaders) {
    VsSetStrict(1);
    Select(1, 1, "");                 // qualifies, but has nothing to give
    Select(0, 1, "flaga zero");       // flag off
    Select(1, 0, "wartość zero"_mz);  // value 0
    Select(1, 9, "ZAM/77/2024 pilne");
    Select(1, 1, "za późno"_mz);  // the first one with remarks wins
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), 0);

    const DocumentHeader stored_a = StoredHeader(a_);
    EXPECT_EQ(StoreDocument(1), kHeaderHookResult);
    DocumentHeader expected = stored_a;
    memset(expected.remarks, 0, sizeof expected.remarks);
    strcpy(expected.remarks, "ZAM/77/2024 pilne");
    const DocumentHeader written = StoredHeader(a_);
    EXPECT_EQ(RecordBytes(&written, sizeof written), RecordBytes(&expected, sizeof expected));

    // The text stays pending: the next headers stored get it too, whatever
    // the customer.
    EXPECT_EQ(StoreDocument(3), kHeaderHookResult);
    EXPECT_EQ(StoredRemarks(c_), "ZAM/77/2024 pilne");
    EXPECT_EQ(StoreDocument(2), kHeaderHookResult);
    EXPECT_EQ(StoredRemarks(b_), "ZAM/77/2024 pilne");
    EXPECT_EQ(VsHostHookEvents(44), 3);
    EXPECT_EQ(DialogsFrom(first_dialog_).size(), 0u);
    EXPECT_EQ(Unreturned(), "");

    // Any other call of the command empties it: headers keep their remarks.
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, 1), 0);
    DocumentHeader own = StoredHeader(a_);
    strcpy(own.remarks, "znowu własne"_mz);
    VsPutHeader(a_, &own);
    const int updates = VsCallCount(kOrdinalHostBeginUpdate);
    EXPECT_EQ(StoreDocument(1), kHeaderHookResult);
    EXPECT_EQ(StoredRemarks(a_), std::string("znowu własne"_mz));
    EXPECT_EQ(VsCallCount(kOrdinalHostBeginUpdate), updates);

    // A confirmed command on an empty selection: nothing pending either.
    VsClearSelection();
    Select(1, 1, "tylko raz");
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), 0);
    VsClearSelection();
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), 0);
    EXPECT_EQ(StoreDocument(2), kHeaderHookResult);
    EXPECT_EQ(StoredRemarks(b_), "ZAM/77/2024 pilne");
    EXPECT_EQ(VsCallCount(kOrdinalHostBeginUpdate), updates);
}

TEST_F(OrderNumberRemarks, LongRemarksAndDuplicateHeaders) {
    // The selected record's remarks run 150 characters, past their field.
    VsSetStrict(1);
    DocumentHeader record = MakeHeader(90, 91, 9, "ZK 90/2024", "");
    memset(record.remarks, 'r', sizeof record.remarks);
    memset(record.reserved_525, 'r', 49);
    VsAddSelection(1, 1, &record);
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), 0);

    // Two stored headers with the same identifiers: the later one gets it.
    const int twin = AddHeader(MakeHeader(1, 21, kCustomer, "FV 1/2024", "bliźniak"_mz));
    StoreDocument(1);
    EXPECT_EQ(StoredRemarks(twin), std::string(100, 'r'));
    EXPECT_EQ(StoredHeader(twin).remarks[100], 0);
    EXPECT_EQ(StoredRemarks(a_), std::string("własne A"_mz));
    EXPECT_EQ(Unreturned(), "");
}

TEST_F(OrderNumberRemarks, HostFailuresWriteNothingAreShownAndGiveEverythingBack) {
    Select(1, 1, "uwagi");
    ASSERT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), 0);

    const int32_t failing[] = {kOrdinalHostFindRange, kOrdinalHostBeginUpdate, kOrdinalHostReadAt,
                               kOrdinalHostWriteAt};
    for (int32_t ordinal : failing) {
        SCOPED_TRACE(ordinal);
        const int ends = VsCallCount(kOrdinalHostEndUpdate);
        const int dialogs = DialogCount();
        const int mark = VsTotalCalls();
        VsFailCall(ordinal, 1);
        EXPECT_EQ(StoreDocument(1), kHeaderHookResult);
        EXPECT_EQ(StoredRemarks(a_), std::string("własne A"_mz));
        EXPECT_EQ(VsCallCount(kOrdinalHostEndUpdate), ends + 1);
        EXPECT_EQ(Unreturned(), "");
        // The update ends unsuccessfully, and then the user is told.
        ASSERT_EQ(DialogCount(), dialogs + 1);
        EXPECT_TRUE(Shows(Dialog(dialogs), MessageId::kRemarksDiskError));
        const VsCall& last = *VsCallAt(VsTotalCalls() - 1);
        const VsCall& end = *VsCallAt(VsTotalCalls() - 2);
        EXPECT_EQ(last.ordinal, kOrdinalHostMessage);
        EXPECT_EQ(end.ordinal, kOrdinalHostEndUpdate);
        EXPECT_EQ(end.arguments[0], 0u) << "success";
        EXPECT_GT(VsTotalCalls() - 2, mark);
    }

    // The event for a header that no stored one matches: nothing is written,
    // and that is no failure.
    const int shown = DialogCount();
    ASSERT_EQ(VsOpenDocument(1), 1);
    RecordBuffer()->second_id = 99;
    const uint32_t event[11] = {kEventHeaderStored, kVsKeyCustomerHeaders};
    EXPECT_EQ(VsRaiseEvent(kHeaderTable, event), kHeaderHookResult);
    EXPECT_EQ(DialogCount(), shown);
    EXPECT_EQ(VsCallAt(VsTotalCalls() - 1)->ordinal, kOrdinalHostEndUpdate);
    EXPECT_EQ(VsCallAt(VsTotalCalls() - 1)->arguments[0], 1u) << "success";
    EXPECT_EQ(StoredRemarks(a_), std::string("własne A"_mz));

    // The header table cannot be opened after the host's hook ran: the
    // message, and the host's result all the same.
    VsFailCall(kOrdinalHostOpenTable, 1);
    EXPECT_EQ(StoreDocument(1), kHeaderHookResult);
    std::vector<VsDialogCall> dialogs = DialogsFrom(shown);
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_TRUE(Shows(dialogs[0], MessageId::kRemarksDiskError));

    // The command cannot open it either: same message, the text stays pending.
    VsFailCall(kOrdinalHostOpenTable, 1);
    EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, 1), 0);
    EXPECT_EQ(DialogsFrom(shown).size(), 2u);
    EXPECT_EQ(StoreDocument(1), kHeaderHookResult);
    EXPECT_EQ(StoredRemarks(a_), "uwagi");
    EXPECT_EQ(Unreturned(), "");
}
