#include "reconcile_scenario.h"

#include <windows.h>

#include <cstring>

#include "frame/module_attach.h"
#include "host/mazovia_text.h"
#include "reconcile/order_choice.h"

namespace reconcile_test {

void HostScenario::SetUp() {
    // The binding layer finds the host library the way the attach step does.
    AttachToHost(GetModuleHandleA(nullptr), kProcessAttach);
    ASSERT_NE(HostLibraryHandle, nullptr);
    VsReset();
}

void HostScenario::TearDown() {
    ReleaseOrderCandidates();
    ExpectAllGivenBack();
}

void ExpectAllGivenBack() {
    EXPECT_EQ(VsOutstanding(kVsRanges), 0) << "ranges";
    EXPECT_EQ(VsOutstanding(kVsUpdates), 0) << "updates";
    EXPECT_EQ(VsOutstanding(kVsScans), 0) << "scans";
    EXPECT_EQ(VsOutstanding(kVsLineArrays), 0) << "line arrays";
    EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 0) << "heap blocks";
    EXPECT_EQ(VsHeapErrors(), 0);
}

namespace {

void PutText(char* field, size_t size, const char* text) {
    std::memset(field, 0, size);
    std::strncpy(field, text, size - 1);
}

}  // namespace

DocumentHeader PlainHeader(int32_t id, int16_t customer, const char* number) {
    DocumentHeader header;
    // Bytes the plug-in never touches carry a pattern, so a header written
    // back whole is told apart from one rebuilt field by field.
    std::memset(&header, 0x5A, sizeof header);
    PutText(header.number, sizeof header.number, number);
    const int32_t date = 20240315;
    std::memcpy(header.issue_date, &date, sizeof date);
    header.gross_value = 0.0;
    header.compared_marker = 0;
    PutText(header.remarks, sizeof header.remarks, "");
    header.customer = customer;
    header.second_id = 0;
    header.document_id = id;
    return header;
}

DocumentHeader Order(int32_t id, int16_t customer, const char* number, const char* remarks) {
    DocumentHeader header = PlainHeader(id, customer, number);
    PutText(header.remarks, sizeof header.remarks, remarks);
    header.second_id = id + 5000;
    return header;
}

DocumentItem Line(int16_t article, int16_t variant, int32_t quantity, const char* text) {
    DocumentItem line;
    std::memset(&line, 0, sizeof line);
    PutText(line.text, sizeof line.text, text);
    line.quantity = quantity;
    line.value_150 = 9.5;
    line.value_202 = 7.25;
    const double unit_price = 1.0;
    std::memcpy(reinterpret_cast<uint8_t*>(&line) + kVsLineUnitPriceOffset, &unit_price,
                sizeof unit_price);
    line.article_key_second = variant;
    line.article_key_first = article;
    return line;
}

std::vector<DocumentItem> StoredLines(int32_t document_id) {
    std::vector<DocumentItem> lines(static_cast<size_t>(VsLineCount(document_id)));
    for (size_t i = 0; i < lines.size(); ++i)
        EXPECT_EQ(VsGetLine(document_id, static_cast<int>(i), &lines[i]), 1);
    return lines;
}

DocumentHeader StoredHeader(int position) {
    DocumentHeader header{};
    EXPECT_EQ(VsGetHeader(position, &header), 1);
    return header;
}

DocumentHeader& HeaderBuffer() {
    return *static_cast<DocumentHeader*>(VsTable(44)->record);
}

bool AllZero(const void* bytes, size_t size) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (size_t i = 0; i < size; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

std::string Text(const char* text, size_t max) {
    return std::string(text, strnlen(text, max));
}

std::vector<DocumentItem*> Pointers(std::vector<DocumentItem>& lines) {
    std::vector<DocumentItem*> pointers;
    for (DocumentItem& line : lines)
        pointers.push_back(&line);
    return pointers;
}

std::vector<const VsDialogCall*> DialogCalls() {
    std::vector<const VsDialogCall*> calls;
    for (int i = 0; i < VsDialogCallCount(); ++i)
        calls.push_back(VsDialogCallAt(i));
    return calls;
}

void ExpectOnlyError(const char* text) {
    const auto calls = DialogCalls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0]->ordinal, kOrdinalHostMessage);
    EXPECT_EQ(std::string(calls[0]->caption), std::string("B\x92\x86"
                                                          "d"));
    EXPECT_EQ(std::string(calls[0]->text), std::string(text));
    EXPECT_EQ(calls[0]->flags, 1);
}

}  // namespace reconcile_test
