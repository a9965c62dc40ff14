// The WZ comparison as the host triggers it: event 239 with key 806 on the
// line table, the order list, the question before a repeated comparison, and
// what ends up in the record buffer and the store.
#include <cstring>
#include <sstream>

#include "plugin_host.h"

namespace {

using shop::kCustomer;
using shop::kWz;
constexpr int32_t kOrder = shop::kOrderA;
// Of the same customer, where a test adds it.
constexpr int32_t kOtherOrder = shop::kOrderB;

// A WZ line with a unit price of 2.5 and the host's field at 202 set, so that
// the refresh after a comparison shows: the host's line update computes the
// value, and the plug-in clears the field.
DocumentItem Priced(DocumentItem line) {
    test_host::SetUnitPrice(line, 2.5);
    line.value_202 = 7.0;
    return line;
}

using test_host::LineValue;

class WzComparison : public InstalledPlugin {
  protected:
    // The shop's order of the WZ's customer, one of another customer, and
    // the WZ, its lines priced.
    void SeedShop(const char* order_remarks) { shop::SeedOrderAndWz(order_remarks, Priced); }

    std::vector<VsDialogCall> NewDialogs() {
        std::vector<VsDialogCall> calls = DialogsFrom(first_dialog_);
        first_dialog_ = DialogCount();
        return calls;
    }
};

}  // namespace

TEST_F(WzComparison, CompareStoreAndCompareAgain) {
    SeedShop("Dostawa do magazynu B");
    VsSetStrict(1);
    ASSERT_EQ(VsOpenDocument(kWz), 1);
    const DocumentHeader wz = *RecordBuffer();
    VsSetHostHookResult(45, 41);

    // The first comparison: the customer's one order is listed and confirmed.
    EXPECT_EQ(VsRaiseLineEvent(kKeyEditedLines), 41);
    std::vector<VsDialogCall> dialogs = NewDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_EQ(dialogs[0].ordinal, kOrdinalHostListDialog);
    EXPECT_EQ(dialogs[0].dialog, 1002);
    ASSERT_EQ(dialogs[0].rows, 1);
    EXPECT_EQ(std::string(dialogs[0].row_texts[0]).rfind("ZK 1/2024\r0.00\r", 0), 0u);

    // The WZ header in the record buffer: marked, with the order's remarks,
    // every other byte as it was.
    DocumentHeader expected = wz;
    expected.compared_marker = 2000;
    strcpy(expected.remarks, "Dostawa do magazynu B");
    EXPECT_EQ(RecordBytes(RecordBuffer(), sizeof expected),
              RecordBytes(&expected, sizeof expected));

    // The lines were stored before and after; the article lines refreshed.
    // The WZ's lines were stored before and after (the order's once between),
    // its article lines refreshed, the text line left alone.
    EXPECT_EQ(VsCallCount(kOrdinalHostSaveLines), 2 + 1);
    std::vector<DocumentItem> wz_lines = StoredLines(kWz);
    ASSERT_EQ(wz_lines.size(), 4u);
    EXPECT_EQ(Text(wz_lines[0].text), std::string("Śruby M6"_mz));
    EXPECT_EQ(Text(wz_lines[1].text), std::string("? Wkręty"_mz));
    EXPECT_EQ(Text(wz_lines[2].text), std::string("!1 Nakrętki M6"_mz));
    EXPECT_EQ(Text(wz_lines[3].text), "Dostawa kurierem");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(wz_lines[i].value_202, 0.0) << i;
        EXPECT_NE(LineValue(wz_lines[i]), 0.0) << i;
        EXPECT_EQ(LineValue(wz_lines[i]), wz_lines[i].quantity / 1000.0 * 2.5) << i;
    }
    EXPECT_EQ(wz_lines[3].value_202, 7.0);
    EXPECT_EQ(LineValue(wz_lines[3]), 0.0);

    // The order keeps what was not delivered; the delivered line is gone.
    std::vector<DocumentItem> order_lines = StoredLines(kOrder);
    ASSERT_EQ(order_lines.size(), 2u);
    EXPECT_EQ(order_lines[0].quantity, 3000);
    EXPECT_EQ(order_lines[1].quantity, 2000);
    EXPECT_EQ(StoredLines(shop::kOtherOrder)[0].quantity, 9000)
        << "another customer's order is not touched";

    // The host's hook saw the event after the comparison.
    EXPECT_EQ(VsHostHookEvents(45), 1);
    EXPECT_EQ(VsHostHookLastArguments(45)[0], 239u);
    EXPECT_EQ(VsHostHookLastArguments(45)[1], 806u);
    EXPECT_EQ(Unreturned(), "");

    // The host stores the WZ; the next trigger asks first. "No": the lines are
    // stored once, nothing else happens, and the event goes on.
    VsStoreHeader(kVsKeyCustomerHeaders);
    ASSERT_EQ(StoredHeader(VsFindHeader(kWz)).compared_marker, 2000);
    ASSERT_EQ(VsOpenDocument(kWz), 1);
    const std::string before = RecordBytes(RecordBuffer(), sizeof(DocumentHeader));
    const int saves = VsCallCount(kOrdinalHostSaveLines);
    VsQueueAnswer(kOrdinalHostQuestion, kAnswerNo, 0);
    EXPECT_EQ(VsRaiseLineEvent(kKeyEditedLines), 41);
    dialogs = NewDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_TRUE(Names(dialogs[0], MessageId::kCompareAgain, {"Dostawa do magazynu B"}));
    EXPECT_EQ(VsCallCount(kOrdinalHostSaveLines), saves + 1);
    EXPECT_EQ(RecordBytes(RecordBuffer(), sizeof(DocumentHeader)), before);
    EXPECT_EQ(StoredLines(kOrder)[0].quantity, 3000);
    EXPECT_EQ(VsHostHookEvents(45), 2);

    // "Yes": compared again against what the order still holds.
    EXPECT_EQ(VsRaiseLineEvent(kKeyEditedLines), 41);
    dialogs = NewDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(dialogs[0].ordinal, kOrdinalHostQuestion);
    EXPECT_EQ(dialogs[1].ordinal, kOrdinalHostListDialog);
    EXPECT_EQ(StoredLines(kOrder)[0].quantity, 1000);
    EXPECT_EQ(RecordBuffer()->compared_marker, 2000);
    EXPECT_EQ(VsHostHookEvents(45), 3);
    EXPECT_EQ(Unreturned(), "");
}

