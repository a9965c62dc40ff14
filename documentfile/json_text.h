// JSON text read into a tree that remembers where each piece stands: every
// value's bytes, every field name's, numbers as written and every field of an
// object even when its name comes twice. Saving writes unchanged values back
// from these bytes, and the document file names a repeated field; a syntax
// error comes back as a problem of its own kind, never as another library's
// English text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "documentfile/problems.h"

namespace document_file {

struct JsonMember;

struct JsonValue {
    enum class Type { kNull, kFalse, kTrue, kNumber, kString, kArray, kObject };
    Type type = Type::kNull;
    size_t begin = 0, end = 0;        // the value's bytes in the text
    std::string text;                 // a string decoded (UTF-8), a number as written
    std::vector<JsonValue> items;     // kArray
    std::vector<JsonMember> members;  // kObject, in the file's order, repeated names too

    bool Is(Type t) const { return type == t; }
    // The first member of that name, or null.
    const JsonMember* Find(const char* name) const;
    const JsonValue* Value(const char* name) const;
};

struct JsonMember {
    std::string name;
    size_t name_begin = 0;  // the opening quote of the name
    JsonValue value;
};

// Reads the whole text (UTF-8, without a byte order mark, without a zero
// byte: a zero ends it here, so ReadDocuments refuses one first). False with
// the syntax problem (kind, line, column, the field it stood in and the
// number of the document it stood in, where the file had named them before).
bool ParseJson(const std::string& text, JsonValue& root, Problem& problem);

// Line and column (from 1; columns count characters) of a byte of the text.
void TextPosition(const std::string& text, size_t byte, int& line, int& column);

// The same for many bytes of one text, each found in a few steps however far
// into the text it lies: a file with a problem at every field is told in
// time linear in its size. The text must outlive it.
class TextPositions {
  public:
    explicit TextPositions(const std::string& text);
    void At(size_t byte, int& line, int& column) const;

  private:
    struct Mark {
        int line, column;
    };
    static constexpr size_t kStep = 64;  // bytes between marks
    const std::string& text_;
    std::vector<Mark> marks_;  // where byte i * kStep stands
};

}  // namespace document_file
