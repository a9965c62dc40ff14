// Host records built field by field, put into the stand-in's store and read
// back, and what the plug-in still holds of what the host handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_api.h"
#include "host/host_records.h"
#include "standin/veldan_control.h"

namespace test_host {

// Fills a field with text, at most size - 1 bytes of it, the rest zero.
void PutText(char* field, size_t size, const char* text);

// The one way the tests and the benchmark build host records. Every byte not
// named is zero. An order is a header with a second identifier, here the
// document identifier + 5000; a unit price makes the host's line value follow
// the quantity.
DocumentHeader MakeHeader(int32_t document_id, int32_t second_id, int16_t customer,
                          const char* number, const char* remarks = "");
DocumentHeader MakeOrder(int32_t document_id, int16_t customer, const char* number,
                         const char* remarks = "");
DocumentItem MakeLine(const char* text, int32_t quantity, int16_t article_first,
                      int16_t article_second = 1, double unit_price = 0.0);
// The date as the stand-in keeps it: yyyymmdd in the field's first bytes.
void SetIssueDate(DocumentHeader& header, int32_t yyyymmdd);
// The record with every byte that no builder names set to a pattern, a header
// without a date dated 15.03.2024, and the host's own values of a line set (a
// unit price of 1.0 where it had none): a record that the plug-in writes back
// whole is then told apart from one it rebuilt field by field.
DocumentHeader Patterned(const DocumentHeader& header);
DocumentItem Patterned(const DocumentItem& line);
std::vector<DocumentItem> Patterned(std::vector<DocumentItem> lines);

// The line fields the host keeps beyond the plug-in's view of the record.
void SetUnitPrice(DocumentItem& line, double price);
double LineValue(const DocumentItem& line);

// Into the store; the position or line index.
int AddHeader(const DocumentHeader& header);
int AddLine(int32_t document_id, const DocumentItem& line);

// The header at a store position (zero when there is none), a document's
// stored lines, and table 44's current record.
DocumentHeader StoredHeader(int position);
std::vector<DocumentItem> StoredLines(int32_t document_id);
// A document's stored line texts, joined by "|".
std::string StoredLineTexts(int32_t document_id);
DocumentHeader* RecordBuffer();

std::string Bytes(const void* record, size_t size);
template <typename Record>
std::string Bytes(const Record& record) {
    return Bytes(&record, sizeof record);
}
// A text field read no further than its width.
std::string FieldText(const char* field, size_t width);

// The stand-in's own choices but for one switch (VS_VARIATION_SWITCHES).
constexpr VsVariation With(int VsVariation::*field, int value) {
    VsVariation variation{};
    variation.*field = value;
    return variation;
}

// What the plug-in still holds of what the host handed out, and the heap
// blocks it gave back wrongly, as text: "" when everything was given back.
// Every test and the benchmark check with this one.
std::string Unreturned();

}  // namespace test_host
