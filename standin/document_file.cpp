// The document file: the stand-in's store as readable JSON.
//
// Texts are UTF-8 in the file and Mazovia bytes in the records. Schema:
//
//   {
//     "headers": [
//       {
//         "kind": "ZK",              // up to 4 characters: "ZK" order, "WZ" issue note
//         "number": "ZK/7/2026",     // up to 16 characters
//         "date": "2026-03-02",      // or absent: no date
//         "customer": 3,             // 16-bit
//         "second_id": 5107,         // 32-bit
//         "document_id": 107,        // 32-bit; the lines below belong to it
//         "marker": 0,               // 16-bit; 2000 once compared with an order
//         "remarks": "…",            // up to 100 characters
//         "gross": 123.45,           // displayed value; stored multiplied by 10,000
//         "lines": [
//           {
//             "text": "Mąka pszenna",  // up to 120 characters
//             "quantity": 5000,         // thousandths of a unit; or "units": 5
//             "article": [11, 1],       // first and second part of the article key
//             "unit_price": 3.2,
//             "value": 16.0,            // line value; absent: quantity / 1000 × unit price
//             "value_150": 0.0,         // absent: 0
//             "value_202": 0.0          // absent: 0
//           }
//         ]
//       }
//     ],
//     "orphan_lines": [ { "document_id": 9, "lines": [ … ] } ]
//   }
//
// Absent fields are zero, except "gross", which is then the sum of the line
// values, and "value". A header's lines are those of its document identifier;
// when several headers share one, the lines are written with the first. Lines
// of an identifier that no header carries are kept under "orphan_lines".
// Saving writes every field that the store holds, so that load and save
// round-trip: "gross_stored" carries the exact stored value when the displayed
// one does not give it back, and "date_raw" a date field that is no valid date.
#include <windows.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "standin/mazovia_codec.h"
#include "standin/standin_state.h"

namespace veldan {
namespace {

using Json = nlohmann::ordered_json;

// Where the host keeps a header's kind ("ZK", "WZ"): bytes the plug-in never
// touches.
constexpr size_t kKindOffset = 19;
constexpr size_t kKindLength = 4;
constexpr size_t kDateOffset = 230;

struct Invalid {
    std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw Invalid{where + ": " + what};
}

void CheckFields(const Json& object, const std::string& where,
                 std::initializer_list<const char*> known) {
    if (!object.is_object())
        Fail(where, "must be an object");
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool found = false;
        for (const char* name : known)
            found = found || it.key() == name;
        if (!found)
            Fail(where + "." + it.key(), "unknown field");
    }
}

int64_t Integer(const Json& object, const char* field, const std::string& where, int64_t min,
                int64_t max) {
    auto found = object.find(field);
    if (found == object.end())
        return 0;
    const std::string at = where + "." + field;
    if (!found->is_number_integer())
        Fail(at, "must be a whole number");
    const int64_t value = found->get<int64_t>();
    if (value < min || value > max)
        Fail(at, "out of range " + std::to_string(min) + " to " + std::to_string(max));
    return value;
}

double Number(const Json& object, const char* field, const std::string& where, double absent) {
    auto found = object.find(field);
    if (found == object.end())
        return absent;
    if (!found->is_number())
        Fail(where + "." + field, "must be a number");
    const double value = found->get<double>();
    if (!std::isfinite(value))
        Fail(where + "." + field, "must be finite");
    return value;
}

void Text(const Json& object, const char* field, const std::string& where, char* dest,
          size_t max_characters) {
    auto found = object.find(field);
    if (found == object.end())
        return;
    const std::string at = where + "." + field;
    if (!found->is_string())
        Fail(at, "must be a text");
    std::string mazovia, error;
    if (!Utf8ToMazovia(found->get<std::string>(), mazovia, error))
        Fail(at, error);
    if (mazovia.size() > max_characters)
        Fail(at, "longer than " + std::to_string(max_characters) + " characters");
    memcpy(dest, mazovia.c_str(), mazovia.size() + 1);
}

bool ValidDate(int32_t value) {
    const int year = value / 10000, month = value / 100 % 100, day = value % 100;
    static const int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return day <= (month == 2 && !leap ? 28 : kDays[month - 1]);
}

int32_t ParseDate(const Json& object, const std::string& where) {
    auto found = object.find("date");
    if (found == object.end() || found->is_null())
        return 0;
    const std::string at = where + ".date";
    if (!found->is_string())
        Fail(at, "must be a text YYYY-MM-DD");
    const std::string text = found->get<std::string>();
    if (text.empty())
        return 0;
    int year = 0, month = 0, day = 0, length = 0;
    if (text.size() != 10 ||
        sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &length) != 3 || length != 10)
        Fail(at, "must be a text YYYY-MM-DD");
    const int32_t value = year * 10000 + month * 100 + day;
    if (!ValidDate(value))
        Fail(at, "no such date");
    return value;
}

