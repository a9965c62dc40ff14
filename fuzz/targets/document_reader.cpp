// The document file's reader on any bytes: refused with problems or read,
// never a crash, and what it says and gives stays within bounds. The
// sanitizers catch a fault on the way; the time limit catches a reading that
// is not linear in the file's size.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "documentfile/document_file.h"
#include "documentfile/text_codec.h"
#include "fuzz/targets/fuzz_check.h"

using namespace document_file;

namespace {

bool Terminated(const char* field, size_t size) {
    return memchr(field, 0, size) != nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    DocumentFile file;
    std::vector<Problem> problems;
    const bool read = ReadDocuments(bytes, file, problems);
    Require(read == problems.empty(), "a file is read exactly when it has no problems");
    Require(!read || bytes.find('\0') == std::string::npos, "a file with a zero byte is refused");
    if (!read) {
        Require(file.documents.headers.empty() && file.documents.lines.empty(),
                "a refused file gives no documents");
        const int lines = 1 + static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n'));
        for (const Problem& problem : problems) {
            Require(problem.line >= 0 && problem.line <= lines, "a problem's line is in the file");
            Require(problem.column >= 0 && problem.other_line <= lines,
                    "a problem's other place is in the file");
        }
        Require(BadUtf8(Describe(problems)) == std::string::npos,
                "the problems are told in well-formed UTF-8");
        return 0;
    }
    for (const DocumentHeader& header : file.documents.headers)
        Require(Terminated(header.number, sizeof header.number) &&
                    Terminated(header.remarks, sizeof header.remarks),
                "a header's texts end within their fields");
    for (const auto& [id, lines] : file.documents.lines)
        for (const DocumentItem& line : lines)
            Require(Terminated(line.text, sizeof line.text), "a line's text ends within its field");
    return 0;
}
