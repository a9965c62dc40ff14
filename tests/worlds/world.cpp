// A world from its seed, its host records, and its text.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "tests/support/host_store.h"
#include "tests/worlds/world.h"

namespace worlds {

uint32_t Dice::Next() {
    if (data_ != nullptr) {
        uint32_t value = 0;
        for (int i = 0; i < 4 && size_ > 0; ++i, --size_)
            value |= static_cast<uint32_t>(*data_++) << (8 * i);
        return value;
    }
    // splitmix64: every seed its own sequence, the same on every build.
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<uint32_t>((z ^ (z >> 31)) >> 32);
}

namespace {

// ------------------------------------------------------------------ the generator
// Small shops, so that a WZ's articles meet an order's often: a few
// customers, articles 1 to 3 in two variants, the values that sit at the
// edges of every rule.

template <typename T, size_t N>
T Pick(Dice& dice, const T (&values)[N]) {
    return values[dice.Below(static_cast<int>(N))];
}

int32_t Quantity(Dice& dice) {
    static const int32_t kEdges[] = {0, 1, -1, 500, 999, 1000, 1001, 2999, 3000, -2000};
    static const int32_t kLimits[] = {INT32_MAX,  INT32_MAX - 1, INT32_MIN, INT32_MIN + 1,
                                      2147483000, -2147483000,   1 << 30,   -(1 << 30)};
    switch (dice.Below(10)) {
        case 0:
        case 1:
        case 2:
        case 3:
            return 1000 * (dice.Below(13) - 3);
        case 4:
        case 5:
            return dice.Below(17001) - 5000;  // thousandths of a unit
        case 6:
        case 7:
            return Pick(dice, kEdges);
        case 8:
            return Pick(dice, kLimits);
    }
    return static_cast<int32_t>(dice.Next());
}

// A text of up to width bytes (width itself: the field full, unterminated):
// mostly short, sometimes long, with Mazovia letters, quotes, separators,
// control bytes or what a spreadsheet takes for a formula.
std::string Text(Dice& dice, const char* stem, int width) {
    int length = dice.Below(4) == 0 ? dice.Below(width + 1) : dice.Below(12);
    if (dice.Chance(3))
        length = width - dice.Below(2);
    std::string text = stem;
    static const char kOdd[] = {'=',  '+',    '-',    '@',    '"',    ';',    '\t',
                                '\r', '\x01', '\x7F', '\x8E', '\xA1', '\x9E', ' '};
    while (static_cast<int>(text.size()) < length) {
        const int kind = dice.Below(8);
        text += kind == 0   ? Pick(dice, kOdd)
                : kind == 1 ? static_cast<char>(1 + dice.Below(255))
                            : static_cast<char>('a' + dice.Below(26));
    }
    text.resize(static_cast<size_t>(length));
    if (dice.Chance(5) && !text.empty())
        text[0] = Pick(dice, kOdd);
    return text;
}

uint64_t Gross(Dice& dice) {
    static const uint64_t kOdd[] = {0x7FF0000000000001ull, 0x7FF8000000000000ull,
                                    0xFFF8000000000000ull, 0x7FF0000000000000ull,
                                    0xFFF0000000000000ull, 1,
                                    0x7FEFFFFFFFFFFFFFull, 0x8000000000000000ull};
    const int kind = dice.Below(5);
    if (kind == 0)
        return Pick(dice, kOdd);
    if (kind == 1)
        return (static_cast<uint64_t>(dice.Next()) << 32) | dice.Next();
    double value = static_cast<double>(dice.Below(2000000)) * (kind == 2 ? 100.0 : 1.0);
    if (dice.Chance(10))
        value = -value;
    uint64_t bits;
    memcpy(&bits, &value, sizeof bits);
    return bits;
}

// A document's next line: often an article it holds already (a WZ then
// often gives some back), with either part of the key the same.
WorldLine Line(Dice& dice, const char* stem, const std::vector<WorldLine>& before) {
    WorldLine line;
    line.article = static_cast<int16_t>(dice.Chance(12) ? 0 : 1 + dice.Below(3));
    line.variant = static_cast<int16_t>(dice.Chance(5) ? dice.Below(3) - 1 : 1 + dice.Below(2));
    line.quantity = Quantity(dice);
    if (!before.empty() && dice.Chance(35)) {
        const WorldLine& earlier =
            before[static_cast<size_t>(dice.Below(static_cast<int>(before.size())))];
        line.article = earlier.article;
        line.variant = dice.Chance(80) ? earlier.variant : line.variant;
        if (stem[0] == 'W' && dice.Chance(40))
            line.quantity = -1000 * (1 + dice.Below(4)) - (dice.Chance(20) ? dice.Below(1000) : 0);
    }
    line.text = Text(dice, stem, sizeof(DocumentItem::text));
    return line;
}

Act MakeAct(Dice& dice, const std::vector<WorldHeader>& headers) {
    static const int16_t kAnswers[] = {kAnswerYes, kAnswerYes, kAnswerYes, kAnswerNo,
                                       kAnswerEscape};
    Act act;
    const int kind = dice.Below(10);
    act.kind = kind < 6 ? ActKind::kCompare : kind < 8 ? ActKind::kCommand : ActKind::kStore;
    const int count = static_cast<int>(headers.size());
    act.document = dice.Below(count);
    // Mostly Ctrl+9 on a WZ, where the world has one.
    for (int tries = 0; tries < 8 && headers[static_cast<size_t>(act.document)].second != 0 &&
                        act.kind == ActKind::kCompare && dice.Chance(85);
         ++tries)
        act.document = dice.Below(count);
    act.question = Pick(dice, kAnswers);
    act.list = dice.Chance(85) ? kAnswerYes : Pick(dice, kAnswers);
    // Mostly one of the rows the list will offer (as the world begins).
    const WorldHeader& wz = headers[static_cast<size_t>(act.document)];
    int offered = 0;
    for (const WorldHeader& h : headers)
        offered += h.id != 0 && h.second != 0 && h.customer == wz.customer ? 1 : 0;
    act.row =
        static_cast<int16_t>(dice.Chance(8) ? dice.Below(3) * 40 - 41 : dice.Below(offered + 1));
    act.gone = dice.Chance(12) ? dice.Below(count) : -1;
    if (act.kind == ActKind::kCommand) {
        act.result = dice.Chance(85) ? static_cast<uint16_t>(kAnswerYes) : dice.Next() & 0xFFFF;
        act.phase = dice.Chance(85) ? 2 : dice.Next() & 0xFFFF;
        for (int i = dice.Below(5); i > 0; --i) {
            static const uint8_t kFlags[] = {0, 1, 1, 255};
            static const int32_t kValues[] = {0, 1, 1, -1};
            act.selection.push_back({Pick(dice, kFlags), Pick(dice, kValues),
                                     Text(dice, "", sizeof(DocumentHeader::remarks))});
        }
    }
    return act;
}

// The operations whose failure the interface defines, as a world may see
// them fail; the first five are those the remarks' write takes.
constexpr int32_t kFailing[] = {
    kOrdinalHostOpenTable,   kOrdinalHostFindRange, kOrdinalHostReadAt,     kOrdinalHostWriteAt,
    kOrdinalHostBeginUpdate, kOrdinalHostScanOpen,  kOrdinalHostScanNext,   kOrdinalHostLoadLines,
    kOrdinalHostRealloc,     kOrdinalHostQuestion,  kOrdinalHostListDialog,
};

VsVariation Variation(Dice& dice, bool& sequence_changes) {
    VsVariation variation{};
    const int choice = dice.Below(16);
    int field = 0;
#define WORLD_INTERFACE_SWITCH(name, kind, value, title)            \
    if (kVsSwitch##kind == kVsSwitchInterface && choice == field++) \
        variation.name = value;
    VS_VARIATION_SWITCHES(WORLD_INTERFACE_SWITCH)
#undef WORLD_INTERFACE_SWITCH
    if (choice == field++)
        variation = kVsEveryInterfaceVariation;
    if (choice == field++)
        variation.open_results = 1 + dice.Below(3);
    static const int32_t kControls[] = {0x1332, 0x027F};
    switch (dice.Below(8)) {
        case 0:
            variation.x87_control = Pick(dice, kControls);
            break;
        case 1:
            variation.mxcsr = 0x1900;
            break;
        case 2:
            variation.locale = 1 + dice.Below(2);
            break;
        case 3:
            variation.dialog_long_jump = 1;
            break;
        case 4:
            variation.thread_reuse = 1;
            break;
    }
    // Events raised from inside operations and a dialog left and shown again
    // add host calls of their own: no fault is counted across them.
    sequence_changes = variation.nested_events != 0 || variation.dialog_long_jump != 0 ||
                       variation.thread_reuse != 0;
    return variation;
}

}  // namespace

World Generate(Dice& dice) {
    World world;
    static const int16_t kCustomers[] = {1, 1, 1, 1, 2, 2, -1, INT16_MIN};
    const int headers = 1 + dice.Below(8);
    int32_t next_id = 1 + dice.Below(3) * 1000;
    for (int i = 0; i < headers; ++i) {
        WorldHeader header;
        const int kind = dice.Below(10);
        header.cleared = kind == 0;
        if (!header.cleared) {
            header.id = next_id++;
            header.second = kind <= 4 ? 0 : dice.Chance(95) ? header.id + 5000 : -1;
            if (dice.Chance(4))
                header.id = -header.id;  // never 0: an identifier identifies
            header.customer = Pick(dice, kCustomers);
            if (i > 0 && dice.Chance(50))  // the customer of a document before
                header.customer = world.headers[static_cast<size_t>(dice.Below(i))].customer;
            header.marker = dice.Chance(15) ? kComparedMarker : dice.Chance(5) ? 1999 : 0;
            header.date = dice.Chance(10) ? static_cast<int32_t>(dice.Next()) : 20260101 + i;
            header.gross = Gross(dice);
            char number[24];
            snprintf(number, sizeof number, "%s %d", kind <= 4 ? "WZ" : "ZK",
                     dice.Chance(20) ? 7 : header.id);
            header.number = dice.Chance(8) ? Text(dice, number, 17) : number;
            header.remarks = Text(dice, "", sizeof(DocumentHeader::remarks));
            // Now and then a long document, whose journal record runs to kilobytes.
            for (int n = dice.Chance(4) ? 40 + dice.Below(40) : dice.Below(7); n > 0; --n)
                header.lines.push_back(Line(dice, kind <= 4 ? "W" : "Z", header.lines));
        }
        world.headers.push_back(header);
    }
    // Command 350's remarks reach a document when it is stored: a command is
    // mostly followed by a save, and a failing operation often falls on it.
    int remarks_saved = -1;
    for (int n = 1 + dice.Below(3); n > 0; --n) {
        world.acts.push_back(MakeAct(dice, world.headers));
        if (world.acts.back().kind == ActKind::kCommand && dice.Chance(60)) {
            Act store;
            store.kind = ActKind::kStore;
            store.document = dice.Below(headers);
            world.acts.push_back(store);
            remarks_saved = static_cast<int>(world.acts.size()) - 1;
        }
    }
    static const int kPytaj[] = {-1, -1, 0, 1, 7, 65536};
    world.pytaj = dice.Chance(50) ? 1 : Pick(dice, kPytaj);
    world.notice_answer = static_cast<int16_t>(dice.Below(3) - 1);
    world.journal = dice.Chance(75);
    bool sequence_changes = false;
    world.variation = Variation(dice, sequence_changes);
    if (!sequence_changes && dice.Chance(35)) {
        const bool on_save = remarks_saved >= 0 && dice.Chance(50);
        world.fault.act = on_save ? remarks_saved : dice.Below(static_cast<int>(world.acts.size()));
        // On that save, one of the operations the remarks take (the first five).
        world.fault.ordinal = on_save ? kFailing[dice.Below(5)] : Pick(dice, kFailing);
        world.fault.nth = 1 + dice.Below(dice.Chance(50) ? 2 : 6);
    }
    return world;
}

// ------------------------------------------------------------------ the records

namespace {

void PutBytes(char* field, size_t width, const std::string& bytes) {
    memset(field, 0, width);
    memcpy(field, bytes.data(), bytes.size() < width ? bytes.size() : width);
}

}  // namespace

DocumentHeader HeaderRecord(const WorldHeader& world_header) {
    DocumentHeader header{};
    if (world_header.cleared)
        return header;
    header = test_host::Patterned(
        test_host::MakeHeader(world_header.id, world_header.second, world_header.customer, "", ""));
    test_host::SetIssueDate(header, world_header.date);
    memcpy(&header.gross_value, &world_header.gross, sizeof header.gross_value);
    header.compared_marker = world_header.marker;
    PutBytes(header.number, sizeof header.number, world_header.number);
    PutBytes(header.remarks, sizeof header.remarks, world_header.remarks);
    return header;
}

DocumentItem LineRecord(const WorldLine& world_line) {
    DocumentItem line = test_host::Patterned(
        test_host::MakeLine("", world_line.quantity, world_line.article, world_line.variant));
    PutBytes(line.text, sizeof line.text, world_line.text);
    return line;
}

// ------------------------------------------------------------------ the text

namespace {

std::string Quoted(const std::string& bytes) {
    std::string text = "\"";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            text += static_cast<char>(c);
        } else {
            char escaped[8];
            snprintf(escaped, sizeof escaped, "\\x%02X", c);
            text += escaped;
        }
    }
    return text + "\"";
}

struct Operation {
    const char* name;
    int32_t ordinal;
};
constexpr Operation kOperations[] = {
#define WORLD_OPERATION(name, ordinal, convention, bytes, result, params) {#name, ordinal},
    HOST_OPERATIONS(WORLD_OPERATION)
#undef WORLD_OPERATION
};

struct Switch {
    const char* name;
    int VsVariation::*field;
};
constexpr Switch kSwitches[] = {
#define WORLD_SWITCH(field, kind, value, title) {#field, &VsVariation::field},
    VS_VARIATION_SWITCHES(WORLD_SWITCH)
#undef WORLD_SWITCH
};

// One line's words: its keyword, then key=value pairs (a quoted value
// unescaped) and bare words (an empty value).
bool Words(const std::string& line, std::string& keyword, std::map<std::string, std::string>& pairs,
           std::string& why) {
    std::istringstream in(line);
    in >> keyword;
    pairs.clear();
    for (char c; in >> c;) {
        std::string key(1, c);
        while (in.get(c) && c != '=' && c != ' ')
            key += c;
        std::string value;
        if (!in || c == ' ') {
            pairs[key] = value;
            continue;
        }
        if (in.peek() == '"') {
            in.get();
            while (in.get(c) && c != '"') {
                if (c == '\\') {
                    char hex[3] = {};
                    if (!(in.get(c) && c == 'x' && in.get(hex[0]) && in.get(hex[1]))) {
                        why = "a broken escape in " + key;
                        return false;
                    }
                    c = static_cast<char>(strtol(hex, nullptr, 16));
                }
                value += c;
            }
            if (!in) {
                why = "an unterminated text in " + key;
                return false;
            }
        } else {
            in >> value;
        }
        pairs[key] = value;
    }
    return true;
}

}  // namespace

