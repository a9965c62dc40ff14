// The order choice against the stand-in host: which headers are offered, the
// rows the list dialog receives, what a confirmation runs, and how the list's
// host memory is handled on every way out.
#include <cfloat>
#include <cstdio>
#include <cstring>

#include "reconcile/order_choice.h"
#include "reconcile/reconcile_state.h"
#include "reconcile_scenario.h"

namespace reconcile_test {
namespace {

const char kDate[] = "15.03.2024";  // the stand-in's text for the headers' date

void ExpectListEmpty() {
    EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.entries, nullptr);
    EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.count, 0);
    EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.capacity, 0);
    EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 0);
}

const VsDialogCall* OnlyListDialog() {
    const auto calls = DialogCalls();
    EXPECT_EQ(calls.size(), 1u);
    if (calls.size() != 1u || calls[0]->ordinal != kOrdinalHostListDialog) {
        ADD_FAILURE() << "expected exactly the list dialog";
        return nullptr;
    }
    EXPECT_EQ(calls[0]->dialog, 1002);
    EXPECT_EQ(calls[0]->definition_size, static_cast<int32_t>(DialogDefinition.size()));
    EXPECT_EQ(std::memcmp(calls[0]->definition, DialogDefinition.data(), DialogDefinition.size()),
              0);
    return calls[0];
}

// ChooseOrder for a customer with a WZ of one line, 2 units of milk, and
// remarks that the comparison would replace: what it returned and left.
struct Choice {
    int32_t result = 0;
    std::vector<DocumentItem> wz = {Patterned(MakeLine("Mleko", 2000, 1))};
    char remarks[101] = "bez zmian";
    const VsDialogCall* dialog = nullptr;  // the only dialog: the order list
};
Choice Choose(int16_t customer) {
    Choice choice;
    auto pointers = Pointers(choice.wz);
    choice.result = ChooseOrder(customer, pointers.data(), 1, choice.remarks);
    choice.dialog = OnlyListDialog();
    return choice;
}

// The list shown with its rows and released, and nothing compared.
void ExpectNothingCompared(const Choice& choice, int32_t rows) {
    EXPECT_EQ(choice.result, 0);
    ASSERT_NE(choice.dialog, nullptr);
    EXPECT_EQ(choice.dialog->rows, rows);
    ExpectListEmpty();
    EXPECT_EQ(VsCallCount(kOrdinalHostFindRange), 0);
    EXPECT_EQ(Text(choice.remarks), "bez zmian");
    EXPECT_EQ(Text(choice.wz[0].text), "Mleko");
    EXPECT_EQ(Unreturned(), "");
}

class OrderChoice : public HostScenario {};

TEST_F(OrderChoice, OffersTheCustomersOrdersAndComparesTheConfirmedRow) {
    DocumentHeader first = Patterned(MakeOrder(11, 5, "ZK/11", "pierwsze"));
    first.gross_value = 150000.0;  // fifteen units
    DocumentHeader twin = Patterned(MakeOrder(14, 5, "ZK/11", "drugie"));
    twin.gross_value = 12345678.0;
    const DocumentHeader headers[] = {
        first,
        Patterned(MakeHeader(12, 0, 5, "WZ/5")),  // no second identifier: not an order
        Patterned(MakeOrder(13, 6, "ZK/13")),     // another customer
        twin,                                     // the same number as the first
        Patterned(MakeOrder(0, 5, "ZK/00")),      // no document identifier
        Patterned(MakeOrder(15, -3, "ZK/15")),
    };
    for (const DocumentHeader& header : headers)
        VsAddHeader(&header);
    const DocumentItem line = Patterned(MakeLine("Mleko", 5000, 1));
    VsAddLine(11, &line);
    VsAddLine(14, &line);
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, 1);

    const Choice choice = Choose(5);

    EXPECT_EQ(choice.result, 1);
    const VsDialogCall* dialog = choice.dialog;
    ASSERT_NE(dialog, nullptr);
    ASSERT_EQ(dialog->rows, 2);
    EXPECT_EQ(std::string(dialog->row_texts[0]), std::string("ZK/11\r15.00\r") + kDate);
    EXPECT_EQ(std::string(dialog->row_texts[1]), std::string("ZK/11\r1234.57\r") + kDate);

    // The second row's order was compared, not the first one of that number.
    EXPECT_EQ(Text(choice.remarks), "drugie");
    ASSERT_EQ(StoredLines(14).size(), 1u);
    EXPECT_EQ(StoredLines(14)[0].quantity, 3000);
    EXPECT_EQ(StoredLines(11)[0].quantity, 5000);

    // The list stays held for the caller to release.
    ASSERT_NE(Reconcile.OrderChoice.OrderCandidateList.entries, nullptr);
    EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.count, 2);
    EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.capacity, 30);
    const OrderCandidate& entry = Reconcile.OrderChoice.OrderCandidateList.entries[1];
    EXPECT_EQ(Text(entry.number, sizeof entry.number), "ZK/11");
    double gross = 0;
    std::memcpy(&gross, &entry.gross_bits, sizeof gross);
    EXPECT_DOUBLE_EQ(gross, 1234.5678);
    EXPECT_EQ(Text(entry.issue_date, sizeof entry.issue_date), kDate);
    EXPECT_EQ(entry.document_id, 14);
    EXPECT_EQ(VsCallCount(kOrdinalHostScanOpen), 1);
    EXPECT_EQ(VsCallCount(kOrdinalHostScanClose), 1);
    EXPECT_EQ(VsCallCount(kOrdinalHostRealloc), 1 + 1) << "the list's block, the comparison's";
    EXPECT_EQ(VsCallCount(kOrdinalHostFormatDate), 2);
    ReleaseOrderCandidates();
    ExpectListEmpty();

    // Customer numbers are compared as signed 16-bit values.
    EXPECT_EQ(WybierzMM(-3), 1);
    ASSERT_EQ(Reconcile.OrderChoice.OrderCandidateList.count, 1);
    EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.entries[0].document_id, 15);
}