double ComputedValue(const DocumentItem& line) {
    double price;
    memcpy(&price, reinterpret_cast<const uint8_t*>(&line) + kVsLineUnitPriceOffset, sizeof price);
    return line.quantity / 1000.0 * price;
}

void PutDouble(void* record, size_t offset, double value) {
    memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

double GetDouble(const void* record, size_t offset) {
    double value;
    memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

DocumentItem ParseLine(const Json& object, const std::string& where) {
    CheckFields(
        object, where,
        {"text", "quantity", "units", "article", "unit_price", "value", "value_150", "value_202"});
    DocumentItem line{};
    Text(object, "text", where, line.text, sizeof line.text - 1);
    if (object.contains("quantity") && object.contains("units"))
        Fail(where + ".units", "give either quantity or units, not both");
    line.quantity = static_cast<int32_t>(Integer(object, "quantity", where, INT32_MIN, INT32_MAX));
    if (object.contains("units")) {
        const double thousandths = Number(object, "units", where, 0) * 1000.0;
        if (thousandths != std::round(thousandths) || std::fabs(thousandths) > INT32_MAX)
            Fail(where + ".units", "must be whole thousandths within 32 bits");
        line.quantity = static_cast<int32_t>(thousandths);
    }
    if (auto article = object.find("article"); article != object.end()) {
        const std::string at = where + ".article";
        if (!article->is_array() || article->size() != 2)
            Fail(at, "must be [first part, second part]");
        for (size_t i = 0; i < 2; ++i) {
            const Json& part = (*article)[i];
            if (!part.is_number_integer() || part.get<int64_t>() < INT16_MIN ||
                part.get<int64_t>() > INT16_MAX)
                Fail(at + "[" + std::to_string(i) + "]", "must be a 16-bit whole number");
        }
        line.article_key_first = static_cast<int16_t>((*article)[0].get<int64_t>());
        line.article_key_second = static_cast<int16_t>((*article)[1].get<int64_t>());
    }
    PutDouble(&line, kVsLineUnitPriceOffset, Number(object, "unit_price", where, 0));
    line.value_150 = Number(object, "value_150", where, 0);
    line.value_202 = Number(object, "value_202", where, 0);
    PutDouble(&line, kVsLineValueOffset, Number(object, "value", where, ComputedValue(line)));
    return line;
}

std::vector<DocumentItem> ParseLines(const Json& object, const std::string& where) {
    std::vector<DocumentItem> lines;
    auto found = object.find("lines");
    if (found == object.end())
        return lines;
    if (!found->is_array())
        Fail(where + ".lines", "must be a list");
    for (size_t i = 0; i < found->size(); ++i)
        lines.push_back(ParseLine((*found)[i], where + ".lines[" + std::to_string(i) + "]"));
    return lines;
}

DocumentHeader ParseHeader(const Json& object, const std::string& where,
                           std::vector<DocumentItem>& lines) {
    CheckFields(object, where,
                {"kind", "number", "date", "date_raw", "customer", "second_id", "document_id",
                 "marker", "remarks", "gross", "gross_stored", "lines"});
    DocumentHeader header{};
    auto* bytes = reinterpret_cast<uint8_t*>(&header);
    Text(object, "kind", where, reinterpret_cast<char*>(bytes + kKindOffset), kKindLength);
    Text(object, "number", where, header.number, sizeof header.number - 1);
    int32_t date = ParseDate(object, where);
    if (object.contains("date_raw")) {
        if (object.contains("date"))
            Fail(where + ".date_raw", "give either date or date_raw");
        date = static_cast<int32_t>(Integer(object, "date_raw", where, INT32_MIN, INT32_MAX));
    }
    memcpy(bytes + kDateOffset, &date, sizeof date);
    header.customer =
        static_cast<int16_t>(Integer(object, "customer", where, INT16_MIN, INT16_MAX));
    header.second_id =
        static_cast<int32_t>(Integer(object, "second_id", where, INT32_MIN, INT32_MAX));
    header.document_id =
        static_cast<int32_t>(Integer(object, "document_id", where, INT32_MIN, INT32_MAX));
    header.compared_marker =
        static_cast<int16_t>(Integer(object, "marker", where, INT16_MIN, INT16_MAX));
    Text(object, "remarks", where, header.remarks, sizeof header.remarks - 1);
    lines = ParseLines(object, where);
    double sum = 0;
    for (const DocumentItem& line : lines)
        sum += GetDouble(&line, kVsLineValueOffset);
    header.gross_value = Number(object, "gross", where, sum) * 10000.0;
    if (object.contains("gross_stored"))
        header.gross_value = Number(object, "gross_stored", where, 0);
    return header;
}

Store Parse(const Json& root) {
    CheckFields(root, "document file", {"headers", "orphan_lines"});
    Store store;
    auto headers = root.find("headers");
    if (headers == root.end() || !headers->is_array())
        Fail("headers", "must be a list");
    for (size_t i = 0; i < headers->size(); ++i) {
        std::vector<DocumentItem> lines;
        store.headers.push_back(
            ParseHeader((*headers)[i], "headers[" + std::to_string(i) + "]", lines));
        auto& stored = store.lines[store.headers.back().document_id];
        stored.insert(stored.end(), lines.begin(), lines.end());
    }
    if (auto orphans = root.find("orphan_lines"); orphans != root.end()) {
        if (!orphans->is_array())
            Fail("orphan_lines", "must be a list");
        for (size_t i = 0; i < orphans->size(); ++i) {
            const std::string where = "orphan_lines[" + std::to_string(i) + "]";
            const Json& group = (*orphans)[i];
            CheckFields(group, where, {"document_id", "lines"});
            const auto id =
                static_cast<int32_t>(Integer(group, "document_id", where, INT32_MIN, INT32_MAX));
            auto lines = ParseLines(group, where);
            auto& stored = store.lines[id];
            stored.insert(stored.end(), lines.begin(), lines.end());
        }
    }
    // Documents without lines need no entry.
    for (auto it = store.lines.begin(); it != store.lines.end();)
        it = it->second.empty() ? store.lines.erase(it) : std::next(it);
    return store;
}

std::string FieldText(const char* field, size_t width) {
    return MazoviaToUtf8(field, strnlen(field, width));
}

Json LineJson(const DocumentItem& line) {
    Json object;
    object["text"] = FieldText(line.text, sizeof line.text - 1);
    object["quantity"] = line.quantity;
    object["article"] = Json::array({line.article_key_first, line.article_key_second});
    object["unit_price"] = GetDouble(&line, kVsLineUnitPriceOffset);
    const double value = GetDouble(&line, kVsLineValueOffset);
    const double computed = ComputedValue(line);
    if (memcmp(&value, &computed, sizeof value) != 0)
        object["value"] = value;
    if (line.value_150 != 0 || std::signbit(line.value_150))
        object["value_150"] = line.value_150;
    if (line.value_202 != 0 || std::signbit(line.value_202))
        object["value_202"] = line.value_202;
    return object;
}

Json LinesJson(const std::vector<DocumentItem>& lines) {
    Json array = Json::array();
    for (const DocumentItem& line : lines)
        array.push_back(LineJson(line));
    return array;
}

Json HeaderJson(const DocumentHeader& header, const std::vector<DocumentItem>* lines) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    Json object;
    object["kind"] = FieldText(reinterpret_cast<const char*>(bytes + kKindOffset), kKindLength);
    object["number"] = FieldText(header.number, sizeof header.number - 1);
    int32_t date;
    memcpy(&date, bytes + kDateOffset, sizeof date);
    if (ValidDate(date)) {
        char text[16];
        snprintf(text, sizeof text, "%04d-%02d-%02d", static_cast<int>(date / 10000),
                 static_cast<int>(date / 100 % 100), static_cast<int>(date % 100));
        object["date"] = text;
    } else if (date != 0) {
        object["date_raw"] = date;
    }
    object["customer"] = header.customer;
    object["second_id"] = header.second_id;
    object["document_id"] = header.document_id;
    object["marker"] = header.compared_marker;
    object["remarks"] = FieldText(header.remarks, sizeof header.remarks - 1);
    const double gross = header.gross_value / 10000.0;
    object["gross"] = gross;
    if (gross * 10000.0 != header.gross_value)
        object["gross_stored"] = header.gross_value;
    object["lines"] = lines ? LinesJson(*lines) : Json::array();
    return object;
}

Json StoreJson(const Store& store) {
    Json root;
    root["headers"] = Json::array();
    std::set<int32_t> written;
    for (const DocumentHeader& header : store.headers) {
        const std::vector<DocumentItem>* lines = nullptr;
        auto found = store.lines.find(header.document_id);
        if (found != store.lines.end() && written.insert(header.document_id).second)
            lines = &found->second;
        root["headers"].push_back(HeaderJson(header, lines));
    }
    Json orphans = Json::array();
    for (const auto& [id, lines] : store.lines) {
        if (written.count(id) || lines.empty())
            continue;
        orphans.push_back(Json{{"document_id", id}, {"lines", LinesJson(lines)}});
    }
    if (!orphans.empty())
        root["orphan_lines"] = orphans;
    return root;
}

}  // namespace
}  // namespace veldan

