// Writing: a new file in the layout of data/sample-shop.json, or the file as
// it was read with only what changed written anew.
//
// Over a file that was read, every field is a group of record bytes. Where the
// bytes did not change, the field stays as the file has it (its name, units or
// quantity, its number form, its place and layout); an absent field stays
// absent while the value it stands for (0, or a sum of the lines) still holds.
// A changed field is written in place, under the name it was read with; a
// dropped line is cut out with its comma; a cleared header becomes
// {"cleared": true}. What comes out is read back before it is used: should it
// not give the documents, the whole file is written anew instead.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <set>

#include "documentfile/document_file.h"
#include "documentfile/record_fields.h"
#include "documentfile/text_codec.h"

namespace document_file {
namespace {

using Type = JsonValue::Type;

struct Member {
    std::string name, text;
};

// Where a value starts: the indentation of its line; compact: all on one line.
struct Layout {
    std::string indent;
    bool compact = false;
    Layout Inner() const { return {indent + "  ", compact}; }
};

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<uint8_t>(c) < 0x20) {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
            out += c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The shortest text that reads back as the same double, always with a point.
std::string Real(double value) {
    if (!std::isfinite(value))
        return "null";
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    std::string out(text, end);
    if (out.find_first_of(".e") == std::string::npos)
        out += ".0";
    return out;
}

// Thousandths as units: 2500 as 2.5.
std::string Units(int32_t thousandths) {
    const int64_t magnitude = std::llabs(static_cast<int64_t>(thousandths));
    std::string out = (thousandths < 0 ? "-" : "") + std::to_string(magnitude / 1000);
    if (magnitude % 1000) {
        char fraction[8];
        snprintf(fraction, sizeof fraction, ".%03d", static_cast<int>(magnitude % 1000));
        out += fraction;
        out.erase(out.find_last_not_of('0') + 1);
    }
    return out;
}

std::string FieldText(const char* field, size_t width) {
    return JsonString(MazoviaToUtf8(field, strnlen(field, width)));
}

std::string ObjectText(const std::vector<Member>& members, const Layout& at) {
    if (members.empty())
        return "{}";
    std::string out = "{";
    for (size_t i = 0; i < members.size(); ++i) {
        out += at.compact ? (i ? ", " : "") : "\n" + at.indent + "  ";
        out += JsonString(members[i].name) + ": " + members[i].text + (at.compact ? "" : ",");
    }
    if (!at.compact)
        out.back() = '\n';
    return out + (at.compact ? "" : at.indent) + "}";
}

std::string ArrayText(const std::vector<std::string>& items, const Layout& at) {
    if (items.empty())
        return "[]";
    std::string out = "[";
    for (size_t i = 0; i < items.size(); ++i)
        out += (at.compact ? (i ? ", " : "") : "\n" + at.indent + "  ") + items[i] +
               (at.compact || i + 1 == items.size() ? "" : ",");
    return out + (at.compact ? "" : "\n" + at.indent) + "]";
}

// ------------------------------------------------------------------ the fields

// One field of a record: its bytes, the name a new file writes and the other
// name under which a file may give the same bytes.
struct Group {
    const char* name;
    const char* other;
    size_t offset, size;
};

constexpr Group kHeaderGroups[] = {
    {"kind", nullptr, kVsHeaderKindOffset, kVsHeaderKindLength},
    {"number", nullptr, offsetof(DocumentHeader, number), sizeof(DocumentHeader::number)},
    {"date", "date_raw", kDateOffset, 4},
    {"customer", nullptr, offsetof(DocumentHeader, customer), 2},
    {"second_id", nullptr, offsetof(DocumentHeader, second_id), 4},
    {"document_id", nullptr, offsetof(DocumentHeader, document_id), 4},
    {"marker", nullptr, offsetof(DocumentHeader, compared_marker), 2},
    {"remarks", nullptr, offsetof(DocumentHeader, remarks), sizeof(DocumentHeader::remarks)},
    {"gross", "gross_stored", offsetof(DocumentHeader, gross_value), 8},
};
constexpr Group kLineGroups[] = {
    {"text", nullptr, offsetof(DocumentItem, text), sizeof(DocumentItem::text)},
    {"quantity", "units", offsetof(DocumentItem, quantity), 4},
    {"article", nullptr, offsetof(DocumentItem, article_key_second), 4},
    {"unit_price", nullptr, kVsLineUnitPriceOffset, 8},
    {"value", nullptr, kVsLineValueOffset, 8},
    {"value_150", nullptr, offsetof(DocumentItem, value_150), 8},
    {"value_202", nullptr, offsetof(DocumentItem, value_202), 8},
};

bool SameBytes(const void* a, const void* b, const Group& group) {
    return memcmp(static_cast<const uint8_t*>(a) + group.offset,
                  static_cast<const uint8_t*>(b) + group.offset, group.size) == 0;
}

bool SameDouble(double a, double b) {
    return memcmp(&a, &b, sizeof a) == 0;
}

// A header field's members; form is the name the file gave it (null: a new file).
std::vector<Member> HeaderField(const Group& group, const DocumentHeader& header,
                                const char* /*form*/) {
    const std::string name = group.name;
    const auto* bytes = reinterpret_cast<const uint8_t*>(&header);
    if (name == "kind") {
        // A record made without a kind (by a program, not from a file) is
        // written with the kind that its identifiers give it.
        std::string kind = MazoviaToUtf8(reinterpret_cast<const char*>(bytes + kVsHeaderKindOffset),
                                         kVsHeaderKindLength);
        return {{name, JsonString(kind.empty() ? (header.second_id ? "ZK" : "WZ") : kind)}};
    }
    if (name == "number")
        return {{name, FieldText(header.number, sizeof header.number - 1)}};
    if (name == "date") {
        const int32_t date = GetDate(header);
        if (ValidDate(date)) {
            char text[16];
            snprintf(text, sizeof text, "\"%04d-%02d-%02d\"", static_cast<int>(date / 10000),
                     static_cast<int>(date / 100 % 100), static_cast<int>(date % 100));
            return {{name, text}};
        }
        return date ? std::vector<Member>{{"date_raw", std::to_string(date)}}
                    : std::vector<Member>{};
    }
    if (name == "customer")
        return {{name, std::to_string(header.customer)}};
    if (name == "second_id")
        return {{name, std::to_string(header.second_id)}};
    if (name == "document_id")
        return {{name, std::to_string(header.document_id)}};
    if (name == "marker")
        return {{name, std::to_string(header.compared_marker)}};
    if (name == "remarks")
        return {{name, FieldText(header.remarks, sizeof header.remarks - 1)}};
    // Whole ten-thousandths, as the record holds them: 75.2, not 75.19999999999999.
    // Where reading that back would not give the record's value (a fraction
    // of a ten-thousandth; from 1e15 on, where whole ten-thousandths divided
    // by 10,000 may round; beyond the range of "gross"), "gross_stored" holds
    // the value exactly beside it. What reading gives is worked out from the
    // text, as the reader reads it: the quotient itself may be held at a
    // wider precision than the text's (on the x87) and come back whole.
    const double whole = std::round(header.gross_value);
    std::vector<Member> gross{{name, Real(std::isfinite(whole) ? whole / 10000.0 : 0.0)}};
    double shown = 0;
    std::from_chars(gross[0].text.data(), gross[0].text.data() + gross[0].text.size(), shown);
    const std::optional<double> read = Stored(shown);
    if (!read || !SameDouble(*read, header.gross_value))
        gross.push_back({"gross_stored", Real(header.gross_value)});
    return gross;
}

std::vector<Member> LineField(const Group& group, const DocumentItem& line, const char* form) {
    const std::string name = group.name;
    if (name == "text")
        return {{name, FieldText(line.text, sizeof line.text - 1)}};
    if (name == "quantity")
        return form && std::string(form) == "units"
                   ? std::vector<Member>{{"units", Units(line.quantity)}}
                   : std::vector<Member>{{name, std::to_string(line.quantity)}};
    if (name == "article")
        return {{name, "[" + std::to_string(line.article_key_first) + ", " +
                           std::to_string(line.article_key_second) + "]"}};
    if (name == "unit_price")
        return {{name, Real(GetDouble(&line, kVsLineUnitPriceOffset))}};
    const double value = GetDouble(&line, group.offset);
    // Written only where reading its absence would not give it back.
    const bool absent_gives_it =
        name == "value" ? SameDouble(value, ComputedValue(line)) : SameDouble(value, 0.0);
    if (absent_gives_it && !form)
        return {};
    return {{name, Real(value)}};
}

// ------------------------------------------------------------------ a new file

std::string LineObject(const DocumentItem& line, const Layout& at) {
    std::vector<Member> members;
    for (const Group& group : kLineGroups)
        for (Member& member : LineField(group, line, nullptr))
            members.push_back(std::move(member));
    return ObjectText(members, at);
}

std::string LinesArray(const std::vector<DocumentItem>* lines, const Layout& at) {
    std::vector<std::string> items;
    if (lines)
        for (const DocumentItem& line : *lines)
            items.push_back(LineObject(line, at.Inner()));
    return ArrayText(items, at);
}

std::string HeaderObject(const DocumentHeader& header, const std::vector<DocumentItem>* lines,
                         const Layout& at) {
    if (VsCleared(header))
        return "{\"cleared\": true}";
    std::vector<Member> members;
    for (const Group& group : kHeaderGroups)
        for (Member& member : HeaderField(group, header, nullptr))
            members.push_back(std::move(member));
    members.push_back({"lines", LinesArray(lines, at.Inner())});
    return ObjectText(members, at);
}

std::string OrphanGroup(int32_t id, const std::vector<DocumentItem>& lines, const Layout& at) {
    return ObjectText(
        {{"document_id", std::to_string(id)}, {"lines", LinesArray(&lines, at.Inner())}}, at);
}

// The lines that go with each header (the first of an identifier), and the
// groups of lines that no header takes.
struct Owned {
    std::vector<const std::vector<DocumentItem>*> of_header;
    std::map<int32_t, const std::vector<DocumentItem>*> orphans;
};

Owned LinesOwned(const DocumentSet& documents) {
    Owned owned;
    std::set<int32_t> written;
    for (const DocumentHeader& header : documents.headers) {
        auto found = documents.lines.find(header.document_id);
        const bool owns = !VsCleared(header) && found != documents.lines.end() &&
                          written.insert(header.document_id).second;
        owned.of_header.push_back(owns ? &found->second : nullptr);
    }
    for (const auto& [id, lines] : documents.lines)
        if (!written.count(id) && !lines.empty())
            owned.orphans[id] = &lines;
    return owned;
}

std::string NewFile(const DocumentSet& documents) {
    const Owned owned = LinesOwned(documents);
    const Layout item{"    "};
    std::vector<std::string> headers, orphans;
    for (size_t i = 0; i < documents.headers.size(); ++i)
        headers.push_back(HeaderObject(documents.headers[i], owned.of_header[i], item));
    for (const auto& [id, lines] : owned.orphans)
        orphans.push_back(OrphanGroup(id, *lines, item));
    std::vector<Member> root{{"headers", ArrayText(headers, {"  "})}};
    if (!orphans.empty())
        root.push_back({"orphan_lines", ArrayText(orphans, {"  "})});
    return ObjectText(root, {}) + "\n";
}

// ------------------------------------------------------------------ over a file read

struct Edit {
    size_t begin, end;
    std::string text;
};

struct Splicer {
    const std::string& text;
    std::vector<Edit> edits;

    void Replace(size_t begin, size_t end, std::string with) {
        edits.push_back({begin, end, std::move(with)});
    }

    // The layout of a value as the file has it.
    Layout At(const JsonValue& value, size_t start) const {
        const size_t line = text.rfind('\n', start);
        const size_t from = line == std::string::npos ? 0 : line + 1;
        const std::string before = text.substr(from, start - from);
        Layout layout;
        layout.indent = before.substr(0, before.find_first_not_of(" \t"));
        layout.compact = text.find('\n', value.begin) >= value.end;
        return layout;
    }

    // The spans of an object's members or an array's items.
    static std::vector<std::pair<size_t, size_t>> Spans(const JsonValue& container) {
        std::vector<std::pair<size_t, size_t>> spans;
        for (const JsonMember& member : container.members)
            spans.emplace_back(member.name_begin, member.value.end);
        for (const JsonValue& item : container.items)
            spans.emplace_back(item.begin, item.end);
        return spans;
    }

    // What stands between two members or items: the comma and the layout,
    // with "\n" for a line end (Apply writes the file's own).
    std::string Separator(const JsonValue& container) const {
        const auto spans = Spans(container);
        std::string between = ", ";
        if (spans.size() >= 2)
            between = text.substr(spans[0].second, spans[1].first - spans[0].second);
        else if (spans.size() == 1)
            between = "," + text.substr(container.begin + 1, spans[0].first - container.begin - 1);
        between.erase(std::remove(between.begin(), between.end(), '\r'), between.end());
        return between;
    }

    // Cuts out the members or items marked, each with the comma that joins it.
    void Remove(const JsonValue& container, const std::vector<bool>& removed) {
        const auto spans = Spans(container);
        if (std::all_of(removed.begin(), removed.end(), [](bool r) { return r; })) {
            if (!spans.empty())
                Replace(container.begin + 1, container.end - 1, "");
            return;
        }
        for (size_t a = 0; a < spans.size(); ++a) {
            if (!removed[a])
                continue;
            size_t b = a;
            while (b + 1 < spans.size() && removed[b + 1])
                ++b;
            if (b + 1 < spans.size())
                Replace(spans[a].first, spans[b + 1].first, "");
            else
                Replace(spans[a - 1].second, spans[b].second, "");
            a = b;
        }
    }

    // Per field: whether what the file has there (or its absence) still reads
    // as the record now. derived names the field whose absence stands for a
    // value worked out from the others; derived_now says whether that value
    // is the record's.
    template <typename Record, size_t N>
    static std::vector<bool> Holding(const JsonValue& object, const Group (&groups)[N],
                                     const Record& before, const Record& now, const char* derived,
                                     bool derived_now) {
        std::vector<bool> holds;
        for (const Group& group : groups) {
            const bool absent =
                !object.Value(group.name) && !(group.other && object.Value(group.other));
            holds.push_back(absent && strcmp(group.name, derived) == 0
                                ? derived_now
                                : SameBytes(&before, &now, group));
        }
        return holds;
    }

    // A field group that no longer reads as the record: written anew where it
    // stood, or added after the fields that precede it.
    template <typename Record, size_t N>
    void EditFields(const JsonValue& object, const Group (&groups)[N], const Record& now,
                    const std::vector<bool>& holds,
                    std::vector<Member> (*field)(const Group&, const Record&, const char*)) {
        std::vector<bool> removed(object.members.size(), false);
        for (size_t g = 0; g < N; ++g) {
            if (holds[g])
                continue;
            std::vector<size_t> present;
            for (size_t m = 0; m < object.members.size(); ++m) {
                const std::string& name = object.members[m].name;
                if (name == groups[g].name || (groups[g].other && name == groups[g].other))
                    present.push_back(m);
            }
            const char* form =
                present.empty() ? groups[g].name : object.members[present[0]].name.c_str();
            std::string written;
            for (const Member& member : field(groups[g], now, form))
                written += (written.empty() ? "" : Separator(object)) + JsonString(member.name) +
                           ": " + member.text;
            if (!present.empty()) {
                const JsonMember& first = object.members[present[0]];
                if (written.empty())
                    removed[present[0]] = true;
                else
                    Replace(first.name_begin, first.value.end, written);
                for (size_t k = 1; k < present.size(); ++k)
                    removed[present[k]] = true;
                continue;
            }
            if (written.empty())
                continue;
            // After the last field of a group before this one, else first.
            const JsonMember* after = nullptr;
            for (const JsonMember& member : object.members)
                for (size_t earlier = 0; earlier < g; ++earlier)
                    if (member.name == groups[earlier].name ||
                        (groups[earlier].other && member.name == groups[earlier].other))
                        after = &member;
            if (after)
                Replace(after->value.end, after->value.end, Separator(object) + written);
            else if (!object.members.empty())
                Replace(object.members[0].name_begin, object.members[0].name_begin,
                        written + Separator(object));
            else
                Replace(object.begin, object.end, "{" + written + "}");
        }
        if (std::find(removed.begin(), removed.end(), true) != removed.end())
            Remove(object, removed);
    }

    void EditLine(const JsonValue& object, const DocumentItem& before, const DocumentItem& now) {
        if (VsCleared(before) || VsCleared(now)) {
            Replace(object.begin, object.end, LineObject(now, At(object, object.begin)));
            return;
        }
        const bool computed = SameDouble(GetDouble(&now, kVsLineValueOffset), ComputedValue(now));
        EditFields(object, kLineGroups, now,
                   Holding(object, kLineGroups, before, now, "value", computed), &LineField);
    }

    // A document's lines: the same lines changed in place, or fewer (the
    // host drops the cleared ones from the store) cut out; anything else
    // written anew.
    void EditLines(const JsonMember& member, const std::vector<DocumentItem>& before,
                   const std::vector<DocumentItem>& now) {
        const JsonValue& array = member.value;
        std::vector<int> match(before.size(), -1);
        size_t j = 0;
        for (size_t i = 0; i < before.size(); ++i) {
            const bool same_place = before.size() == now.size();
            if (j < now.size() &&
                (same_place || (before[i].article_key_first == now[j].article_key_first &&
                                before[i].article_key_second == now[j].article_key_second)))
                match[i] = static_cast<int>(j++);
        }
        if (j != now.size() || array.items.size() != before.size()) {
            Layout at = At(array, member.name_begin);
            at.compact = at.compact && !array.items.empty();
            Replace(array.begin, array.end, LinesArray(&now, at));
            return;
        }
        std::vector<bool> removed(before.size());
        for (size_t i = 0; i < before.size(); ++i) {
            removed[i] = match[i] < 0;
            if (!removed[i] && memcmp(&before[i], &now[match[i]], sizeof now[0]) != 0)
                EditLine(array.items[i], before[i], now[match[i]]);
        }
        if (std::find(removed.begin(), removed.end(), true) != removed.end())
            Remove(array, removed);
    }

    void EditHeader(const JsonValue& object, const DocumentHeader& before,
                    const DocumentHeader& now, const std::vector<DocumentItem>& before_lines,
                    const std::vector<DocumentItem>& now_lines) {
        if (VsCleared(before) || VsCleared(now)) {
            Replace(object.begin, object.end,
                    HeaderObject(now, &now_lines, At(object, object.begin)));
            return;
        }
        const auto sum = Stored(LinesValue(now_lines));
        EditFields(object, kHeaderGroups, now,
                   Holding(object, kHeaderGroups, before, now, "gross",
                           sum && SameDouble(now.gross_value, *sum)),
                   &HeaderField);
        if (const JsonMember* lines = object.Find("lines"))
            EditLines(*lines, before_lines, now_lines);
    }

    void EditOrphans(const JsonValue& root,
                     const std::map<int32_t, const std::vector<DocumentItem>*>& now,
                     const DocumentSet& before) {
        const JsonMember* member = root.Find("orphan_lines");
        std::map<int32_t, size_t> was;  // identifier: the group's place in the file
        if (member) {
            for (size_t i = 0; i < member->value.items.size(); ++i) {
                int32_t id = 0;
                const std::string& text = member->value.items[i].Value("document_id")->text;
                std::from_chars(text.data(), text.data() + text.size(), id);
                was[id] = i;
            }
        }
        bool only_added = true;
        for (const auto& [id, place] : was)
            only_added = only_added && now.count(id);
        std::vector<std::string> added;
        const Layout root_member = member ? At(member->value, member->name_begin) : Layout{"  "};
        for (const auto& [id, lines] : now) {
            if (auto found = was.find(id); found != was.end()) {
                static const std::vector<DocumentItem> kNone;
                const JsonValue& group = member->value.items[found->second];
                auto before_lines = before.lines.find(id);
                if (only_added)
                    EditLines(*group.Find("lines"),
                              before_lines != before.lines.end() ? before_lines->second : kNone,
                              *lines);
            } else {
                added.push_back(OrphanGroup(id, *lines, root_member.Inner()));
            }
        }
        if (!only_added) {
            std::vector<std::string> groups;
            for (const auto& [id, lines] : now)
                groups.push_back(OrphanGroup(id, *lines, root_member.Inner()));
            Replace(member->value.begin, member->value.end, ArrayText(groups, root_member));
        } else if (!added.empty() && member && !member->value.items.empty()) {
            std::string text;
            for (const std::string& group : added)
                text += Separator(member->value) + group;
            Replace(member->value.items.back().end, member->value.items.back().end, text);
        } else if (!added.empty() && member) {
            Replace(member->value.begin, member->value.end, ArrayText(added, root_member));
        } else if (!added.empty()) {
            const JsonMember& last = root.members.back();
            Replace(last.value.end, last.value.end,
                    Separator(root) +
                        "\"orphan_lines\": " + ArrayText(added, At(last.value, last.name_begin)));
        }
    }

    // The text with every edit made; false when two edits overlap.
    bool Apply(const std::string& newline, std::string& out) {
        std::stable_sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) {
            return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
        });
        out.clear();
        size_t at = 0;
        for (const Edit& edit : edits) {
            if (edit.begin < at)
                return false;
            out.append(text, at, edit.begin - at);
            for (const char c : edit.text)
                c == '\n' ? out += newline : out += c;
            at = edit.end;
        }
        out.append(text, at, std::string::npos);
        return true;
    }
};

