// What can be wrong with a document file, as data: the kind, where it stands
// (line and column in the file, the document and its position among the
// documents, the field) and the pieces a message needs. The Polish wording is
// made from it in one place, Describe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace document_file {

enum class Fault {
    // The file as a whole.
    kCannotOpen,     // found: the path
    kCannotWrite,    // found: the temporary file's path; number: the system's error
    kCannotReplace,  // found: the path; number: the system's error
    kTooLarge,       // high: the most bytes a file may have
    kUtf16,
    kNotUtf8,   // number: the byte
    kZeroByte,  // line and column where it stands
    // JSON syntax: line and column where it stands, field and document where known.
    kEmptyFile,
    kEndInside,      // found: the "}", "]" or '"' missing; other_line/column: where it opened
    kUnclosedText,   // at the opening quote
    kControlInText,  // number: the character
    kBadEscape,      // found: the escape as written
    kUnknownWord,    // found: the word
    kApostrophes,    // a text in '...'
    kComment,        // // or /* */
    kBadNumber,      // found: the number as written
    kDecimalComma,   // found: "12,5"
    kTrailingComma,  // found: the "}" or "]" after it
    kMissingComma,   // found: "}" or "]", what would close the object or list instead
    kMissingColon,   // field: the name before it
    kUnquotedName,   // found: the name
    kMissingValue,   // field: whose value, where in an object
    kUnexpected,     // found: the character; number: the "}" or "]" that may close there, 0 none
    kTextAfterEnd,
    kTooDeep,  // number: the limit
    // The documents: document, header, row, group and field name where it stands.
    kNotObject,        // the whole file, a header, a line or a group of lines
    kNotList,          // field
    kUnknownField,     // field
    kRepeatedField,    // field, found once before at line/column other_line/other_column
    kMissingField,     // field
    kBothFields,       // field and found: the other field
    kNotWhole,         // field; found: the value as written
    kNotNumber,        // field; found: the value as written
    kNumberTooLarge,   // field; found: the number as written
    kOutOfRange,       // field; low, high
    kUnitsTooFine,     // found: the value as written
    kUnitsOutOfRange,  // found: the value as written
    kNotText,          // field
    kTooLong,          // field; high: the limit, number: the length
    kNotInCodePage,    // field; found: the character; number: its code point
    kZeroCharacter,    // field
    kBadKind,          // found: the kind given
    kEmptyNumber,
    kRepeatedNumber,  // other_document, other_header
    kRepeatedId,      // field; number: the identifier; other_document, other_header
    kZeroId,          // field
    kOrderWithoutSecondId,
    kIssueNoteWithSecondId,
    kBadDate,    // found
    kNoSuchDay,  // found
    kBadArticle,
    kGrossOutOfRange,
    kMoneyOutOfRange,       // field; found: the number; high: the digits allowed before the point
    kLinesValueOutOfRange,  // no "gross", and the lines' values add up beyond its range
    kClearedWithFields,
    kLinesOfAHeader,      // number: the identifier; other_document, other_header
    kLinesTwice,          // number: the identifier
    kLinesWithoutHeader,  // number: the identifier
    // Last of a file's problems when it has more than kKeptProblems: number,
    // how many more there are (AddProblem).
    kMoreProblems,
};

struct Problem {
    Fault kind = Fault::kBadNumber;
    int line = 0, column = 0;  // in the file, from 1; 0: the file as a whole
    std::string document;      // the document's number as written; empty: not known
    int header = 0;            // position in "headers", from 1; 0: none
    int row = 0;               // position in the document's "lines", from 1; 0: none
    int group = 0;             // position in "orphan_lines", from 1; 0: none
    std::string field;         // the field's name; empty: none
    std::string found;         // what stands in the file (see Fault)
    int64_t number = 0, low = 0, high = 0;
    // Where the first of two that must differ stands.
    std::string other_document;
    int other_header = 0;
    int other_line = 0, other_column = 0;
};

// A text between the Polish quotation marks, „text”, as the messages about
// the file and the host program's own quote names and values.
std::string Quote(const std::string& text);

// One problem in Polish, with its document and position.
std::string Describe(const Problem& problem);
// Every problem, one a line; more than kListedProblems are counted, not listed.
inline constexpr size_t kListedProblems = 40;
std::string Describe(const std::vector<Problem>& problems);

// A list of problems keeps the first kKeptProblems whole and only counts the
// rest, so that a file with a problem at every byte takes memory in
// proportion to what is shown, not to its size. AddProblem returns the
// problem to fill in (one not kept: a scratch copy); ProblemCount counts them
// all.
inline constexpr size_t kKeptProblems = 1000;
Problem& AddProblem(std::vector<Problem>& problems, Problem problem);
size_t ProblemCount(const std::vector<Problem>& problems);

}  // namespace document_file
