#include "records.h"

#include <cstring>

namespace test {

DocumentHeader Header(int32_t document_id, int16_t customer, const char* number,
                      int32_t second_id) {
    DocumentHeader header{};
    strncpy(header.number, number, sizeof header.number - 1);
    header.customer = customer;
    header.document_id = document_id;
    header.second_id = second_id ? second_id : document_id + 5000;
    return header;
}

DocumentItem Line(const char* text, int32_t quantity, int16_t article_first, int16_t article_second,
                  double unit_price) {
    DocumentItem line{};
    strncpy(line.text, text, sizeof line.text - 1);
    line.quantity = quantity;
    line.article_key_first = article_first;
    line.article_key_second = article_second;
    memcpy(reinterpret_cast<uint8_t*>(&line) + kVsLineUnitPriceOffset, &unit_price,
           sizeof unit_price);
    return line;
}

double LineValue(const DocumentItem& line) {
    double value;
    memcpy(&value, reinterpret_cast<const uint8_t*>(&line) + kVsLineValueOffset, sizeof value);
    return value;
}

std::string Remarks(const DocumentHeader& header) {
    return std::string(header.remarks, strnlen(header.remarks, sizeof header.remarks));
}

std::string StoredLineTexts(int32_t document_id) {
    std::string texts;
    for (int i = 0; i < VsLineCount(document_id); ++i) {
        DocumentItem line;
        VsGetLine(document_id, i, &line);
        if (i)
            texts += "|";
        texts += std::string(line.text, strnlen(line.text, sizeof line.text));
    }
    return texts;
}

}  // namespace test