TEST_F(OrderChoice, LeavingTheDialogWithoutConfirmingReleasesTheList) {
    for (int32_t answer : {static_cast<int32_t>(kAnswerEscape), 0, kAnswerYes - 1}) {
        SCOPED_TRACE(answer);
        VsReset();
        const DocumentHeader a = Patterned(MakeOrder(21, 8, "ZK/21")),
                             b = Patterned(MakeOrder(22, 8, "ZK/22"));
        VsAddHeader(&a);
        VsAddHeader(&b);
        const DocumentItem line = Patterned(MakeLine("Mleko", 5000, 1));
        VsAddLine(21, &line);
        // A list still held from before is given back, not lost.
        ASSERT_EQ(WybierzMM(8), 1);
        VsQueueAnswer(kOrdinalHostListDialog, answer, 0);

        ExpectNothingCompared(Choose(8), 2);
        EXPECT_EQ(StoredLines(21)[0].quantity, 5000);
    }
}

TEST_F(OrderChoice, ConfirmationWithoutAnEntryRunsNoComparison) {
    struct Case {
        const char* name;
        int orders;
        int32_t selection;  // -100: the host's default answer (row 0)
    };
    const Case cases[] = {{"empty list", 0, -100},
                          {"past the end", 2, 2},
                          {"negative", 2, -1},
                          {"far off", 2, 32767}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VsReset();
        for (int i = 0; i < c.orders; ++i) {
            const DocumentHeader order = Patterned(MakeOrder(31 + i, 9, "ZK/3x"));
            VsAddHeader(&order);
        }
        if (c.selection != -100)
            VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, c.selection);

        const Choice choice = Choose(9);

        ExpectNothingCompared(choice, c.orders);
        if (choice.dialog != nullptr) {
            EXPECT_EQ(choice.dialog->result, kAnswerYes);
        }
    }
}

TEST_F(OrderChoice, ListGrowsThirtyEntriesAtATimeKeepingItsEntries) {
    for (int orders : {30, 31}) {
        SCOPED_TRACE(orders);
        VsReset();
        for (int i = 0; i < orders; ++i) {
            char number[17];
            std::snprintf(number, sizeof number, "ZK/%d", 100 + i);
            const DocumentHeader order = Patterned(MakeOrder(100 + i, 4, number));
            VsAddHeader(&order);
        }

        EXPECT_EQ(WybierzMM(4), 1);

        EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.count, orders);
        EXPECT_EQ(Reconcile.OrderChoice.OrderCandidateList.capacity, orders == 30 ? 30 : 60);
        EXPECT_EQ(VsCallCount(kOrdinalHostRealloc), orders == 30 ? 1 : 2);
        for (int i = 0; i < orders; ++i) {
            const OrderCandidate& entry = Reconcile.OrderChoice.OrderCandidateList.entries[i];
            EXPECT_EQ(entry.document_id, 100 + i);
            EXPECT_EQ(Text(entry.number, sizeof entry.number), "ZK/" + std::to_string(100 + i));
            EXPECT_EQ(Text(entry.issue_date, sizeof entry.issue_date), kDate);
        }
        EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 1);
        ReleaseOrderCandidates();
        ExpectListEmpty();
        EXPECT_EQ(Unreturned(), "");
    }
}

