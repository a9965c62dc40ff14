// Reading: the file's bytes checked as UTF-8, read as JSON, and every document
// checked field by field, each problem with its document and position.
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>

#include "documentfile/document_file.h"
#include "documentfile/record_fields.h"
#include "documentfile/text_codec.h"

namespace document_file {
namespace {

using Type = JsonValue::Type;

// Where the document being checked stands, and the list its problems go to.
struct Place {
    const std::string* text;
    const TextPositions* positions;
    std::vector<Problem>* problems;
    std::string document;
    int header = 0, row = 0, group = 0;

    Problem& Add(Fault kind, size_t byte, const std::string& field = "") const {
        Problem problem;
        problem.kind = kind;
        positions->At(byte, problem.line, problem.column);
        problem.document = document;
        problem.header = header;
        problem.row = row;
        problem.group = group;
        problem.field = field;
        return AddProblem(*problems, std::move(problem));
    }
    size_t Count() const { return ProblemCount(*problems); }
    std::string Written(const JsonValue& value) const {
        return text->substr(value.begin, value.end - value.begin);
    }
};

// Unknown and repeated fields; a repeated one is named at its second place.
// Each name is looked up once among those before it, not read against all
// of them: an object of any number of fields is checked in time linear in
// its size.
void CheckNames(const JsonValue& object, const Place& place, std::span<const char* const> known) {
    std::unordered_map<std::string_view, const JsonMember*> seen;
    for (const JsonMember& member : object.members) {
        const auto [first, fresh] = seen.emplace(member.name, &member);
        if (!fresh) {
            Problem& problem = place.Add(Fault::kRepeatedField, member.name_begin, member.name);
            place.positions->At(first->second->name_begin, problem.other_line,
                                problem.other_column);
            continue;
        }
        bool found = false;
        for (const char* name : known)
            found = found || member.name == name;
        if (!found)
            place.Add(Fault::kUnknownField, member.name_begin, member.name);
    }
}

const JsonValue* Field(const JsonValue& object, const char* field, const Place& place,
                       bool required) {
    const JsonValue* value = object.Value(field);
    if (!value && required)
        place.Add(Fault::kMissingField, object.begin, field);
    return value;
}

// A number written as a whole number that fits T.
template <typename T>
bool Integer(const JsonValue& value, T& number) {
    const std::string& text = value.text;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return value.Is(Type::kNumber) && error == std::errc() && end == text.data() + text.size();
}

std::optional<int64_t> Whole(const JsonValue& object, const char* field, const Place& place,
                             bool required, int64_t min, int64_t max) {
    const JsonValue* value = Field(object, field, place, required);
    if (!value)
        return std::nullopt;
    if (!value->Is(Type::kNumber) || value->text.find_first_of(".eE") != std::string::npos) {
        place.Add(Fault::kNotWhole, value->begin, field).found = place.Written(*value);
        return std::nullopt;
    }
    int64_t number = 0;
    if (!Integer(*value, number))  // more digits than 64 bits hold
        number = value->text[0] == '-' ? INT64_MIN : INT64_MAX;
    if (number < min || number > max) {
        Problem& problem = place.Add(Fault::kOutOfRange, value->begin, field);
        problem.low = min;
        problem.high = max;
        return std::nullopt;
    }
    return number;
}

std::optional<double> Real(const JsonValue& object, const char* field, const Place& place,
                           bool required) {
    const JsonValue* value = Field(object, field, place, required);
    if (!value)
        return std::nullopt;
    if (!value->Is(Type::kNumber)) {
        place.Add(Fault::kNotNumber, value->begin, field).found = place.Written(*value);
        return std::nullopt;
    }
    double number = 0;
    const std::string& text = value->text;
    if (std::from_chars(text.data(), text.data() + text.size(), number).ec != std::errc()) {
        place.Add(Fault::kNumberTooLarge, value->begin, field).found = text;
        return std::nullopt;
    }
    return number;
}

// A unit price or a line's value: a number of at most digits digits before
// the point, either way.
std::optional<double> Money(const JsonValue& object, const char* field, const Place& place,
                            bool required, int digits) {
    const std::optional<double> number = Real(object, field, place, required);
    if (number && !(std::fabs(*number) < std::pow(10.0, digits))) {
        const JsonValue* value = object.Value(field);
        Problem& problem = place.Add(Fault::kMoneyOutOfRange, value->begin, field);
        problem.found = value->text;
        problem.high = digits;
        return std::nullopt;
    }
    return number;
}

// A text in the code page and within its field; the Mazovia bytes in dest.
bool Text(const JsonValue& object, const char* field, const Place& place, bool required,
          size_t max_characters, std::string& dest) {
    const JsonValue* value = Field(object, field, place, required);
    if (!value)
        return false;
    if (!value->Is(Type::kString)) {
        place.Add(Fault::kNotText, value->begin, field).found = place.Written(*value);
        return false;
    }
    std::string mazovia, character;
    uint32_t code = 0;
    if (!Utf8ToMazovia(value->text, mazovia, code, character)) {
        Problem& problem =
            place.Add(code ? Fault::kNotInCodePage : Fault::kZeroCharacter, value->begin, field);
        problem.found = character;
        problem.number = code;
        return false;
    }
    if (mazovia.size() > max_characters) {
        Problem& problem = place.Add(Fault::kTooLong, value->begin, field);
        problem.high = static_cast<int64_t>(max_characters);
        problem.number = static_cast<int64_t>(mazovia.size());
        return false;
    }
    dest = mazovia;
    return true;
}

void Put(char* dest, const std::string& mazovia) {
    memcpy(dest, mazovia.c_str(), mazovia.size() + 1);
}

int32_t ParseDate(const JsonValue& object, const Place& place) {
    const JsonValue* value = object.Value("date");
    if (!value || value->Is(Type::kNull) || (value->Is(Type::kString) && value->text.empty()))
        return 0;
    const std::string& text = value->text;
    int year = 0, month = 0, day = 0;
    const bool form =
        value->Is(Type::kString) && text.size() == 10 && text[4] == '-' && text[7] == '-' &&
        std::from_chars(text.data(), text.data() + 4, year).ptr == text.data() + 4 &&
        std::from_chars(text.data() + 5, text.data() + 7, month).ptr == text.data() + 7 &&
        std::from_chars(text.data() + 8, text.data() + 10, day).ptr == text.data() + 10;
    if (!form) {
        place.Add(Fault::kBadDate, value->begin, "date").found = place.Written(*value);
        return 0;
    }
    const int32_t date = year * 10000 + month * 100 + day;
    if (!ValidDate(date))
        place.Add(Fault::kNoSuchDay, value->begin, "date").found = text;
    return date;
}

void ParseQuantity(const JsonValue& object, const Place& place, DocumentItem& line) {
    const JsonValue* units = object.Value("units");
    if (object.Value("quantity") && units) {
        place.Add(Fault::kBothFields, units->begin, "quantity").found = "units";
    } else if (units) {
        if (auto value = Real(object, "units", place, true)) {
            // A decimal such as 1.005 is not exact in binary: times 1000 it
            // lands a hair beside its whole number of thousandths.
            const double thousandths = std::round(*value * 1000.0);
            if (std::fabs(thousandths) > INT32_MAX)
                place.Add(Fault::kUnitsOutOfRange, units->begin, "units").found = units->text;
            else if (std::fabs(*value * 1000.0 - thousandths) > 1e-6)
                place.Add(Fault::kUnitsTooFine, units->begin, "units").found = units->text;
            else
                line.quantity = static_cast<int32_t>(thousandths);
        }
    } else if (auto quantity = Whole(object, "quantity", place, true, INT32_MIN, INT32_MAX)) {
        line.quantity = static_cast<int32_t>(*quantity);
    }
}

std::optional<DocumentItem> ParseLine(const JsonValue& object, const Place& place) {
    if (!object.Is(Type::kObject)) {
        place.Add(Fault::kNotObject, object.begin);
        return std::nullopt;
    }
    const size_t before = place.Count();
    CheckNames(object, place, kLineFields);
    DocumentItem line{};
    std::string text;
    if (Text(object, "text", place, true, sizeof line.text - 1, text))
        Put(line.text, text);
    ParseQuantity(object, place, line);
    if (const JsonValue* article = Field(object, "article", place, true)) {
        bool good = article->Is(Type::kArray) && article->items.size() == 2;
        int16_t parts[2] = {};
        for (size_t i = 0; good && i < 2; ++i)
            good = Integer(article->items[i], parts[i]);
        if (good) {
            line.article_key_first = parts[0];
            line.article_key_second = parts[1];
        } else {
            place.Add(Fault::kBadArticle, article->begin, "article");
        }
    }
    PutDouble(&line, kVsLineUnitPriceOffset,
              Money(object, "unit_price", place, true, kPriceDigits).value_or(0));
    line.value_150 = Real(object, "value_150", place, false).value_or(0);
    line.value_202 = Real(object, "value_202", place, false).value_or(0);
    PutDouble(&line, kVsLineValueOffset,
              Money(object, "value", place, false, kValueDigits).value_or(ComputedValue(line)));
    if (place.Count() != before)
        return std::nullopt;
    return line;
}

// Where each identifier was first seen, to name it when it comes again.
struct Seen {
    struct First {
        std::string document;
        int header = 0;
    };
    std::map<int64_t, First> document_ids, second_ids;
    std::map<std::string, First> numbers;
    int cleared = 0;
};

void Repeated(std::map<int64_t, Seen::First>& seen, int64_t id, const Place& place,
              const JsonValue& object, const char* field) {
    auto [it, fresh] = seen.emplace(id, Seen::First{place.document, place.header});
    if (fresh)
        return;
    Problem& problem = place.Add(Fault::kRepeatedId, object.Value(field)->begin, field);
    problem.number = id;
    problem.other_document = it->second.document;
    problem.other_header = it->second.header;
}

std::vector<DocumentItem> Lines(const JsonValue& object, const Place& place) {
    std::vector<DocumentItem> lines;
    const JsonValue* list = Field(object, "lines", place, true);
    if (!list)
        return lines;
    if (!list->Is(Type::kArray)) {
        place.Add(Fault::kNotList, list->begin, "lines");
        return lines;
    }
    for (size_t i = 0; i < list->items.size(); ++i) {
        Place at = place;
        at.row = static_cast<int>(i + 1);
        if (auto line = ParseLine(list->items[i], at))
            lines.push_back(*line);
    }
    return lines;
}

void ParseHeader(const JsonValue& object, Place place, Seen& seen, DocumentSet& documents) {
    if (!object.Is(Type::kObject)) {
        place.Add(Fault::kNotObject, object.begin);
        return;
    }
    if (const JsonValue* cleared = object.Value("cleared")) {
        if (object.members.size() != 1 || !cleared->Is(Type::kTrue))
            place.Add(Fault::kClearedWithFields, object.begin);
        documents.headers.push_back(DocumentHeader{});
        ++seen.cleared;
        return;
    }
    // The number first, to name the document in every later problem.
    if (const JsonValue* number = object.Value("number"); number && number->Is(Type::kString))
        place.document = number->text;
    CheckNames(object, place, kHeaderFields);

    DocumentHeader header{};
    auto* bytes = reinterpret_cast<uint8_t*>(&header);
    std::string text, kind;
    if (const JsonValue* value = Field(object, "kind", place, true)) {
        const std::string given = value->Is(Type::kString) ? value->text : place.Written(*value);
        if (given == "ZK" || given == "WZ") {
            kind = given;
            Put(reinterpret_cast<char*>(bytes + kVsHeaderKindOffset), given);
        } else {
            place.Add(Fault::kBadKind, value->begin, "kind").found = given;
        }
    }
    if (Text(object, "number", place, true, sizeof header.number - 1, text)) {
        if (text.empty()) {
            place.Add(Fault::kEmptyNumber, object.Value("number")->begin, "number");
        } else {
            Put(header.number, text);
            auto [it, fresh] =
                seen.numbers.emplace(text, Seen::First{place.document, place.header});
            if (!fresh) {
                Problem& problem =
                    place.Add(Fault::kRepeatedNumber, object.Value("number")->begin, "number");
                problem.other_document = it->second.document;
                problem.other_header = it->second.header;
            }
        }
    }
    int32_t date = ParseDate(object, place);
    if (const JsonValue* raw = object.Value("date_raw")) {
        if (object.Value("date"))
            place.Add(Fault::kBothFields, raw->begin, "date").found = "date_raw";
        date = static_cast<int32_t>(
            Whole(object, "date_raw", place, true, INT32_MIN, INT32_MAX).value_or(0));
    }
    memcpy(bytes + kDateOffset, &date, sizeof date);
    header.customer = static_cast<int16_t>(
        Whole(object, "customer", place, true, INT16_MIN, INT16_MAX).value_or(0));
    if (auto id = Whole(object, "document_id", place, true, INT32_MIN, INT32_MAX)) {
        if (*id == 0) {
            place.Add(Fault::kZeroId, object.Value("document_id")->begin, "document_id");
        } else {
            header.document_id = static_cast<int32_t>(*id);
            Repeated(seen.document_ids, *id, place, object, "document_id");
        }
    }
    // What makes a document an order: a second identifier other than 0.
    const bool order = kind == "ZK";
    if (auto id = Whole(object, "second_id", place, order, INT32_MIN, INT32_MAX)) {
        if (order && *id == 0)
            place.Add(Fault::kOrderWithoutSecondId, object.Value("second_id")->begin, "second_id");
        else if (!order && *id != 0 && kind == "WZ")
            place.Add(Fault::kIssueNoteWithSecondId, object.Value("second_id")->begin, "second_id");
        header.second_id = static_cast<int32_t>(*id);
        if (*id != 0)
            Repeated(seen.second_ids, *id, place, object, "second_id");
    }
    header.compared_marker = static_cast<int16_t>(
        Whole(object, "marker", place, false, INT16_MIN, INT16_MAX).value_or(0));
    if (Text(object, "remarks", place, false, sizeof header.remarks - 1, text))
        Put(header.remarks, text);

    const std::vector<DocumentItem> lines = Lines(object, place);
    const JsonValue* given = object.Value("gross");
    const std::optional<double> gross = Real(object, "gross", place, false);
    if (object.Value("gross_stored")) {
        header.gross_value = Real(object, "gross_stored", place, true).value_or(0);
    } else if (given && !gross) {
        // No number: said already.
    } else if (auto stored = Stored(gross ? *gross : LinesValue(lines))) {
        header.gross_value = *stored;
    } else if (given) {
        place.Add(Fault::kGrossOutOfRange, given->begin, "gross");
    } else {
        place.Add(Fault::kLinesValueOutOfRange, object.begin, "gross");
    }
    documents.headers.push_back(header);
    if (!lines.empty() && header.document_id != 0)
        documents.lines[header.document_id] = lines;
}

void ParseOrphans(const JsonValue& groups, const Place& file, const Seen& seen,
                  DocumentSet& documents) {
    if (!groups.Is(Type::kArray)) {
        file.Add(Fault::kNotList, groups.begin, "orphan_lines");
        return;
    }
    for (size_t i = 0; i < groups.items.size(); ++i) {
        Place at = file;
        at.group = static_cast<int>(i + 1);
        const JsonValue& group = groups.items[i];
        if (!group.Is(Type::kObject)) {
            at.Add(Fault::kNotObject, group.begin);
            continue;
        }
        static const char* const kGroupFields[] = {"document_id", "lines"};
        CheckNames(group, at, kGroupFields);
        const auto id = Whole(group, "document_id", at, true, INT32_MIN, INT32_MAX);
        auto lines = Lines(group, at);
        if (!id)
            continue;
        const size_t where = group.Value("document_id")->begin;
        if (auto owner = seen.document_ids.find(*id); owner != seen.document_ids.end()) {
            Problem& problem = at.Add(Fault::kLinesOfAHeader, where, "document_id");
            problem.number = *id;
            problem.other_document = owner->second.document;
            problem.other_header = owner->second.header;
        } else if (documents.lines.count(static_cast<int32_t>(*id))) {
            at.Add(Fault::kLinesTwice, where, "document_id").number = *id;
        } else if (static_cast<int>(i) >= seen.cleared) {
            // Lines without a header are left only by headers the plug-in
            // cleared; any other such line belongs to no document.
            at.Add(Fault::kLinesWithoutHeader, where, "document_id").number = *id;
        } else if (!lines.empty()) {
            documents.lines[static_cast<int32_t>(*id)] = std::move(lines);
        }
    }
}

// Why the bytes are no document file's text at all, or false when they are
// one: too large, or no UTF-8 text (a zero byte ends a text for many
// programs, so it is refused where it stands rather than read past).
bool Unreadable(const std::string& bytes, std::vector<Problem>& problems) {
    Problem problem;
    // Places are counted as an editor counts, without the byte order mark.
    const size_t mark = bytes.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
    auto place = [&](size_t byte) {
        TextPosition(bytes.substr(mark), byte - mark, problem.line, problem.column);
    };
    if (bytes.size() > kLargestFile) {
        problem.kind = Fault::kTooLarge;
        problem.high = static_cast<int64_t>(kLargestFile);
    } else if (bytes.size() >= 2 && ((bytes[0] == '\xFF' && bytes[1] == '\xFE') ||
                                     (bytes[0] == '\xFE' && bytes[1] == '\xFF'))) {
        problem.kind = Fault::kUtf16;
    } else if (const size_t bad = BadUtf8(bytes); bad != std::string::npos) {
        problem.kind = Fault::kNotUtf8;
        problem.number = static_cast<uint8_t>(bytes[bad]);
        place(bad);
    } else if (const size_t zero = bytes.find('\0'); zero != std::string::npos) {
        problem.kind = Fault::kZeroByte;
        place(zero);
    } else {
        return false;
    }
    problems.push_back(problem);
    return true;
}

}  // namespace

bool ReadDocuments(const std::string& bytes, DocumentFile& file, std::vector<Problem>& problems) {
    problems.clear();
    file = DocumentFile{};
    if (Unreadable(bytes, problems))
        return false;
    file.byte_order_mark = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    file.text = bytes.substr(file.byte_order_mark ? 3 : 0);
    Problem syntax;
    if (!ParseJson(file.text, file.root, syntax)) {
        problems.push_back(syntax);
        return false;
    }
    const JsonValue& root = file.root;
    const TextPositions positions(file.text);
    const Place place{&file.text, &positions, &problems, "", 0, 0, 0};
    if (!root.Is(Type::kObject)) {
        place.Add(Fault::kNotObject, root.begin);
        return false;
    }
    static const char* const kFileFields[] = {"headers", "orphan_lines"};
    CheckNames(root, place, kFileFields);
    const JsonValue* headers = Field(root, "headers", place, true);
    if (headers && !headers->Is(Type::kArray))
        place.Add(Fault::kNotList, headers->begin, "headers");
    Seen seen;
    if (headers && headers->Is(Type::kArray)) {
        for (size_t i = 0; i < headers->items.size(); ++i) {
            Place at = place;
            at.header = static_cast<int>(i + 1);
            ParseHeader(headers->items[i], at, seen, file.documents);
        }
    }
    if (const JsonValue* orphans = root.Value("orphan_lines"))
        ParseOrphans(*orphans, place, seen, file.documents);
    if (!problems.empty()) {
        file.documents = DocumentSet{};
        return false;
    }
    return true;
}

bool SameDocuments(const DocumentSet& a, const DocumentSet& b) {
    auto same = [](const auto& x, const auto& y) {
        if (x.size() != y.size())
            return false;
        for (size_t i = 0; i < x.size(); ++i) {
            const auto left = AsFileHolds(x[i]), right = AsFileHolds(y[i]);
            if (memcmp(&left, &right, sizeof left) != 0)
                return false;
        }
        return true;
    };
    // An identifier without lines is the same as none.
    auto covered = [&](const DocumentSet& x, const DocumentSet& y) {
        for (const auto& [id, lines] : x.lines) {
            auto other = y.lines.find(id);
            if (!lines.empty() && (other == y.lines.end() || !same(lines, other->second)))
                return false;
        }
        return true;
    };
    return same(a.headers, b.headers) && covered(a, b) && covered(b, a);
}

}  // namespace document_file
