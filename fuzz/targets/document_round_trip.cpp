// What the document file's writer writes, its reader reads back as the same
// documents, and a change to one field costs nothing of the file's layout.
//
// The input: a change of 16 bytes (below), then a document file. When the
// file reads, the target checks that
// - written over itself unchanged, the file keeps its bytes;
// - written as a new file, it reads back as the same documents, and that
//   file written anew gives the same bytes again;
// - with the change made as the host makes it (a marker, remarks or a line's
//   text copied over the old one, which leaves the old bytes behind the
//   terminator; a quantity, a value, a gross value; a line dropped, a header
//   cleared), the file written over the one read reads back as the changed
//   documents, and only the changed document's object differs from the file
//   read (a cleared header: nothing before it); also when the host then
//   recomputes the document's values and total as after a comparison.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include "documentfile/document_file.h"
#include "documentfile/record_fields.h"
#include "fuzz/targets/fuzz_check.h"

using namespace document_file;

namespace {

enum Change : uint8_t {
    kNothing,
    kMarker,
    kRemarks,
    kGross,
    kLineText,
    kQuantity,
    kLineValue,
    kDropLine,
    kClearHeader,
    kChanges
};

// The 16 bytes in front of the file.
struct ChangeBytes {
    uint8_t change;     // % kChanges
    uint8_t header[2];  // which header, little-endian, % the headers
    uint8_t line[2];    // which of its lines, % its lines
    uint8_t value[8];   // the new value's bytes (a text's characters, repeated)
    uint8_t length;     // a text's new length, % its field's room
    uint8_t which;      // kQuantity: odd, the host's value follows; kLineValue: % 3
    uint8_t recompute;  // odd: then the host recomputes as after a comparison (Recompute)
};
static_assert(sizeof(ChangeBytes) == 16);

// A text field as HostCopyText leaves it: the new characters, the
// terminator, and behind it the old bytes.
void CopyText(char* field, size_t size, const ChangeBytes& change) {
    const size_t length = change.length % size;
    for (size_t i = 0; i < length; ++i)
        field[i] = static_cast<char>(change.value[i % 8] ? change.value[i % 8] : ' ');
    field[length] = 0;
}

// A new money value: the bytes as a double, or as a whole number where they
// are no finite double. A record holding an infinity or a NaN has no JSON
// number to be written as, and the file has no other form for it yet.
double Double(const ChangeBytes& change) {
    double value;
    memcpy(&value, change.value, sizeof value);
    if (std::isfinite(value))
        return value;
    int64_t whole;
    memcpy(&whole, change.value, sizeof whole);
    return static_cast<double>(whole);
}

// Makes the change; false when there is nothing to change there.
bool Apply(const ChangeBytes& change, DocumentSet& documents, size_t& header) {
    if (documents.headers.empty())
        return false;
    header = (change.header[0] | change.header[1] << 8) % documents.headers.size();
    DocumentHeader& record = documents.headers[header];
    if (VsCleared(record))
        return false;
    std::vector<DocumentItem>& lines = documents.lines[record.document_id];
    const size_t index = lines.empty() ? 0 : (change.line[0] | change.line[1] << 8) % lines.size();
    DocumentItem* line = lines.empty() ? nullptr : &lines[index];
    int32_t number;
    memcpy(&number, change.value, sizeof number);
    switch (change.change % kChanges) {
        case kMarker:
            record.compared_marker = static_cast<int16_t>(number);
            return true;
        case kRemarks:
            CopyText(record.remarks, sizeof record.remarks, change);
            return true;
        case kGross:
            record.gross_value = Double(change);
            return true;
        case kLineText:
            return line && (CopyText(line->text, sizeof line->text, change), true);
        case kQuantity:
            if (!line)
                return false;
            line->quantity = number;
            if (change.which % 2)
                PutDouble(line, kVsLineValueOffset, ComputedValue(*line));
            return true;
        case kLineValue:
            if (!line)
                return false;
            PutDouble(line,
                      change.which % 3 == 0   ? kVsLineValueOffset
                      : change.which % 3 == 1 ? offsetof(DocumentItem, value_150)
                                              : offsetof(DocumentItem, value_202),
                      Double(change));
            return true;
        case kDropLine:
            return line && (lines.erase(lines.begin() + static_cast<ptrdiff_t>(index)), true);
        case kClearHeader:
            record = DocumentHeader{};
            return true;
        default:
            return false;
    }
}

// What the host makes of a document whose lines a comparison changed
// (HostUpdateLines, HostUpdateTotals): every line's value recomputed from its
// quantity and unit price, the total from the values.
void Recompute(DocumentSet& documents, size_t header) {
    DocumentHeader& record = documents.headers[header];
    if (VsCleared(record))
        return;
    std::vector<DocumentItem>& lines = documents.lines[record.document_id];
    for (DocumentItem& line : lines)
        PutDouble(&line, kVsLineValueOffset, ComputedValue(line));
    record.gross_value = LinesValue(lines) * 10000.0;
}

DocumentSet ReadBack(const std::string& text) {
    DocumentFile file;
    std::vector<Problem> problems;
    if (!ReadDocuments(text, file, problems)) {
        fprintf(stderr, "%s\n", Describe(problems).c_str());
        Require(false, "what the writer writes, the reader reads");
    }
    return file.documents;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ChangeBytes change{};
    if (size < sizeof change)
        return 0;
    memcpy(&change, data, sizeof change);
    const std::string bytes(reinterpret_cast<const char*>(data) + sizeof change,
                            size - sizeof change);
    DocumentFile file;
    std::vector<Problem> problems;
    if (!ReadDocuments(bytes, file, problems))
        return 0;
    Require(WriteDocuments(file.documents, &file) == bytes, "unchanged, the file keeps its bytes");

    const std::string fresh = WriteDocuments(file.documents, nullptr);
    const DocumentSet back = ReadBack(fresh);
    Require(SameDocuments(back, file.documents), "a new file reads back as its documents");
    Require(WriteDocuments(back, nullptr) == fresh, "a new file written anew keeps its bytes");

    DocumentSet changed = file.documents;
    size_t header = 0;
    if (!Apply(change, changed, header))
        return 0;
    if (change.recompute % 2)
        Recompute(changed, header);
    const std::string saved = WriteDocuments(changed, &file);
    Require(SameDocuments(ReadBack(saved), changed), "a changed file reads back as changed");
    // Only the changed document's object is written anew.
    const JsonValue& object = file.root.Value("headers")->items[header];
    const size_t mark = file.byte_order_mark ? 3 : 0;
    const std::string before = bytes.substr(0, mark + object.begin);
    const std::string after = bytes.substr(mark + object.end);
    Require(saved.compare(0, before.size(), before) == 0, "what precedes the change is kept");
    Require(change.change % kChanges == kClearHeader ||
                (saved.size() >= before.size() + after.size() &&
                 saved.compare(saved.size() - after.size(), after.size(), after) == 0),
            "what follows the change is kept");
    return 0;
}
