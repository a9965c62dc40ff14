#include "records.h"

#include <vector>

#include "tests/support/host_store.h"

namespace test {

DocumentHeader Header(int32_t document_id, int16_t customer, const char* number,
                      int32_t second_id) {
    return test_host::MakeHeader(document_id, second_id ? second_id : document_id + 5000, customer,
                                 number, "");
}

DocumentItem Line(const char* text, int32_t quantity, int16_t article_first, int16_t article_second,
                  double unit_price) {
    DocumentItem line = test_host::MakeLine(text, quantity, article_first, article_second);
    test_host::SetUnitPrice(line, unit_price);
    return line;
}

double LineValue(const DocumentItem& line) {
    return test_host::LineValue(line);
}

std::string Remarks(const DocumentHeader& header) {
    return test_host::FieldText(header.remarks, sizeof header.remarks);
}

std::string StoredLineTexts(int32_t document_id) {
    std::string texts;
    const std::vector<DocumentItem> lines = test_host::StoredLines(document_id);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i)
            texts += "|";
        texts += test_host::FieldText(lines[i].text, sizeof lines[i].text);
    }
    return texts;
}

}  // namespace test
