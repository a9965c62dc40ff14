// The stand-in's document store as the host program looks at it: snapshots
// taken before and after each step, so the story can show what changed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "documentfile/standin_store.h"
#include "host/host_records.h"
#include "standin/veldan_control.h"

namespace hostapp {

using Snapshot = document_file::DocumentSet;
inline Snapshot TakeSnapshot() {
    return document_file::TakeDocuments();
}

const std::vector<DocumentItem>& LinesOf(const Snapshot& snapshot, int32_t document_id);

// Texts of a record as UTF-8, bounded by their fields.
std::string Number(const DocumentHeader& header);
std::string Remarks(const DocumentHeader& header);
std::string LineText(const DocumentItem& line);
std::string Kind(const DocumentHeader& header);  // "ZK" an order, "WZ" an issue note

// Position of the first header with that number (UTF-8), or -1.
int FindNumber(const Snapshot& snapshot, std::string_view number);

// A header that the order list offers: both identifiers non-zero.
bool IsOrder(const DocumentHeader& header);
// An issue note: a document that is never offered as an order.
bool IsIssueNote(const DocumentHeader& header);
bool HasArticle(const std::vector<DocumentItem>& lines);
bool SameArticle(const DocumentItem& a, const DocumentItem& b);
// How many of the WZ's article keys the order's lines carry too.
int SharedArticles(const std::vector<DocumentItem>& wz, const std::vector<DocumentItem>& order);

bool SameHeader(const DocumentHeader& a, const DocumentHeader& b);
bool SameLines(const std::vector<DocumentItem>& a, const std::vector<DocumentItem>& b);

// Thousandths of a unit as "15,000"; a stored gross value (× 10,000) as "154,40".
std::string Quantity(int32_t thousandths);
std::string Money(double stored);

}  // namespace hostapp
