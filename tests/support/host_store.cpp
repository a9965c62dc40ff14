#include "tests/support/host_store.h"

#include <cstring>

#include "standin/veldan_control.h"

namespace test_host {

void PutText(char* field, size_t size, const char* text) {
    memset(field, 0, size);
    memcpy(field, text, strnlen(text, size - 1));
}

DocumentHeader MakeHeader(int32_t document_id, int32_t second_id, int16_t customer,
                          const char* number, const char* remarks) {
    DocumentHeader header;
    memset(&header, 0, sizeof header);
    header.document_id = document_id;
    header.second_id = second_id;
    header.customer = customer;
    PutText(header.number, sizeof header.number, number);
    PutText(header.remarks, sizeof header.remarks, remarks);
    return header;
}

DocumentHeader MakeOrder(int32_t document_id, int16_t customer, const char* number,
                         const char* remarks) {
    return MakeHeader(document_id, document_id + 5000, customer, number, remarks);
}

DocumentItem MakeLine(const char* text, int32_t quantity, int16_t article_first,
                      int16_t article_second, double unit_price) {
    DocumentItem line;
    memset(&line, 0, sizeof line);
    PutText(line.text, sizeof line.text, text);
    line.quantity = quantity;
    line.article_key_first = article_first;
    line.article_key_second = article_second;
    SetUnitPrice(line, unit_price);
    return line;
}

void SetIssueDate(DocumentHeader& header, int32_t yyyymmdd) {
    memcpy(header.issue_date, &yyyymmdd, sizeof yyyymmdd);
}

DocumentHeader Patterned(const DocumentHeader& header) {
    DocumentHeader patterned;
    memset(&patterned, 0x5A, sizeof patterned);
    memcpy(patterned.number, header.number, sizeof header.number);
    memcpy(patterned.issue_date, header.issue_date, sizeof header.issue_date);
    int32_t date = 0;
    memcpy(&date, header.issue_date, sizeof date);
    if (date == 0)
        SetIssueDate(patterned, 20240315);
    patterned.gross_value = header.gross_value;
    patterned.compared_marker = header.compared_marker;
    memcpy(patterned.remarks, header.remarks, sizeof header.remarks);
    patterned.customer = header.customer;
    patterned.second_id = header.second_id;
    patterned.document_id = header.document_id;
    return patterned;
}

DocumentItem Patterned(const DocumentItem& line) {
    DocumentItem patterned = line;
    patterned.value_150 = 9.5;
    patterned.value_202 = 7.25;
    double price = 0.0;
    memcpy(&price, reinterpret_cast<const uint8_t*>(&line) + kVsLineUnitPriceOffset, sizeof price);
    if (price == 0.0)
        SetUnitPrice(patterned, 1.0);
    return patterned;
}

std::vector<DocumentItem> Patterned(std::vector<DocumentItem> lines) {
    for (DocumentItem& line : lines)
        line = Patterned(line);
    return lines;
}

void SetUnitPrice(DocumentItem& line, double price) {
    memcpy(reinterpret_cast<uint8_t*>(&line) + kVsLineUnitPriceOffset, &price, sizeof price);
}

double LineValue(const DocumentItem& line) {
    double value = 0;
    memcpy(&value, reinterpret_cast<const uint8_t*>(&line) + kVsLineValueOffset, sizeof value);
    return value;
}

int AddHeader(const DocumentHeader& header) {
    return VsAddHeader(&header);
}

int AddLine(int32_t document_id, const DocumentItem& line) {
    return VsAddLine(document_id, &line);
}

DocumentHeader StoredHeader(int position) {
    DocumentHeader header;
    memset(&header, 0, sizeof header);
    VsGetHeader(position, &header);
    return header;
}

std::vector<DocumentItem> StoredLines(int32_t document_id) {
    std::vector<DocumentItem> lines(VsLineCount(document_id));
    for (size_t i = 0; i < lines.size(); ++i)
        VsGetLine(document_id, static_cast<int>(i), &lines[i]);
    return lines;
}

std::string StoredLineTexts(int32_t document_id) {
    std::string texts;
    const std::vector<DocumentItem> lines = StoredLines(document_id);
    for (size_t i = 0; i < lines.size(); ++i)
        texts += (i ? "|" : "") + FieldText(lines[i].text, sizeof lines[i].text);
    return texts;
}

DocumentHeader* RecordBuffer() {
    return static_cast<DocumentHeader*>(VsTable(kHeaderTable)->record);
}

std::string Bytes(const void* record, size_t size) {
    return std::string(static_cast<const char*>(record), size);
}

std::string FieldText(const char* field, size_t width) {
    return std::string(field, strnlen(field, width));
}

std::string Unreturned() {
    static const char* const kNames[] = {"ranges", "updates", "scans", "line arrays",
                                         "heap blocks"};
    std::string report;
    for (int kind = kVsRanges; kind <= kVsHeapBlocks; ++kind) {
        if (const int held = VsOutstanding(kind); held != 0)
            report += std::to_string(held) + " " + kNames[kind] + " held; ";
    }
    if (const int errors = VsHeapErrors(); errors != 0)
        report += std::to_string(errors) + " blocks or arrays given back wrongly; ";
    return report;
}

}  // namespace test_host
