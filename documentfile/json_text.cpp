#include "documentfile/json_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "documentfile/text_codec.h"

namespace document_file {
namespace {

// Deeper than any document file goes; a deeper file is refused rather than
// read by ever deeper recursion.
constexpr int kDepthLimit = 64;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Letters of a word written without quotes, Polish ones (UTF-8) included.
bool IsWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || IsDigit(c) || c == '_' ||
           static_cast<uint8_t>(c) >= 0x80;
}

bool StartsValue(char c) {
    return c == '{' || c == '[' || c == '"' || c == '-' || IsWordChar(c);
}

// An object or list being read, for the place of a syntax error.
struct Frame {
    bool object = false;
    size_t open = 0;     // its opening bracket
    std::string field;   // the object's field being read
    std::string number;  // the object's "number", once read
};

struct Reader {
    const std::string& text;
    size_t at = 0;
    std::vector<Frame> frames;
    Problem problem;

    bool Fail(Fault kind, size_t where, std::string found = "") {
        problem = Problem{};
        problem.kind = kind;
        problem.found = std::move(found);
        TextPosition(text, where, problem.line, problem.column);
        for (auto frame = frames.rbegin(); frame != frames.rend(); ++frame) {
            if (problem.field.empty() && frame->object)
                problem.field = frame->field;
            if (problem.document.empty())
                problem.document = frame->number;
        }
        return false;
    }

    // The next character after white space, or 0 at the end.
    char Next() {
        while (at < text.size() && strchr(" \t\r\n", text[at]) && text[at] != 0)
            ++at;
        return at < text.size() ? text[at] : 0;
    }

    bool EndInside() {
        const Frame& frame = frames.back();
        if (!Fail(Fault::kEndInside, text.size(), frame.object ? "}" : "]"))
            TextPosition(text, frame.open, problem.other_line, problem.other_column);
        return false;
    }

    // A character that cannot stand where it stands; closing: the bracket
    // that may stand there instead, or 0.
    bool Stray(char closing) {
        const char c = text[at];
        if (c == '/' && at + 1 < text.size() && (text[at + 1] == '/' || text[at + 1] == '*'))
            return Fail(Fault::kComment, at);
        if (c == '\'')
            return Fail(Fault::kApostrophes, at);
        size_t length = 1;
        while (at + length < text.size() &&
               (static_cast<uint8_t>(text[at + length]) & 0xC0) == 0x80)
            ++length;
        Fail(Fault::kUnexpected, at, text.substr(at, length));
        problem.number = static_cast<uint8_t>(closing);
        return false;
    }

    bool Value(JsonValue& out) {
        const char c = Next();
        out.begin = at;
        if (c == 0)
            return frames.empty() ? Fail(Fault::kEmptyFile, at) : EndInside();
        bool read = false;
        if (c == '{')
            read = Object(out);
        else if (c == '[')
            read = Array(out);
        else if (c == '"')
            read = Text(out);
        else if (c == '-' || c == '+' || c == '.' || IsDigit(c))
            read = Number(out);
        else if (IsWordChar(c))
            read = Word(out);
        else if (c == '}' || c == ']' || c == ',' || c == ':')
            read = Fail(Fault::kMissingValue, at);
        else
            read = Stray(0);
        out.end = at;
        return read;
    }

    bool Text(JsonValue& out) {
        out.type = JsonValue::Type::kString;
        return String(out.text);
    }

    bool String(std::string& out) {
        const size_t open = at++;
        for (;;) {
            if (at >= text.size()) {
                // Cut off in the middle of a text.
                Fail(Fault::kEndInside, at, "\"");
                TextPosition(text, open, problem.other_line, problem.other_column);
                return false;
            }
            if (text[at] == '\n' || text[at] == '\r')
                return Fail(Fault::kUnclosedText, open);
            const char c = text[at];
            if (c == '"') {
                ++at;
                return true;
            }
            if (static_cast<uint8_t>(c) < 0x20) {
                Fail(Fault::kControlInText, at);
                problem.number = static_cast<uint8_t>(c);
                return false;
            }
            if (c != '\\') {
                out += c;
                ++at;
                continue;
            }
            if (!Escape(out))
                return false;
        }
    }

