// The document file: the stand-in's store as readable JSON, texts in UTF-8
// there and Mazovia bytes in the records. docs/document-file.md describes the
// format with an example.
//
// A file is checked whole before the store changes: every problem is listed,
// in Polish, with the document's number and its 1-based position ("dokument
// WZ/2/2026 (nagłówek 3): brak pola „customer”"). Saving writes every byte that
// the store holds, so that load and save round-trip: "gross_stored" carries the
// exact stored value when it is no whole number of ten-thousandths, "date_raw"
// a date field that is no valid date, "orphan_lines" the lines left behind by
// documents whose headers the plug-in cleared (written as {"cleared": true}).
#include <windows.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#include "standin/mazovia_codec.h"
#include "standin/standin_state.h"

namespace veldan {
namespace {

using Json = nlohmann::ordered_json;

constexpr size_t kDateOffset = 230;
// More problems than this are counted, not listed.
constexpr size_t kListedProblems = 40;

std::string Quote(const std::string& text) {
    return "„" + text + "”";
}

// ------------------------------------------------------------------ problems

// Every problem found, and where the one being checked lies.
struct Report {
    std::vector<std::string> problems;
};

struct Place {
    Report* report;
    std::string where;  // "dokument ZK/1/2026 (nagłówek 1, wiersz 2)"
    void Problem(const std::string& what) const { report->problems.push_back(where + ": " + what); }
};

std::string HeaderPlace(const std::string& number, size_t position, const std::string& more = "") {
    const std::string at = "nagłówek " + std::to_string(position) + more;
    return number.empty() ? at : "dokument " + number + " (" + at + ")";
}

void UnknownFields(const Json& object, const Place& place,
                   std::initializer_list<const char*> known) {
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool found = false;
        for (const char* name : known)
            found = found || it.key() == name;
        if (!found)
            place.Problem("nieznane pole " + Quote(it.key()));
    }
}

const Json* Field(const Json& object, const char* field, const Place& place, bool required) {
    auto found = object.find(field);
    if (found != object.end())
        return &*found;
    if (required)
        place.Problem("brak pola " + Quote(field));
    return nullptr;
}

std::optional<int64_t> Whole(const Json& object, const char* field, const Place& place,
                             bool required, int64_t min, int64_t max) {
    const Json* value = Field(object, field, place, required);
    if (!value)
        return std::nullopt;
    if (!value->is_number_integer()) {
        place.Problem("pole " + Quote(field) + " musi być liczbą całkowitą");
        return std::nullopt;
    }
    const int64_t number = value->is_number_unsigned() && value->get<uint64_t>() > INT64_MAX
                               ? INT64_MAX
                               : value->get<int64_t>();
    if (number < min || number > max) {
        place.Problem("pole " + Quote(field) + " poza zakresem od " + std::to_string(min) + " do " +
                      std::to_string(max));
        return std::nullopt;
    }
    return number;
}

std::optional<double> Real(const Json& object, const char* field, const Place& place,
                           bool required) {
    const Json* value = Field(object, field, place, required);
    if (!value)
        return std::nullopt;
    if (!value->is_number()) {
        place.Problem("pole " + Quote(field) + " musi być liczbą");
        return std::nullopt;
    }
    return value->get<double>();
}

// A text in the code page and within its field; the Mazovia bytes in dest.
bool Text(const Json& object, const char* field, const Place& place, bool required,
          size_t max_characters, std::string& dest) {
    const Json* value = Field(object, field, place, required);
    if (!value)
        return false;
    if (!value->is_string()) {
        place.Problem("pole " + Quote(field) + " musi być tekstem w cudzysłowie");
        return false;
    }
    const std::string utf8 = value->get<std::string>();
    std::string mazovia, error;
    if (!Utf8ToMazovia(utf8, mazovia, error)) {
        unsigned code = 0;
        if (sscanf(error.c_str(), "character U+%X", &code) == 1) {
            char text[96];
            snprintf(text, sizeof text, " (U+%04X) nie występuje w stronie kodowej Mazovia", code);
            // The character itself, as the file has it.
            std::string character;
            for (size_t i = 0; i < utf8.size(); ++i) {
                size_t length = 1;
                const auto lead = static_cast<uint8_t>(utf8[i]);
                length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
                std::string one = utf8.substr(i, length), ignored, probe;
                if (!Utf8ToMazovia(one, probe, ignored)) {
                    character = one;
                    break;
                }
                i += length - 1;
            }
            place.Problem("pole " + Quote(field) + ": znak " + Quote(character) + text);
        } else {
            place.Problem("pole " + Quote(field) + " zawiera znak o kodzie 0");
        }
        return false;
    }
    if (mazovia.size() > max_characters) {
        place.Problem("pole " + Quote(field) + " dłuższe niż " + std::to_string(max_characters) +
                      " znaków (ma " + std::to_string(mazovia.size()) + ")");
        return false;
    }
    dest = mazovia;
    return true;
}

void Put(char* dest, const std::string& mazovia) {
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

int32_t ParseDate(const Json& object, const Place& place) {
    auto found = object.find("date");
    if (found == object.end() || found->is_null())
        return 0;
    const std::string wrong = "pole " + Quote("date") + " musi być datą RRRR-MM-DD";
    if (!found->is_string()) {
        place.Problem(wrong);
        return 0;
    }
    const std::string text = found->get<std::string>();
    if (text.empty())
        return 0;
    int year = 0, month = 0, day = 0, length = 0;
    if (text.size() != 10 ||
        sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &length) != 3 || length != 10) {
        place.Problem(wrong);
        return 0;
    }
    const int32_t value = year * 10000 + month * 100 + day;
    if (!ValidDate(value))
        place.Problem("pole " + Quote("date") + ": nie ma dnia " + text);
    return value;
}

double GetDouble(const void* record, size_t offset) {
    double value;
    memcpy(&value, static_cast<const uint8_t*>(record) + offset, sizeof value);
    return value;
}

void PutDouble(void* record, size_t offset, double value) {
    memcpy(static_cast<uint8_t*>(record) + offset, &value, sizeof value);
}

double ComputedValue(const DocumentItem& line) {
    return line.quantity / 1000.0 * GetDouble(&line, kVsLineUnitPriceOffset);
}

// A displayed money value as the record holds it: whole ten-thousandths.
std::optional<double> Stored(double displayed) {
    const double stored = std::round(displayed * 10000.0);
    if (!std::isfinite(stored) || std::fabs(stored) > 9e15)
        return std::nullopt;
    return stored;
}

// ------------------------------------------------------------------ reading

std::optional<DocumentItem> ParseLine(const Json& object, const Place& place) {
    if (!object.is_object()) {
        place.Problem("wiersz musi być obiektem { … }");
        return std::nullopt;
    }
    const size_t before = place.report->problems.size();
    UnknownFields(
        object, place,
        {"text", "quantity", "units", "article", "unit_price", "value", "value_150", "value_202"});
    DocumentItem line{};
    std::string text;
    if (Text(object, "text", place, true, sizeof line.text - 1, text))
        Put(line.text, text);
    if (object.contains("quantity") && object.contains("units")) {
        place.Problem("podaj pole " + Quote("quantity") + " albo " + Quote("units") + ", nie oba");
    } else if (object.contains("units")) {
        if (auto units = Real(object, "units", place, true)) {
            // A decimal such as 1.005 is not exact in binary: times 1000 it
            // lands a hair beside its whole number of thousandths.
            const double thousandths = std::round(*units * 1000.0);
            if (std::fabs(*units * 1000.0 - thousandths) > 1e-6 ||
                std::fabs(thousandths) > INT32_MAX)
                place.Problem("pole " + Quote("units") +
                              " musi mieć najwyżej trzy miejsca po przecinku i mieścić się w "
                              "32 bitach w tysięcznych");
            else
                line.quantity = static_cast<int32_t>(thousandths);
        }
    } else if (!object.contains("quantity")) {
        place.Problem("brak pola " + Quote("quantity") + " (albo " + Quote("units") + ")");
    } else if (auto quantity = Whole(object, "quantity", place, true, INT32_MIN, INT32_MAX)) {
        line.quantity = static_cast<int32_t>(*quantity);
    }
    if (const Json* article = Field(object, "article", place, true)) {
        bool good = article->is_array() && article->size() == 2;
        for (size_t i = 0; good && i < 2; ++i) {
            const Json& part = (*article)[i];
            good = part.is_number_integer() && part.get<int64_t>() >= INT16_MIN &&
                   part.get<int64_t>() <= INT16_MAX;
        }
        if (good) {
            line.article_key_first = static_cast<int16_t>((*article)[0].get<int64_t>());
            line.article_key_second = static_cast<int16_t>((*article)[1].get<int64_t>());
        } else {
            place.Problem("pole " + Quote("article") +
                          " musi być parą liczb całkowitych od -32768 do 32767: [pierwsza "
                          "część, druga część]");
        }
    }
    PutDouble(&line, kVsLineUnitPriceOffset, Real(object, "unit_price", place, true).value_or(0));
    line.value_150 = Real(object, "value_150", place, false).value_or(0);
    line.value_202 = Real(object, "value_202", place, false).value_or(0);
    PutDouble(&line, kVsLineValueOffset,
              Real(object, "value", place, false).value_or(ComputedValue(line)));
    if (place.report->problems.size() != before)
        return std::nullopt;
    return line;
}

// Where each identifier was first seen, to name it when it comes again.
struct Seen {
    std::map<int64_t, std::string> document_ids, second_ids;
    std::map<std::string, std::string> numbers;
    size_t cleared = 0;
};

std::vector<DocumentItem> Lines(const Json& object, Report& report, const std::string& owner,
                                size_t position, bool group) {
    std::vector<DocumentItem> lines;
    const Place place{&report, group
                                   ? "wiersze bez nagłówka (grupa " + std::to_string(position) + ")"
                                   : HeaderPlace(owner, position)};
    const Json* list = Field(object, "lines", place, true);
    if (!list)
        return lines;
    if (!list->is_array()) {
        place.Problem("pole " + Quote("lines") + " musi być listą [ … ]");
        return lines;
    }
    for (size_t i = 0; i < list->size(); ++i) {
        const std::string more = ", wiersz " + std::to_string(i + 1);
        const Place at{
            &report, group ? "wiersze bez nagłówka (grupa " + std::to_string(position) + more + ")"
                           : HeaderPlace(owner, position, more)};
        if (auto line = ParseLine((*list)[i], at))
            lines.push_back(*line);
    }
    return lines;
}

void ParseHeader(const Json& object, size_t position, Report& report, Seen& seen, Store& store) {
    if (!object.is_object()) {
        Place{&report, HeaderPlace("", position)}.Problem("nagłówek musi być obiektem { … }");
        return;
    }
    if (object.contains("cleared")) {
        const Place place{&report, HeaderPlace("", position)};
        if (object.size() != 1 || object.at("cleared") != true)
            place.Problem(
                "wyczyszczony nagłówek zapisuje się jako {\"cleared\": true}, bez "
                "innych pól");
        store.headers.push_back(DocumentHeader{});
        ++seen.cleared;
        return;
    }
    // The number first, to name the document in every later problem.
    std::string number_utf8;
    if (auto found = object.find("number"); found != object.end() && found->is_string())
        number_utf8 = found->get<std::string>();
    const Place place{&report, HeaderPlace(number_utf8, position)};
    const std::string& here = place.where;
    UnknownFields(object, place,
                  {"kind", "number", "date", "date_raw", "customer", "second_id", "document_id",
                   "marker", "remarks", "gross", "gross_stored", "lines"});

    DocumentHeader header{};
    auto* bytes = reinterpret_cast<uint8_t*>(&header);
    std::string text;
    std::string kind;
    if (const Json* value = Field(object, "kind", place, true)) {
        const std::string given = value->is_string() ? value->get<std::string>() : value->dump();
        if (given == "ZK" || given == "WZ") {
            kind = given;
            Put(reinterpret_cast<char*>(bytes + kVsHeaderKindOffset), given);
        } else {
            place.Problem("pole " + Quote("kind") + " musi być " + Quote("ZK") +
                          " (zamówienie) albo " + Quote("WZ") + " (wydanie), nie " + Quote(given));
        }
    }
    if (Text(object, "number", place, true, sizeof header.number - 1, text)) {
        if (text.empty()) {
            place.Problem("pole " + Quote("number") + " nie może być puste");
        } else {
            Put(header.number, text);
            if (auto [it, fresh] = seen.numbers.emplace(text, here); !fresh)
                place.Problem("ten sam numer ma już " + it->second);
        }
    }
    int32_t date = ParseDate(object, place);
    if (object.contains("date_raw")) {
        if (object.contains("date"))
            place.Problem("podaj pole " + Quote("date") + " albo " + Quote("date_raw") +
                          ", nie oba");
        date = static_cast<int32_t>(
            Whole(object, "date_raw", place, true, INT32_MIN, INT32_MAX).value_or(0));
    }
    memcpy(bytes + kDateOffset, &date, sizeof date);
    header.customer = static_cast<int16_t>(
        Whole(object, "customer", place, true, INT16_MIN, INT16_MAX).value_or(0));
    if (auto id = Whole(object, "document_id", place, true, INT32_MIN, INT32_MAX)) {
        if (*id == 0) {
            place.Problem("pole " + Quote("document_id") + " musi być różne od 0");
        } else {
            header.document_id = static_cast<int32_t>(*id);
            if (auto [it, fresh] = seen.document_ids.emplace(*id, here); !fresh)
                place.Problem("ten sam " + Quote("document_id") + " (" + std::to_string(*id) +
                              ") ma już " + it->second);
        }
    }
    // What makes a document an order: a second identifier other than 0.
    if (kind == "ZK") {
        if (auto id = Whole(object, "second_id", place, true, INT32_MIN, INT32_MAX)) {
            if (*id == 0)
                place.Problem("zamówienie (ZK) musi mieć pole " + Quote("second_id") +
                              " różne od 0");
            header.second_id = static_cast<int32_t>(*id);
        }
    } else if (auto id = Whole(object, "second_id", place, false, INT32_MIN, INT32_MAX)) {
        if (*id != 0 && kind == "WZ")
            place.Problem("dokument WZ ma pole " + Quote("second_id") +
                          " równe 0 albo go nie ma; z innym byłby zamówieniem");
        header.second_id = static_cast<int32_t>(*id);
    }
    if (header.second_id != 0)
        if (auto [it, fresh] = seen.second_ids.emplace(header.second_id, here); !fresh)
            place.Problem("ten sam " + Quote("second_id") + " (" +
                          std::to_string(header.second_id) + ") ma już " + it->second);
    header.compared_marker = static_cast<int16_t>(
        Whole(object, "marker", place, false, INT16_MIN, INT16_MAX).value_or(0));
    if (Text(object, "remarks", place, false, sizeof header.remarks - 1, text))
        Put(header.remarks, text);

    const std::vector<DocumentItem> lines = Lines(object, report, number_utf8, position, false);
    double sum = 0;
    for (const DocumentItem& line : lines)
        sum += GetDouble(&line, kVsLineValueOffset);
    const std::optional<double> gross = Real(object, "gross", place, false);
    if (object.contains("gross_stored")) {
        header.gross_value = Real(object, "gross_stored", place, true).value_or(0);
    } else if (auto stored = Stored(gross.value_or(sum))) {
        header.gross_value = *stored;
    } else {
        place.Problem("pole " + Quote("gross") + " poza zakresem");
    }
    store.headers.push_back(header);
    if (!lines.empty() && header.document_id != 0)
        store.lines[header.document_id] = lines;
}

void ParseOrphans(const Json& groups, Report& report, const Seen& seen, Store& store) {
    const Place place{&report, "plik"};
    if (!groups.is_array()) {
        place.Problem("pole " + Quote("orphan_lines") + " musi być listą [ … ]");
        return;
    }
    for (size_t i = 0; i < groups.size(); ++i) {
        const Place at{&report, "wiersze bez nagłówka (grupa " + std::to_string(i + 1) + ")"};
        const Json& group = groups[i];
        if (!group.is_object()) {
            at.Problem("grupa musi być obiektem { … }");
            continue;
        }
        UnknownFields(group, at, {"document_id", "lines"});
        const auto id = Whole(group, "document_id", at, true, INT32_MIN, INT32_MAX);
        auto lines = Lines(group, report, "", i + 1, true);
        if (!id)
            continue;
        if (auto owner = seen.document_ids.find(*id); owner != seen.document_ids.end()) {
            at.Problem("dokument o " + Quote("document_id") + " " + std::to_string(*id) + " to " +
                       owner->second + "; jego wiersze należą do jego pola " + Quote("lines"));
        } else if (store.lines.count(static_cast<int32_t>(*id))) {
            at.Problem("drugi raz wiersze dokumentu o " + Quote("document_id") + " " +
                       std::to_string(*id));
        } else if (i >= seen.cleared) {
            // Lines without a header are left only by headers the plug-in
            // cleared; any other such line belongs to no document.
            at.Problem("nie ma dokumentu o " + Quote("document_id") + " " + std::to_string(*id) +
                       ", do którego należałyby te wiersze");
        } else if (!lines.empty()) {
            store.lines[static_cast<int32_t>(*id)] = std::move(lines);
        }
    }
}

Store Parse(const Json& root, Report& report) {
    Store store;
    const Place place{&report, "plik"};
    if (!root.is_object()) {
        place.Problem("cały plik musi być obiektem { \"headers\": [ … ] }");
        return store;
    }
    UnknownFields(root, place, {"headers", "orphan_lines"});
    const Json* headers = Field(root, "headers", place, true);
    if (headers && !headers->is_array())
        place.Problem("pole " + Quote("headers") + " musi być listą [ … ]");
    Seen seen;
    if (headers && headers->is_array())
        for (size_t i = 0; i < headers->size(); ++i)
            ParseHeader((*headers)[i], i + 1, report, seen, store);
    if (auto orphans = root.find("orphan_lines"); orphans != root.end())
        ParseOrphans(*orphans, report, seen, store);
    return store;
}

// ------------------------------------------------------------------ the file as text

// Line and column (1-based, in characters) of a byte of the text.
std::string Position(const std::string& text, size_t byte) {
    byte = std::min(byte, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < byte; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<uint8_t>(text[i]) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return "wiersz " + std::to_string(line) + ", kolumna " + std::to_string(column);
}

// The first byte that breaks UTF-8, or npos.
size_t BadUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        const size_t extra = lead < 0x80                   ? 0
                             : lead >= 0xC2 && lead < 0xE0 ? 1
                             : lead >= 0xE0 && lead < 0xF0 ? 2
                             : lead >= 0xF0 && lead < 0xF5 ? 3
                                                           : SIZE_MAX;
        if (extra == SIZE_MAX || i + extra >= text.size() + (extra == 0))
            return i;
        uint32_t c = extra ? lead & (0x3F >> extra) : lead;
        for (size_t k = 1; k <= extra; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return i;
            c = (c << 6) | (next & 0x3F);
        }
        const uint32_t least[4] = {0, 0x80, 0x800, 0x10000};
        if (c < least[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            return i;
        i += 1 + extra;
    }
    return std::string::npos;
}

// Why a file is not UTF-8, or empty when it is.
std::string EncodingProblem(const std::string& text) {
    if (text.size() >= 2 &&
        ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF')))
        return "plik jest zapisany w UTF-16, a nie w UTF-8; zapisz go w UTF-8";
    const size_t bad = BadUtf8(text);
    if (bad == std::string::npos)
        return "";
    // Polish letters of Windows-1250, the usual other encoding of such a file.
    static const std::string kWindows1250Letters =
        "\xA5\xB9\xC6\xE6\xCA\xEA\xA3\xB3\xD1\xF1\xD3\xF3\x8C\x9C\x8F\x9F\xAF\xBF";
    char byte[8];
    snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned>(static_cast<uint8_t>(text[bad])));
    const bool windows1250 = kWindows1250Letters.find(text[bad]) != std::string::npos;
    return "plik nie jest zapisany w UTF-8 (" + Position(text, bad) + ": bajt " + byte +
           (windows1250 ? ", zapewne litera w kodowaniu Windows-1250" : "") +
           "); zapisz go w UTF-8";
}

// nlohmann's description of a syntax error, in Polish.
std::string SyntaxProblem(const std::string& what) {
    // nlohmann's names of what it found or expected.
    auto token = [](const std::string& name) {
        static const std::pair<const char*, const char*> kNames[] = {
            {"end of input", "koniec pliku"},
            {"'[', '{', or a literal", "wartość"},
            {"string literal", "tekst w cudzysłowie (nazwa pola)"},
            {"number literal", "liczba"},
            {"true literal", "true"},
            {"false literal", "false"},
            {"null literal", "null"},
            {"'}'", "„,” albo „}”"},
            {"']'", "„,” albo „]”"},
        };
        for (const auto& [english, polish] : kNames)
            if (name == english)
                return std::string(polish);
        if (name.size() == 3 && name.front() == '\'' && name.back() == '\'')
            return Quote(name.substr(1, 1));
        return name;
    };
    const size_t dash = what.find(" - ");
    const std::string detail = dash == std::string::npos ? what : what.substr(dash + 3);
    const size_t expected_at = detail.find("; expected ");
    const std::string expected =
        expected_at == std::string::npos ? "" : detail.substr(expected_at + 11);
    std::string found;
    if (detail.rfind("unexpected end of input", 0) == 0) {
        found = "plik kończy się w środku danych";
    } else if (detail.rfind("unexpected ", 0) == 0) {
        const size_t end = std::min(detail.find(';'), detail.size());
        std::string element = token(detail.substr(11, end - 11));
        if (element.rfind("tekst", 0) == 0)
            element = "tekst w cudzysłowie";
        found = "w tym miejscu nie może stać: " + element;
    } else if (detail.rfind("invalid literal", 0) == 0) {
        found =
            "nieznane słowo (poza tekstami w cudzysłowie i liczbami wolno tylko true, false "
            "i null)";
    } else if (detail.rfind("invalid string", 0) == 0) {
        found = "błędny tekst: znak sterujący albo nowy wiersz w cudzysłowie, albo zły znak po \\";
    } else if (detail.rfind("invalid number", 0) == 0) {
        found = "błędna liczba";
    } else {
        found = "błąd składni";
    }
    // Something after the end of the whole object.
    if (expected == "end of input")
        return "po zamknięciu całego obiektu w pliku jest jeszcze tekst";
    if (expected.empty() || expected.find("digit") != std::string::npos)
        return found;
    return found + "; oczekiwano: " + token(expected);
}

// Where the token that nlohmann stopped at begins: it reports the byte after
// a whole text or number, the user looks for its start.
size_t TokenStart(const std::string& text, const nlohmann::json::parse_error& error) {
    size_t at = std::min<size_t>(error.byte ? error.byte - 1 : 0, text.size());
    const std::string what = error.what();
    if (what.find("unexpected string literal") != std::string::npos && at < text.size() &&
        text[at] == '"') {
        while (at > 0 && !(text[at - 1] == '"' && (at < 2 || text[at - 2] != '\\')))
            --at;
        return at > 0 ? at - 1 : 0;
    }
    if (what.find("unexpected number literal") != std::string::npos)
        while (at > 0 && strchr("0123456789+-.eE", text[at - 1]) && text[at - 1] != 0)
            --at;
    return at;
}

// ------------------------------------------------------------------ writing

std::string FieldText(const char* field, size_t width) {
    return MazoviaToUtf8(field, strnlen(field, width));
}

bool AllZero(const DocumentHeader& header) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    for (size_t i = 0; i < sizeof header; ++i)
        if (bytes[i])
            return false;
    return true;
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
    if (AllZero(header))
        return Json{{"cleared", true}};
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    Json object;
    // A record made without a kind (by a program, not from a file) is written
    // with the kind that its identifiers give it.
    std::string kind =
        FieldText(reinterpret_cast<const char*>(bytes + kVsHeaderKindOffset), kVsHeaderKindLength);
    if (kind.empty())
        kind = header.second_id != 0 ? "ZK" : "WZ";
    object["kind"] = kind;
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
    // Whole ten-thousandths, as the record holds them: 75.2, not 75.19999999999999.
    const double whole = std::round(header.gross_value);
    object["gross"] = std::isfinite(whole) ? whole / 10000.0 : 0.0;
    if (memcmp(&whole, &header.gross_value, sizeof whole) != 0)
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

std::string ReadWhole(const char* path, bool& opened) {
    std::ifstream in(path, std::ios::binary);
    opened = static_cast<bool>(in);
    std::ostringstream text;
    if (opened)
        text << in.rdbuf();
    return text.str();
}

}  // namespace
}  // namespace veldan