using namespace veldan;

VS_API int VsLoadDocuments(const char* path) {
    State& s = S();
    std::ifstream in(path ? path : "", std::ios::binary);
    if (!in) {
        s.last_error = std::string(path ? path : "(no path)") + ": cannot be opened";
        return 1;
    }
    try {
        const Json root = Json::parse(in);
        Store store = Parse(root);
        s.store = std::move(store);
        s.edited_document = 0;
        s.edited_position = -1;
        s.last_error.clear();
        return 0;
    } catch (const Invalid& invalid) {
        s.last_error = invalid.message;
    } catch (const nlohmann::json::exception& error) {
        s.last_error = std::string("document file: ") + error.what();
    }
    return 1;
}

VS_API int VsSaveDocuments(const char* path) {
    State& s = S();
    if (!path || !*path) {
        s.last_error = "(no path): cannot be written";
        return 1;
    }
    const std::string temporary = std::string(path) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << StoreJson(s.store).dump(2) << "\n";
        out.flush();
        if (!out) {
            s.last_error = temporary + ": cannot be written";
            out.close();
            DeleteFileA(temporary.c_str());
            return 1;
        }
    }
    if (!MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        s.last_error = std::string(path) + ": cannot be replaced";
        DeleteFileA(temporary.c_str());
        return 1;
    }
    s.last_error.clear();
    return 0;
}