    // At a backslash: one escape, \uXXXX pairs for characters beyond 0xFFFF.
    bool Escape(std::string& out) {
        const size_t start = at;
        const char kind = at + 1 < text.size() ? text[at + 1] : 0;
        static const char kSimple[] = "\"\\/bfnrt";
        static const char kMeaning[] = "\"\\/\b\f\n\r\t";
        if (const char* simple = kind ? strchr(kSimple, kind) : nullptr) {
            out += kMeaning[simple - kSimple];
            at += 2;
            return true;
        }
        auto hex = [&](size_t from, uint32_t& value) {
            value = 0;
            for (size_t i = from; i < from + 4; ++i) {
                const char h = i < text.size() ? text[i] : 0;
                const int digit = IsDigit(h)                               ? h - '0'
                                  : (h | 0x20) >= 'a' && (h | 0x20) <= 'f' ? (h | 0x20) - 'a' + 10
                                                                           : -1;
                if (digit < 0)
                    return false;
                value = value * 16 + static_cast<uint32_t>(digit);
            }
            return true;
        };
        uint32_t c = 0, low = 0;
        bool good = kind == 'u' && hex(at + 2, c) && c != 0;
        at += good ? 6 : 0;
        if (good && c >= 0xD800 && c <= 0xDBFF) {
            good = at + 1 < text.size() && text[at] == '\\' && text[at + 1] == 'u' &&
                   hex(at + 2, low) && low >= 0xDC00 && low <= 0xDFFF;
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            at += good ? 6 : 0;
        } else if (good && c >= 0xDC00 && c <= 0xDFFF) {
            good = false;
        }
        if (!good) {
            size_t length = kind == 'u' ? 6 : 2;
            return Fail(Fault::kBadEscape, start, text.substr(start, length));
        }
        AppendUtf8(out, c);
        return true;
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?, kept as written.
    bool Number(JsonValue& out) {
        const size_t start = at;
        size_t i = at;
        auto digits = [&] {
            const size_t from = i;
            while (i < text.size() && IsDigit(text[i]))
                ++i;
            return i > from;
        };
        if (text[i] == '-')
            ++i;
        const bool leading_zero = i + 1 < text.size() && text[i] == '0' && IsDigit(text[i + 1]);
        bool good = !leading_zero && digits();
        if (good && i < text.size() && text[i] == '.')
            good = (++i, digits());
        if (good && i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
            ++i;
            if (i < text.size() && (text[i] == '+' || text[i] == '-'))
                ++i;
            good = digits();
        }
        // Whatever sticks to it belongs to the same wrong number.
        size_t end = i;
        while (end < text.size() && (IsWordChar(text[end]) || strchr("+-.", text[end])) &&
               text[end] != 0)
            ++end;
        if (!good || end != i)
            return Fail(Fault::kBadNumber, start, text.substr(start, end - start));
        out.type = JsonValue::Type::kNumber;
        out.text = text.substr(start, i - start);
        at = i;
        return true;
    }

    bool Word(JsonValue& out) {
        const size_t start = at;
        while (at < text.size() && IsWordChar(text[at]))
            ++at;
        const std::string word = text.substr(start, at - start);
        if (word == "true" || word == "false" || word == "null") {
            out.type = word == "true"    ? JsonValue::Type::kTrue
                       : word == "false" ? JsonValue::Type::kFalse
                                         : JsonValue::Type::kNull;
            return true;
        }
        return Fail(Fault::kUnknownWord, start, word);
    }

    bool Open(bool object) {
        if (static_cast<int>(frames.size()) >= kDepthLimit) {
            Fail(Fault::kTooDeep, at);
            problem.number = kDepthLimit;
            return false;
        }
        frames.push_back(Frame{object, at++, "", ""});
        return true;
    }

    // At the closing bracket: the object or list ends there.
    bool Closes(char closing) {
        if (Next() != closing)
            return false;
        ++at;
        frames.pop_back();
        return true;
    }

    // After a value: 1 when the object or list ends, 0 when a comma follows
    // (its place in comma), -1 for an error.
    int AfterValue(char closing, size_t& comma) {
        const char after = Next();
        if (after == 0) {
            EndInside();
            return -1;
        }
        if (Closes(closing))
            return 1;
        if (after != ',') {
            if (StartsValue(after))
                Fail(Fault::kMissingComma, at, std::string(1, closing));
            else
                Stray(closing);
            return -1;
        }
        comma = at++;
        return 0;
    }

    // An object or a list: each entry read by entry(c, comma), c its first
    // character, false on an error; then a comma or the end.
    template <typename Entry>
    bool Entries(JsonValue& out, bool object, Entry entry) {
        out.type = object ? JsonValue::Type::kObject : JsonValue::Type::kArray;
        const char closing = object ? '}' : ']';
        if (!Open(object))
            return false;
        if (Closes(closing))
            return true;
        size_t comma = std::string::npos;
        for (;;) {
            const char c = Next();
            if (c == closing && comma != std::string::npos)
                return Fail(Fault::kTrailingComma, comma, std::string(1, closing));
            if (!entry(c, comma))
                return false;
            if (const int end = AfterValue(closing, comma); end != 0)
                return end > 0;
        }
    }

    bool Object(JsonValue& out) {
        return Entries(out, true, [&](char c, size_t comma) {
            if (c == 0)
                return EndInside();
            JsonMember member;
            member.name_begin = at;
            if (c != '"') {
                // "units": 12,5 reads as the number 12 and then a name 5.
                const JsonValue* last = out.members.empty() ? nullptr : &out.members.back().value;
                if (IsDigit(c) && last && last->Is(JsonValue::Type::kNumber) &&
                    last->end == comma) {
                    size_t end = at;
                    while (end < text.size() && IsDigit(text[end]))
                        ++end;
                    return Fail(Fault::kDecimalComma, last->begin,
                                text.substr(last->begin, end - last->begin));
                }
                if (IsWordChar(c)) {
                    size_t end = at;
                    while (end < text.size() && IsWordChar(text[end]))
                        ++end;
                    return Fail(Fault::kUnquotedName, at, text.substr(at, end - at));
                }
                return Stray('}');
            }
            if (!String(member.name))
                return false;
            frames.back().field = member.name;
            const char colon = Next();
            if (colon == 0)
                return EndInside();
            if (colon != ':')
                return Fail(Fault::kMissingColon, at);
            ++at;
            if (!Value(member.value))
                return false;
            if (member.name == "number" && member.value.Is(JsonValue::Type::kString))
                frames.back().number = member.value.text;
            out.members.push_back(std::move(member));
            return true;
        });
    }

    bool Array(JsonValue& out) {
        return Entries(out, false, [&](char, size_t) {
            out.items.emplace_back();
            return Value(out.items.back());
        });
    }
};

}  // namespace

const JsonMember* JsonValue::Find(const char* name) const {
    for (const JsonMember& member : members)
        if (member.name == name)
            return &member;
    return nullptr;
}

const JsonValue* JsonValue::Value(const char* name) const {
    const JsonMember* member = Find(name);
    return member ? &member->value : nullptr;
}

bool ParseJson(const std::string& text, JsonValue& root, Problem& problem) {
    Reader reader{text, 0, {}, {}};
    root = JsonValue{};
    if (!reader.Value(root)) {
        problem = reader.problem;
        return false;
    }
    if (reader.Next() != 0) {
        // A comment or quotes are named as such; anything else is too much.
        reader.Stray(0);
        if (reader.problem.kind == Fault::kUnexpected)
            reader.Fail(Fault::kTextAfterEnd, reader.at);
        problem = reader.problem;
        return false;
    }
    return true;
}

namespace {

// From the position of byte from on to that of byte to.
void Advance(const std::string& text, size_t from, size_t to, int& line, int& column) {
    for (size_t i = from; i < to && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
}

}  // namespace

void TextPosition(const std::string& text, size_t byte, int& line, int& column) {
    line = 1;
    column = 1;
    Advance(text, 0, byte, line, column);
}

TextPositions::TextPositions(const std::string& text) : text_(text) {
    marks_.reserve(text.size() / kStep + 1);
    Mark mark{1, 1};
    for (size_t at = 0; at <= text.size(); at += kStep) {
        marks_.push_back(mark);
        Advance(text, at, at + kStep, mark.line, mark.column);
    }
}

void TextPositions::At(size_t byte, int& line, int& column) const {
    const size_t mark = std::min(byte, text_.size()) / kStep;
    line = marks_[mark].line;
    column = marks_[mark].column;
    Advance(text_, mark * kStep, byte, line, column);
}

}  // namespace document_file