TEST_F(WzComparison, CancelledChoiceLeavesTheWzAsItWas) {
    SeedShop("Dostawa do magazynu B");
    ASSERT_EQ(VsOpenDocument(kWz), 1);
    const std::string before = RecordBytes(RecordBuffer(), sizeof(DocumentHeader));
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerEscape, 0);
    VsRaiseLineEvent(kKeyEditedLines);
    ASSERT_EQ(NewDialogs().size(), 1u);
    EXPECT_EQ(RecordBytes(RecordBuffer(), sizeof(DocumentHeader)), before);
    EXPECT_EQ(VsCallCount(kOrdinalHostSaveLines), 1);
    EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLine), 0);
    EXPECT_EQ(StoredLines(kWz)[0].value_202, 7.0);
    EXPECT_EQ(StoredLines(kOrder).size(), 3u);
    EXPECT_EQ(Text(StoredLines(kWz)[1].text), std::string("Wkręty"_mz));
    EXPECT_EQ(VsHostHookEvents(45), 1);
    EXPECT_EQ(Unreturned(), "");
}

TEST_F(WzComparison, TablesThatCannotBeOpenedStopTheEvent) {
    SeedShop("");
    ASSERT_EQ(VsOpenDocument(kWz), 1);
    VsFailCall(kOrdinalHostOpenTable, 2);  // the line table
    VsSetHostHookResult(45, 41);
    EXPECT_EQ(VsRaiseLineEvent(kKeyEditedLines), 0);
    std::vector<VsDialogCall> dialogs = NewDialogs();
    ASSERT_EQ(dialogs.size(), 1u);
    EXPECT_TRUE(Shows(dialogs[0], MessageId::kComparisonDiskError));
    EXPECT_EQ(VsHostHookEvents(45), 0) << "the event is not handed on";
    EXPECT_EQ(VsCallCount(kOrdinalHostSaveLines), 0);
}

