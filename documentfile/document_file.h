// The document file: the stand-in host's documents as readable JSON, texts in
// UTF-8 there and Mazovia bytes in the records. docs/document-file.md
// describes the format with an example.
//
// A file is checked whole: every problem is given with its kind and place
// (problems.h), and a file with problems gives no documents. Saving keeps
// what did not change as it was read: a file whose documents did not change
// keeps its bytes, and a changed file keeps the field names, number forms and
// layout of every value that did not change (units stay units, 0 stays 0),
// its line ends and its byte order mark.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "documentfile/json_text.h"
#include "documentfile/problems.h"
#include "host/host_records.h"

namespace document_file {

// The documents as the host keeps them.
struct DocumentSet {
    std::vector<DocumentHeader> headers;                 // storage order
    std::map<int32_t, std::vector<DocumentItem>> lines;  // by document identifier
};
// Every byte of every record the same, texts as the file holds them (up to
// their terminator; record_fields.h, AsFileHolds).
bool SameDocuments(const DocumentSet& a, const DocumentSet& b);

// A file as read: its documents, and its text for saving what did not change.
struct DocumentFile {
    DocumentSet documents;
    std::string text;  // without a byte order mark
    bool byte_order_mark = false;
    JsonValue root;  // the text read
};

// The largest file read: a larger one is refused before it is parsed, so that
// however large a file, reading it takes bounded memory.
inline constexpr size_t kLargestFile = 16u << 20;

// Reads and checks a file's bytes. False with every problem found.
bool ReadDocuments(const std::string& bytes, DocumentFile& file, std::vector<Problem>& problems);
// The bytes that saving the documents writes over the file as it was read
// (before), or as a new file (null).
std::string WriteDocuments(const DocumentSet& documents, const DocumentFile* before);

// The same on files. Paths are UTF-8, with any letters.
bool LoadDocumentFile(const std::string& path, DocumentFile& file, std::vector<Problem>& problems);
// Replaces the file whole or not at all (a temporary file beside it, then
// renamed over it); a file that already holds these bytes is not touched.
bool SaveDocumentFile(const std::string& path, const DocumentSet& documents,
                      const DocumentFile* before, Problem& problem);

}  // namespace document_file
