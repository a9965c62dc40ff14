// Host records built field by field, put into the stand-in's store and read
// back, and what the plug-in still holds of what the host handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "host/host_records.h"

namespace test_host {

// Fills a field with text, at most size - 1 bytes of it, the rest zero.
void PutText(char* field, size_t size, const char* text);

// Every byte not named is zero.
DocumentHeader MakeHeader(int32_t document_id, int32_t second_id, int16_t customer,
                          const char* number, const char* remarks);
DocumentItem MakeLine(const char* text, int32_t quantity, int16_t article_first,
                      int16_t article_second);

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
DocumentHeader* RecordBuffer();

std::string Bytes(const void* record, size_t size);
template <typename Record>
std::string Bytes(const Record& record) {
    return Bytes(&record, sizeof record);
}
// A text field read no further than its width.
std::string FieldText(const char* field, size_t width);

// What the plug-in still holds of what the host handed out, and the heap
// blocks it gave back wrongly, as text: "" when everything was given back.
std::string Unreturned();

}  // namespace test_host