TEST_F(WzComparison, RemarksStayWithinTheirField) {
    // A WZ compared before whose remarks fill the field to its last byte and
    // run on into the bytes behind it; an order whose remarks do the same.
    VsSetStrict(1);
    DocumentHeader order = MakeHeader(kOrder, 11, kCustomer, "ZK 1/2024", "");
    memset(order.remarks, 'o', sizeof order.remarks);
    memset(order.reserved_525, 'p', sizeof order.reserved_525);
    VsAddHeader(&order);
    AddLine(kOrder, MakeLine("Śruby M6"_mz, 5000, 1, 1));
    AddHeader(MakeHeader(kOtherOrder, 12, kCustomer, "ZK 2/2024", ""));
    AddLine(kOtherOrder, MakeLine("Śruby M6"_mz, 5000, 1, 1));
    DocumentHeader wz = MakeHeader(kWz, 0, kCustomer, "WZ 5/2024", "");
    wz.compared_marker = 2000;
    memset(wz.remarks, 'w', sizeof wz.remarks);
    memset(wz.reserved_525, 'x', sizeof wz.reserved_525);
    VsAddHeader(&wz);
    AddLine(kWz, MakeLine("Śruby M6"_mz, 1000, 1, 1));

    ASSERT_EQ(VsOpenDocument(kWz), 1);
    VsRaiseLineEvent(kKeyEditedLines);
    std::vector<VsDialogCall> dialogs = NewDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(Text(dialogs[0].text), Filled(MessageId::kCompareAgain, {std::string(100, 'w')}));
    ASSERT_EQ(dialogs[1].rows, 2);

    // Only the first 100 characters reach the WZ, terminated in the field; the
    // bytes behind the field are the WZ's own.
    EXPECT_EQ(Text(RecordBuffer()->remarks), std::string(100, 'o'));
    EXPECT_EQ(RecordBuffer()->reserved_525[0], 'x');

    // The second order has no remarks: compared with it, the WZ's become empty.
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, 1);
    VsRaiseLineEvent(kKeyEditedLines);
    EXPECT_EQ(Text(RecordBuffer()->remarks), "");
    EXPECT_EQ(RecordBuffer()->compared_marker, 2000);
    EXPECT_EQ(StoredLines(kOtherOrder)[0].quantity, 4000);
    EXPECT_EQ(Unreturned(), "");
}

TEST_F(WzComparison, WzWithoutLines) {
    SeedShop("Pilne");
    AddHeader(MakeHeader(400, 0, kCustomer, "WZ 6/2024", "stare"));
    ASSERT_EQ(VsOpenDocument(400), 1);
    VsRaiseLineEvent(kKeyEditedLines);
    EXPECT_EQ(VsCallCount(kOrdinalHostSaveLines), 2 + 1) << "the WZ's twice, the order's once";
    EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLine), 0);
    EXPECT_EQ(RecordBuffer()->compared_marker, 2000);
    EXPECT_EQ(Text(RecordBuffer()->remarks), "Pilne");
    EXPECT_EQ(StoredLines(kOrder).size(), 3u);
    EXPECT_EQ(Unreturned(), "");
}

namespace {

// Another workstation uses the order up while the list is open: its header is
// cleared before the user confirms the first row.
int32_t vanishing_order = 0;
int32_t OrderUsedUpWhileListed(const VsDialogCall* call, int32_t* selection) {
    if (call->ordinal != kOrdinalHostListDialog)
        return 0;
    const DocumentHeader cleared{};
    VsPutHeader(VsFindHeader(vanishing_order), &cleared);
    *selection = 0;
    return kAnswerYes;
}

// A message shown: its identifier, and the values it names.
struct Said {
    MessageId id;
    std::vector<std::string> names = {};
};

// Lines written "text=quantity ...", the text's first letter the article.
void AddLines(int32_t document, const char* lines) {
    std::istringstream in(lines);
    std::string text;
    int64_t quantity = 0;
    while (std::getline(in >> std::ws, text, '=') && in >> quantity)
        AddLine(document, MakeLine(text.c_str(), static_cast<int32_t>(quantity), text[0], 1));
}

}  // namespace

