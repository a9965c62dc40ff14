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

DocumentItem MakeLine(const char* text, int32_t quantity, int16_t article_first,
                      int16_t article_second) {
    DocumentItem line;
    memset(&line, 0, sizeof line);
    PutText(line.text, sizeof line.text, text);
    line.quantity = quantity;
    line.article_key_first = article_first;
    line.article_key_second = article_second;
    return line;
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