TEST_F(OrderChoice, AllocationFailureReleasesTheListAndShowsNoDialog) {
    for (int failing_growth : {1, 2}) {
        SCOPED_TRACE(failing_growth);
        VsReset();
        for (int i = 0; i < 31; ++i) {
            const DocumentHeader order = Patterned(MakeOrder(200 + i, 4, "ZK"));
            VsAddHeader(&order);
        }
        VsFailCall(kOrdinalHostRealloc, failing_growth);
        char remarks[101] = "";

        EXPECT_EQ(ChooseOrder(4, nullptr, 0, remarks), 0);

        ExpectOnlyError(MessageId::kOrderListAllocationError);
        ExpectListEmpty();
        EXPECT_EQ(Unreturned(), "");
    }
}

TEST_F(OrderChoice, HeaderTableOrScanUnavailable) {
    const DocumentHeader order = Patterned(MakeOrder(41, 3, "ZK/41"));
    VsAddHeader(&order);
    VsSetOpenTableFails(44, 1);
    char remarks[101] = "";
    EXPECT_EQ(ChooseOrder(3, nullptr, 0, remarks), 0);
    ExpectOnlyError(MessageId::kOrderListDiskError);
    ExpectListEmpty();

    // A scan that does not open gives an empty list; the dialog still shows,
    // and its confirmation has no entry to compare.
    VsReset();
    VsAddHeader(&order);
    VsFailCall(kOrdinalHostScanOpen, 1);
    EXPECT_EQ(ChooseOrder(3, nullptr, 0, remarks), 0);
    const VsDialogCall* dialog = OnlyListDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->rows, 0);
    EXPECT_EQ(VsCallCount(kOrdinalHostScanClose), 1);
    EXPECT_EQ(VsCallCount(kOrdinalHostScanNext), 0);
    ExpectListEmpty();
}

TEST_F(OrderChoice, RowTextsStayWithinTheirBufferAndEntriesAreTerminated) {
    // A number that fills all 17 bytes of its field, followed by more bytes
    // that are not zero, and the widest gross value a header can hold.
    DocumentHeader full = Patterned(MakeOrder(51, 2, ""));
    std::memset(full.number, 'N', sizeof full.number);
    full.gross_value = -DBL_MAX;
    DocumentHeader undated = Patterned(MakeOrder(52, 2, "ZK/52"));
    std::memset(undated.issue_date, 0, sizeof undated.issue_date);
    VsAddHeader(&full);
    VsAddHeader(&undated);

    ASSERT_EQ(WybierzMM(2), 1);
    ASSERT_EQ(Reconcile.OrderChoice.OrderCandidateList.count, 2);
    const OrderCandidate& entry = Reconcile.OrderChoice.OrderCandidateList.entries[0];
    EXPECT_EQ(Text(entry.number, sizeof entry.number), std::string(16, 'N'));

    char value[400];
    std::snprintf(value, sizeof value, "%.2f", -DBL_MAX * 0.0001);
    const auto row = [](uint32_t r) {
        return std::string(reinterpret_cast<const char*>(OrderRowText(r, 0)));
    };
    const std::string first = row(0);
    EXPECT_EQ(first, std::string(16, 'N') + "\r" + value + "\r" + kDate);
    EXPECT_LT(first.size(), 512u);
    EXPECT_EQ(row(1), "ZK/52\r0.00\r");
    // The row is the low 16 bits of its slot.
    EXPECT_EQ(OrderRowText(0xFFFF, 0), 2);
    EXPECT_EQ(OrderRowText(0xFFFFFFFF, 0), 2);
    EXPECT_EQ(row(0x00010001), "ZK/52\r0.00\r");
    // A row the list does not have is an empty text, not someone else's memory.
    EXPECT_EQ(row(2), "");
    EXPECT_EQ(row(0xFFFE), "");
}

}  // namespace
}  // namespace reconcile_test
