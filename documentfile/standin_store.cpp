#include "documentfile/standin_store.h"

#include "standin/veldan_control.h"

namespace document_file {

void PutDocuments(const DocumentSet& documents) {
    VsClearStore();
    for (const DocumentHeader& header : documents.headers)
        VsAddHeader(&header);
    for (const auto& [id, lines] : documents.lines)
        for (const DocumentItem& line : lines)
            VsAddLine(id, &line);
}

DocumentSet TakeDocuments() {
    DocumentSet documents;
    documents.headers.resize(static_cast<size_t>(VsHeaderCount()));
    for (size_t i = 0; i < documents.headers.size(); ++i)
        VsGetHeader(static_cast<int>(i), &documents.headers[i]);
    std::vector<int32_t> ids(static_cast<size_t>(VsLineDocuments(nullptr, 0)));
    VsLineDocuments(ids.data(), static_cast<int>(ids.size()));
    for (const int32_t id : ids) {
        std::vector<DocumentItem>& lines = documents.lines[id];
        lines.resize(static_cast<size_t>(VsLineCount(id)));
        for (size_t i = 0; i < lines.size(); ++i)
            VsGetLine(id, static_cast<int>(i), &lines[i]);
    }
    return documents;
}

}  // namespace document_file