TEST_F(WzComparison, OutcomesAtTheEdgesOfTheDeduction) {
    struct Case {
        const char* name;
        const char *order, *wz;
        std::string wz_after;     // the WZ's stored texts; on a refusal, as before
        std::string order_after;  // the order's stored texts and quantities
        // The message shown, by its identifier and what it names; but for a
        // header not written back, a refusal: the WZ and the order stay as
        // they were.
        std::vector<Said> message = {};
        bool vanish = false;
        bool header_unwritten = false;  // the order's header cannot be written back
    };
    const Case cases[] = {
        {"the first line uses the order up, the second is over it", "Olej=4000",
         "Olej=4000 Olej=1000", "Olej|!1 Olej", ""},
        {"the second is over what the first left", "Olej=4000", "Olej=3000 Olej=3000",
         "Olej|!2 Olej", ""},
        {"an article never on the order", "Olej=4000", "Maka=1000", "? Maka", "Olej=4000"},
        {"the order is used up while the list is open",
         "Olej=4000",
         "Olej=1000",
         "Olej",
         "Olej=4000",
         {{MessageId::kOrderGone}},
         true},
        {"a return past 32 bits",
         "Olej=2147483647",
         "Olej=-1",
         "Olej",
         "Olej=2147483647",
         {{MessageId::kQuantityLimit, {"Olej"}}}},
        {"a large return after a line that fits",
         "Olej=5000 Cukier=1",
         "Cukier=1 Olej=-2147483648",
         "Cukier|Olej",
         "Olej=5000|Cukier=1",
         {{MessageId::kQuantityLimit, {"Olej"}}}},
        {"at the limits of 32 bits, exact", "a=3000 b=-2147483648 c=-2147483648 d=2147483647",
         "a=2147483647 b=5000 c=-2147483648 d=2147483647", "!2147480 a|!2147488 b|c|d", ""},
        // Returns of goods within one WZ.
        {"a return after a line that used the order up: the order line holds it again", "Olej=5000",
         "Olej=5000 Olej=-2000", "Olej|Olej", "Olej=2000"},
        {"a return that only takes back what was over the order", "Olej=5000",
         "Olej=7000 Olej=-2000", "!2 Olej|Olej", ""},
        {"a return larger than what was over the order", "Olej=5000", "Olej=6000 Olej=-3000",
         "!1 Olej|Olej", "Olej=2000"},
        {"a return to a line still open", "Olej=3000 Olej=4000", "Olej=3000 Olej=2000 Olej=-1000",
         "Olej|Olej|Olej", "Olej=3000"},
        {"a return that brings a used-up line past 32 bits",
         "Olej=5000",
         "Olej=5000 Olej=-2147483648",
         "Olej|Olej",
         "Olej=5000",
         {{MessageId::kQuantityLimit, {"Olej"}}}},
        {"the order's header cannot be written back: compared, and said",
         "Olej=4000 Maka=1000",
         "Olej=4000",
         "Olej",
         "Maka=1000",
         {{MessageId::kOrderHeaderNotWritten, {"ZK"}}},
         false,
         true},
        {"nor when it would close the order",
         "Olej=4000",
         "Olej=4000",
         "Olej",
         "",
         {{MessageId::kOrderHeaderNotWritten, {"ZK"}}},
         false,
         true},
    };
    VsSetStrict(1);
    int16_t customer = 20;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int32_t order = 1000 + ++customer, wz = 2000 + customer;
        AddHeader(MakeHeader(order, 1, customer, "ZK", "Uwagi zamówienia"_mz));
        AddLines(order, c.order);
        AddHeader(MakeHeader(wz, 0, customer, "WZ", "Własne uwagi WZ"_mz));
        AddLines(wz, c.wz);
        ASSERT_EQ(VsOpenDocument(wz), 1);
        const std::string before = RecordBytes(RecordBuffer(), sizeof(DocumentHeader));
        vanishing_order = order;
        VsSetDialogHandler(c.vanish ? OrderUsedUpWhileListed : nullptr);
        const DocumentHeader order_before = StoredHeader(VsFindHeader(order));
        if (c.header_unwritten)
            VsFailCall(kOrdinalHostWriteAt, 1);
        VsRaiseLineEvent(kKeyEditedLines);
        VsSetDialogHandler(nullptr);

        std::vector<VsDialogCall> messages;
        for (const VsDialogCall& call : NewDialogs())
            if (call.ordinal == kOrdinalHostMessage)
                messages.push_back(call);
        ASSERT_EQ(messages.size(), c.message.size());
        for (size_t i = 0; i < messages.size(); ++i)
            EXPECT_TRUE(plugin_texts::Names(messages[i], c.message[i].id, c.message[i].names))
                << Message(c.message[i].id).identifier << ": " << Text(messages[i].text);
        if (!c.message.empty() && !c.header_unwritten)
            EXPECT_EQ(RecordBytes(RecordBuffer(), sizeof(DocumentHeader)), before);
        else
            EXPECT_EQ(RecordBuffer()->compared_marker, 2000);
        // The order's header is cleared once nothing is left on it; one that
        // is not written back, or not compared, stays as it was (unless
        // another workstation cleared it).
        const int position = VsFindHeader(order);
        if (c.vanish) {
            EXPECT_LT(position, 0);
        } else if (c.header_unwritten || !c.message.empty()) {
            ASSERT_GE(position, 0);
            const DocumentHeader order_after = StoredHeader(position);
            EXPECT_EQ(RecordBytes(&order_after, sizeof order_after),
                      RecordBytes(&order_before, sizeof order_before));
        } else {
            EXPECT_EQ(position < 0, std::string(c.order_after).empty());
        }
        EXPECT_EQ(test_host::StoredLineTexts(wz), c.wz_after);
        std::string order_after;
        for (const DocumentItem& line : StoredLines(order))
            order_after += (order_after.empty() ? "" : "|") + Text(line.text) + "=" +
                           std::to_string(line.quantity);
        EXPECT_EQ(order_after, c.order_after);
        EXPECT_EQ(Unreturned(), "");
    }
}