std::string WorldText(const World& world) {
    std::ostringstream out;
    out << "world seed=" << world.seed << "\n";
    out << "settings pytaj=" << world.pytaj << " notice=" << world.notice_answer
        << " journal=" << (world.journal ? 1 : 0) << "\n";
    out << "variation";
    for (const Switch& s : kSwitches)
        if (world.variation.*s.field != 0)
            out << " " << s.name << "=" << world.variation.*s.field;
    out << "\n";
    if (world.fault.act >= 0) {
        for (const Operation& operation : kOperations)
            if (operation.ordinal == world.fault.ordinal)
                out << "fault act=" << world.fault.act << " operation=" << operation.name
                    << " nth=" << world.fault.nth << "\n";
    }
    for (const WorldHeader& h : world.headers) {
        if (h.cleared) {
            out << "header cleared\n";
            continue;
        }
        char gross[24];
        snprintf(gross, sizeof gross, "0x%016" PRIX64, h.gross);
        out << "header id=" << h.id << " second=" << h.second << " customer=" << h.customer
            << " marker=" << h.marker << " date=" << h.date << " gross=" << gross
            << " number=" << Quoted(h.number) << " remarks=" << Quoted(h.remarks) << "\n";
        for (const WorldLine& l : h.lines)
            out << "line article=" << l.article << " variant=" << l.variant
                << " quantity=" << l.quantity << " text=" << Quoted(l.text) << "\n";
    }
    for (const Act& act : world.acts) {
        if (act.kind == ActKind::kCompare)
            out << "act compare document=" << act.document << " question=" << act.question
                << " list=" << act.list << " row=" << act.row << " gone=" << act.gone << "\n";
        if (act.kind == ActKind::kStore)
            out << "act store document=" << act.document << "\n";
        if (act.kind == ActKind::kCommand) {
            out << "act command result=" << act.result << " phase=" << act.phase << "\n";
            for (const SelectionItem& item : act.selection)
                out << "entry flag=" << static_cast<int>(item.flag) << " value=" << item.value
                    << " remarks=" << Quoted(item.remarks) << "\n";
        }
    }
    return out.str();
}