std::string Spliced(const DocumentSet& now, const DocumentFile& before, const std::string& newline,
                    bool& done) {
    done = false;
    const JsonValue* headers = before.root.Value("headers");
    if (!headers || headers->items.size() != now.headers.size() ||
        before.documents.headers.size() != now.headers.size())
        return "";
    const Owned owned_now = LinesOwned(now), owned_before = LinesOwned(before.documents);
    static const std::vector<DocumentItem> kNone;
    Splicer splicer{before.text, {}};
    for (size_t i = 0; i < now.headers.size(); ++i) {
        const auto* before_lines = owned_before.of_header[i];
        const auto* now_lines = owned_now.of_header[i];
        splicer.EditHeader(headers->items[i], before.documents.headers[i], now.headers[i],
                           before_lines ? *before_lines : kNone, now_lines ? *now_lines : kNone);
    }
    splicer.EditOrphans(before.root, owned_now.orphans, before.documents);
    std::string out;
    done = splicer.Apply(newline, out);
    return out;
}

}  // namespace

std::string WriteDocuments(const DocumentSet& documents, const DocumentFile* before) {
    if (!before)
        return NewFile(documents);
    const std::string mark = before->byte_order_mark ? "\xEF\xBB\xBF" : "";
    if (SameDocuments(documents, before->documents))
        return mark + before->text;
    const size_t first_end = before->text.find('\n');
    const std::string newline =
        first_end != std::string::npos && first_end > 0 && before->text[first_end - 1] == '\r'
            ? "\r\n"
            : "\n";
    // Compared field by field as the file holds them, so that what the host
    // left behind a text's terminator does not make the text a change.
    DocumentSet held = documents;
    for (DocumentHeader& header : held.headers)
        header = AsFileHolds(header);
    for (auto& [id, lines] : held.lines)
        for (DocumentItem& line : lines)
            line = AsFileHolds(line);
    bool done = false;
    std::string text = mark + Spliced(held, *before, newline, done);
    // What is written must read back as the documents.
    DocumentFile check;
    std::vector<Problem> problems;
    if (done && ReadDocuments(text, check, problems) && SameDocuments(check.documents, documents))
        return text;
    text = NewFile(documents);
    std::string converted;
    for (const char c : text)
        c == '\n' ? converted += newline : converted += c;
    return mark + converted;
}

}  // namespace document_file