using namespace veldan;

VS_API int VsLoadDocuments(const char* path) {
    State& s = S();
    bool opened = false;
    std::string text = ReadWhole(path ? path : "", opened);
    if (!opened) {
        s.last_error = std::string(path ? path : "(brak ścieżki)") + ": nie da się otworzyć pliku";
        return 1;
    }
    if (std::string problem = EncodingProblem(text); !problem.empty()) {
        s.last_error = problem;
        return 1;
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    Json root;
    try {
        root = Json::parse(text);
    } catch (const nlohmann::json::parse_error& error) {
        s.last_error = "błąd składni JSON (" + Position(text, TokenStart(text, error)) +
                       "): " + SyntaxProblem(error.what());
        return 1;
    } catch (const nlohmann::json::out_of_range&) {
        s.last_error = "liczba poza zakresem: plik zawiera liczbę, której nie da się zapisać";
        return 1;
    } catch (const nlohmann::json::exception&) {
        s.last_error = "plik nie jest poprawnym plikiem JSON";
        return 1;
    }
    Report report;
    Store store = Parse(root, report);
    if (!report.problems.empty()) {
        std::string listed;
        for (size_t i = 0; i < report.problems.size() && i < kListedProblems; ++i)
            listed += (i ? "\n" : "") + report.problems[i];
        if (report.problems.size() > kListedProblems)
            listed += "\n… i jeszcze " + std::to_string(report.problems.size() - kListedProblems) +
                      " błędów";
        s.last_error = listed;
        return 1;
    }
    s.store = std::move(store);
    s.edited_document = 0;
    s.edited_position = -1;
    s.last_error.clear();
    return 0;
}

VS_API int VsSaveDocuments(const char* path) {
    State& s = S();
    if (!path || !*path) {
        s.last_error = "(brak ścieżki): nie da się zapisać";
        return 1;
    }
    // The line endings and byte order mark of the file being replaced.
    bool existed = false;
    const std::string old = ReadWhole(path, existed);
    const size_t first_end = old.find('\n');
    const bool crlf = first_end != std::string::npos && first_end > 0 && old[first_end - 1] == '\r';
    const bool bom = old.rfind("\xEF\xBB\xBF", 0) == 0;
    std::string text = StoreJson(s.store).dump(2) + "\n";
    if (crlf) {
        std::string converted;
        converted.reserve(text.size() + text.size() / 16);
        for (char c : text) {
            if (c == '\n')
                converted += '\r';
            converted += c;
        }
        text.swap(converted);
    }
    if (bom)
        text.insert(0, "\xEF\xBB\xBF");

    const std::string temporary = std::string(path) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        out.flush();
        if (!out) {
            s.last_error = temporary + ": nie da się zapisać";
            out.close();
            DeleteFileA(temporary.c_str());
            return 1;
        }
    }
    if (!MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        s.last_error = std::string(path) + ": nie da się zastąpić pliku";
        DeleteFileA(temporary.c_str());
        return 1;
    }
    s.last_error.clear();
    return 0;
}