bool ReadWorld(const std::string& text, World& world, std::string& why) {
    world = World{};
    std::istringstream in(text);
    std::string line, keyword;
    std::map<std::string, std::string> w;
    for (int number = 1; std::getline(in, line); ++number) {
        const auto fail = [&](const std::string& what) {
            why = "line " + std::to_string(number) + ": " + what;
            return false;
        };
        if (line.empty() || line[0] == '#')
            continue;
        if (!Words(line, keyword, w, why))
            return fail(why);
        // Every value a world needs of a line; a missing one reads as 0.
        const auto integer = [&](const char* key) { return strtoll(w[key].c_str(), nullptr, 0); };
        const auto i16 = [&](const char* key) { return static_cast<int16_t>(integer(key)); };
        const auto i32 = [&](const char* key) { return static_cast<int32_t>(integer(key)); };
        if (keyword == "world") {
            world.seed = strtoull(w["seed"].c_str(), nullptr, 0);
        } else if (keyword == "settings") {
            world.pytaj = i32("pytaj");
            world.notice_answer = i16("notice");
            world.journal = integer("journal") != 0;
        } else if (keyword == "variation") {
            for (const auto& [key, value] : w) {
                const Switch* found = nullptr;
                for (const Switch& s : kSwitches)
                    found = key == s.name ? &s : found;
                if (found == nullptr)
                    return fail("no variation switch \"" + key + "\"");
                world.variation.*found->field = i32(key.c_str());
            }
        } else if (keyword == "fault") {
            world.fault.act = i32("act");
            world.fault.nth = i32("nth");
            for (const Operation& operation : kOperations)
                if (w["operation"] == operation.name)
                    world.fault.ordinal = operation.ordinal;
            if (world.fault.ordinal == 0)
                return fail("no host operation \"" + w["operation"] + "\"");
        } else if (keyword == "header") {
            WorldHeader h;
            h.cleared = w.count("cleared") != 0;
            h.id = i32("id");
            h.second = i32("second");
            h.customer = i16("customer");
            h.marker = i16("marker");
            h.date = i32("date");
            h.gross = strtoull(w["gross"].c_str(), nullptr, 0);
            h.number = w["number"].substr(0, sizeof(DocumentHeader::number));
            h.remarks = w["remarks"].substr(0, sizeof(DocumentHeader::remarks));
            world.headers.push_back(h);
        } else if (keyword == "line") {
            if (world.headers.empty() || world.headers.back().cleared)
                return fail("a line without a header to belong to");
            world.headers.back().lines.push_back({i16("article"), i16("variant"), i32("quantity"),
                                                  w["text"].substr(0, sizeof(DocumentItem::text))});
        } else if (keyword == "act") {
            Act act;
            act.kind = w.count("compare") ? ActKind::kCompare
                       : w.count("store") ? ActKind::kStore
                                          : ActKind::kCommand;
            if (!w.count("compare") && !w.count("store") && !w.count("command"))
                return fail("an act that is neither compare, store nor command");
            act.document = i32("document");
            act.question = i16("question");
            act.list = i16("list");
            act.row = i16("row");
            act.gone = w.count("gone") ? i32("gone") : -1;
            act.result = static_cast<uint16_t>(integer("result"));
            act.phase = static_cast<uint16_t>(integer("phase"));
            world.acts.push_back(act);
        } else if (keyword == "entry") {
            if (world.acts.empty() || world.acts.back().kind != ActKind::kCommand)
                return fail("an entry without command 350 to belong to");
            world.acts.back().selection.push_back(
                {static_cast<uint8_t>(integer("flag")), i32("value"),
                 w["remarks"].substr(0, sizeof(DocumentHeader::remarks))});
        } else {
            return fail("unknown keyword \"" + keyword + "\"");
        }
    }
    const int headers = static_cast<int>(world.headers.size());
    for (const Act& act : world.acts)
        if (act.document < 0 || act.document >= headers || act.gone >= headers)
            return (why = "an act names a header the world does not have", false);
    return true;
}

}  // namespace worlds
