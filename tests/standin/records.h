// Building host records for the stand-in's tests.
#pragma once

#include <cstdint>
#include <string>

#include "host/host_api.h"
#include "standin/veldan_control.h"

namespace test {

DocumentHeader Header(int32_t document_id, int16_t customer, const char* number,
                      int32_t second_id = 0);
DocumentItem Line(const char* text, int32_t quantity, int16_t article_first,
                  int16_t article_second = 1, double unit_price = 0.0);

double LineValue(const DocumentItem& line);
std::string Remarks(const DocumentHeader& header);

// The lines of a stored document, by text.
std::string StoredLineTexts(int32_t document_id);

}  // namespace test
