#include "hostapp/documents.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "host/quantity_text.h"
#include "hostapp/text_cells.h"
#include "standin/veldan_control.h"

namespace hostapp {
const std::vector<DocumentItem>& LinesOf(const Snapshot& snapshot, int32_t document_id) {
    static const std::vector<DocumentItem> none;
    auto found = snapshot.lines.find(document_id);
    return found == snapshot.lines.end() ? none : found->second;
}

std::string Number(const DocumentHeader& header) {
    return FieldToUtf8(header.number, sizeof header.number);
}

std::string Remarks(const DocumentHeader& header) {
    return FieldToUtf8(header.remarks, sizeof header.remarks);
}

std::string LineText(const DocumentItem& line) {
    return FieldToUtf8(line.text, sizeof line.text);
}

std::string Kind(const DocumentHeader& header) {
    return FieldToUtf8(reinterpret_cast<const char*>(&header) + kVsHeaderKindOffset,
                       kVsHeaderKindLength);
}

int FindNumber(const Snapshot& snapshot, std::string_view number) {
    // A cleared header is no document, whatever its (empty) number.
    for (size_t i = 0; i < snapshot.headers.size(); ++i)
        if (!VsCleared(snapshot.headers[i]) && Number(snapshot.headers[i]) == number)
            return static_cast<int>(i);
    return -1;
}

bool IsOrder(const DocumentHeader& header) {
    return header.document_id != 0 && header.second_id != 0;
}

bool IsIssueNote(const DocumentHeader& header) {
    return header.document_id != 0 && header.second_id == 0;
}

bool HasArticle(const std::vector<DocumentItem>& lines) {
    for (const DocumentItem& line : lines)
        if (line.article_key_first != 0)
            return true;
    return false;
}

bool SameArticle(const DocumentItem& a, const DocumentItem& b) {
    return a.article_key_first == b.article_key_first &&
           a.article_key_second == b.article_key_second;
}

int SharedArticles(const std::vector<DocumentItem>& wz, const std::vector<DocumentItem>& order) {
    int shared = 0;
    for (const DocumentItem& line : wz) {
        if (line.article_key_first == 0)
            continue;
        for (const DocumentItem& candidate : order)
            if (SameArticle(line, candidate)) {
                ++shared;
                break;
            }
    }
    return shared;
}

bool SameHeader(const DocumentHeader& a, const DocumentHeader& b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

bool SameLines(const std::vector<DocumentItem>& a, const std::vector<DocumentItem>& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (memcmp(&a[i], &b[i], sizeof a[i]) != 0)
            return false;
    return true;
}

std::string Quantity(int32_t thousandths) {
    char text[kQuantityTextSize];
    WriteQuantity(text, thousandths);
    return text;
}

std::string Money(double stored) {
    if (!std::isfinite(stored))
        return "?";
    char text[64];
    snprintf(text, sizeof text, "%.2f", stored * 0.0001);
    std::string out = text;
    const size_t dot = out.find('.');
    if (dot != std::string::npos)
        out[dot] = ',';
    return out;
}

}  // namespace hostapp
