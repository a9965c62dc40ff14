// A world played through the plug-in on the stand-in host, and checked:
// against the model, and against what holds whatever the model says.
#include <algorithm>
#include <cfenv>
#include <clocale>
#include <cstring>

#include "tests/support/host_store.h"
#include "tests/support/plugin_texts.h"
#include "tests/worlds/world.h"

namespace worlds {
namespace {

constexpr int32_t kLineHookResult = 41;
constexpr int32_t kHeaderHookResult = 43;

// ------------------------------------------------------------------ playing

// The act being played, for the user's answers.
const World* playing = nullptr;
const Act* acting = nullptr;

int32_t Answer(const VsDialogCall* call, int32_t* selection) {
    switch (call->ordinal) {
        case kOrdinalHostNotice:
            return playing->notice_answer;
        case kOrdinalHostQuestion:
            return acting->question;
        case kOrdinalHostListDialog:
            // Another workstation uses an order up while the list is open.
            if (acting->gone >= 0) {
                const DocumentHeader cleared{};
                VsPutHeader(acting->gone, &cleared);
            }
            *selection = acting->row;
            return acting->list;
    }
    return 0;
}

Holding Snapshot() {
    Holding holding;
    for (int i = 0; i < VsHeaderCount(); ++i)
        holding.headers.push_back(test_host::StoredHeader(i));
    std::vector<int32_t> ids(static_cast<size_t>(VsLineDocuments(nullptr, 0)));
    VsLineDocuments(ids.data(), static_cast<int>(ids.size()));
    for (int32_t id : ids)
        for (const DocumentItem& line : test_host::StoredLines(id))
            if (!VsCleared(line))
                holding.lines[id].push_back(line);
    holding.buffer = *test_host::RecordBuffer();
    return holding;
}

std::vector<Shown> DialogsSince(int mark) {
    std::vector<Shown> dialogs;
    for (int i = mark; i < VsDialogCallCount(); ++i) {
        const VsDialogCall& call = *VsDialogCallAt(i);
        Shown shown{call.ordinal, call.caption, call.text, call.format, call.flags,
                    call.dialog,  call.rows,    {},        {}};
        for (int row = 0; row < call.rows && call.row_texts != nullptr; ++row) {
            shown.asked.push_back(call.row_texts[row] != nullptr);
            shown.row_texts.push_back(call.row_texts[row] != nullptr ? call.row_texts[row] : "");
        }
        dialogs.push_back(shown);
    }
    return dialogs;
}

int HostEvents(int32_t table) {
    return VsHostHookEvents(table) - VsNestedEvents(table);
}

}  // namespace

Played Play(const World& world) {
    Played played;
    VsReset();
    VsSetStrict(1);
    const std::string settings = SettingsPath();
    WriteSettings(settings, world.pytaj < 0
                                ? ""
                                : "[Quendrix]\r\nPytaj=" + std::to_string(world.pytaj) + "\r\n");
    VsSetProfilePath(settings.c_str());
    for (const WorldHeader& header : world.headers) {
        const DocumentHeader record = HeaderRecord(header);
        VsAddHeader(&record);
        for (const WorldLine& line : header.lines) {
            const DocumentItem item = LineRecord(line);
            VsAddLine(header.id, &item);
        }
    }
    VsSetHostHookResult(kHeaderTable, kHeaderHookResult);
    VsSetHostHookResult(kLineTable, kLineHookResult);
    const TableEventHook host_hooks[2] = {VsTable(kHeaderTable)->hook, VsTable(kLineTable)->hook};
    played.initial = Snapshot();
    playing = &world;
    VsSetDialogHandler(Answer);

    // The host's process as the world has it, and as this program had it after.
    fenv_t environment;
    fegetenv(&environment);
    const std::string locale = setlocale(LC_ALL, nullptr);
    VsSetVariation(&world.variation);

    const PluginEntries plugin = LoadWorldPlugin(world.journal);
    static int context;
    char text[64];
    plugin.start(&context, text);
    plugin.install(0);
    played.install_dialogs = DialogsSince(0);
    for (size_t k = 0; k < world.acts.size(); ++k) {
        const Act& act = world.acts[k];
        acting = &act;
        if (world.fault.act == static_cast<int>(k))
            VsFailCall(world.fault.ordinal, world.fault.nth);
        const int mark = VsDialogCallCount();
        const int line_events = HostEvents(kLineTable), header_events = HostEvents(kHeaderTable);
        ActOutcome outcome;
        const int32_t id = world.headers[static_cast<size_t>(act.document)].id;
        if (act.kind == ActKind::kCommand) {
            VsClearSelection();
            for (const SelectionItem& item : act.selection) {
                WorldHeader source;
                source.id = source.second = 1;
                source.remarks = item.remarks;
                const DocumentHeader record = HeaderRecord(source);
                VsAddSelection(item.flag, item.value, &record);
            }
            outcome.played = true;
            outcome.result = VsRunMenuCommand(kMenuCommand, act.result, act.phase);
        } else if (id != 0 && VsOpenDocument(id) == 1) {
            outcome.played = true;
            outcome.result = act.kind == ActKind::kCompare ? VsRaiseLineEvent(kKeyEditedLines)
                                                           : VsStoreHeader(kVsKeyCustomerHeaders);
        }
        outcome.dialogs = DialogsSince(mark);
        outcome.line_events = HostEvents(kLineTable) - line_events;
        outcome.header_events = HostEvents(kHeaderTable) - header_events;
        outcome.holding = Snapshot();
        outcome.unreturned = test_host::Unreturned();
        played.acts.push_back(outcome);
    }
    plugin.start(nullptr, nullptr);
    played.hooks_back =
        VsTable(kHeaderTable)->hook == host_hooks[0] && VsTable(kLineTable)->hook == host_hooks[1];
    played.command_gone = VsMenuHandler(kMenuCommand) == nullptr;
    played.journal = UnloadWorldPlugin();

    played.process_state_violations = VsProcessStateViolations();
    VsSetVariation(nullptr);
    fesetenv(&environment);
    setlocale(LC_ALL, locale.c_str());
    VsSetDialogHandler(nullptr);
    playing = nullptr;
    acting = nullptr;
    return played;
}

// ------------------------------------------------------------------ checking

namespace {

// A record as the check compares it: a text field up to its terminator (the
// bytes behind it are the host's to zero or leave), and a value the host
// recomputes left out where it may have.
std::string Comparable(DocumentHeader header, bool host_gross) {
    if (host_gross)
        header.gross_value = 0;
    const std::string remarks = test_host::FieldText(header.remarks, sizeof header.remarks);
    test_host::PutText(header.remarks, sizeof header.remarks, remarks.c_str());
    return test_host::Bytes(header);
}

std::string Comparable(DocumentItem line, bool host_value) {
    if (host_value)
        memset(reinterpret_cast<char*>(&line) + kVsLineValueOffset, 0, sizeof(double));
    const std::string text = test_host::FieldText(line.text, sizeof line.text);
    test_host::PutText(line.text, sizeof line.text, text.c_str());
    return test_host::Bytes(line);
}

std::string Hex(const void* bytes, size_t size) {
    std::string text;
    char byte[4];
    for (size_t i = 0; i < size; ++i) {
        snprintf(byte, sizeof byte, "%02X", static_cast<const uint8_t*>(bytes)[i]);
        text += byte;
    }
    return text;
}

std::string Describe(const DocumentHeader& h) {
    return "{id " + std::to_string(h.document_id) + " second " + std::to_string(h.second_id) +
           " customer " + std::to_string(h.customer) + " marker " +
           std::to_string(h.compared_marker) + " number \"" +
           plugin_texts::Printable(test_host::FieldText(h.number, sizeof h.number)) +
           "\" remarks \"" +
           plugin_texts::Printable(test_host::FieldText(h.remarks, sizeof h.remarks)) +
           "\" gross " + Hex(&h.gross_value, sizeof h.gross_value) + "}";
}

std::string Describe(const DocumentItem& l) {
    return "{article " + std::to_string(l.article_key_first) + "/" +
           std::to_string(l.article_key_second) + " quantity " + std::to_string(l.quantity) +
           " text \"" + plugin_texts::Printable(test_host::FieldText(l.text, sizeof l.text)) +
           "\" values " + Hex(&l.value_150, 8) + " " + Hex(&l.value_202, 8) + "}";
}

std::string DescribeShown(const Shown& s) {
    std::string text = "{operation " + std::to_string(s.ordinal) + " caption \"" +
                       plugin_texts::Printable(s.caption) + "\" text \"" +
                       plugin_texts::Printable(s.text) + "\" flags " + std::to_string(s.flags);
    if (s.ordinal == kOrdinalHostListDialog) {
        text += " dialog " + std::to_string(s.dialog) + " rows " + std::to_string(s.rows);
        for (const std::string& row : s.row_texts)
            text += " \"" + plugin_texts::Printable(row) + "\"";
    }
    return text + "}";
}

// A row as the model gives it: a value cell "*" stands for any text (the
// number before it may hold a carriage return of its own; the date never).
bool SameRow(const std::string& expected, const std::string& played) {
    const size_t any = expected.rfind("\r*\r");
    if (any == std::string::npos)
        return expected == played;
    const std::string before = expected.substr(0, any + 1), after = expected.substr(any + 2);
    return played.size() >= before.size() + after.size() &&
           played.compare(0, before.size(), before) == 0 &&
           played.compare(played.size() - after.size(), after.size(), after) == 0;
}

bool SameShown(const Shown& expected, const Shown& played) {
    if (expected.ordinal != played.ordinal || expected.text != played.text ||
        expected.caption != played.caption || expected.flags != played.flags ||
        expected.format != played.format || expected.dialog != played.dialog ||
        expected.rows != played.rows)
        return false;
    // A list asks for the rows it shows, in any order: each one asked is compared.
    for (size_t i = 0; i < played.row_texts.size(); ++i)
        if (played.asked[i] && (i >= expected.row_texts.size() ||
                                !SameRow(expected.row_texts[i], played.row_texts[i])))
            return false;
    return true;
}

void CheckDialogs(const std::string& where, const std::vector<Shown>& expected,
                  const std::vector<Shown>& played, std::vector<std::string>& findings) {
    for (size_t i = 0; i < std::max(expected.size(), played.size()); ++i) {
        if (i < expected.size() && i < played.size() && SameShown(expected[i], played[i]))
            continue;
        findings.push_back("dialogs: " + where + " dialog " + std::to_string(i) + " expected " +
                           (i < expected.size() ? DescribeShown(expected[i]) : "none") +
                           ", shown " + (i < played.size() ? DescribeShown(played[i]) : "none"));
        return;
    }
}

template <typename T>
bool Listed(const std::vector<T>& list, T value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

void CheckHolding(const std::string& where, const Expected& e, const Holding& expected,
                  const Holding& played, std::vector<std::string>& findings) {
    const size_t headers = std::max(expected.headers.size(), played.headers.size());
    for (size_t i = 0; i < headers; ++i) {
        const DocumentHeader none{};
        const DocumentHeader& want = i < expected.headers.size() ? expected.headers[i] : none;
        const DocumentHeader& got = i < played.headers.size() ? played.headers[i] : none;
        const bool host_gross = Listed(e.host_grossed, static_cast<int>(i));
        if (Comparable(want, host_gross) != Comparable(got, host_gross))
            findings.push_back("stored header: " + where + " header " + std::to_string(i) +
                               " expected " + Describe(want) + ", stored " + Describe(got));
    }
    if (Comparable(expected.buffer, true) != Comparable(played.buffer, true))
        findings.push_back("record buffer: " + where + " expected " + Describe(expected.buffer) +
                           ", holds " + Describe(played.buffer));
    std::map<int32_t, std::vector<DocumentItem>> want, got;
    for (const auto& [id, lines] : expected.lines)
        for (const DocumentItem& line : lines)
            if (!VsCleared(line))
                want[id].push_back(line);
    got = played.lines;
    for (const auto& source : {want, got}) {
        for (const auto& [id, unused] : source) {
            const std::vector<DocumentItem>& a = want[id];
            const std::vector<DocumentItem>& b = got[id];
            const bool host_value = Listed(e.host_valued, id);
            bool same = a.size() == b.size();
            for (size_t i = 0; same && i < a.size(); ++i)
                same = Comparable(a[i], host_value) == Comparable(b[i], host_value);
            if (same)
                continue;
            std::string text =
                "stored lines: " + where + " document " + std::to_string(id) + " expected";
            for (const DocumentItem& line : a)
                text += " " + Describe(line);
            text += ", stored";
            for (const DocumentItem& line : b)
                text += " " + Describe(line);
            findings.push_back(text);
            return;
        }
    }
}

// What an act changed in the stand-in's store, by document: the identifiers
// of the headers that changed (by their identifier before) and of the
// documents whose lines did.
std::vector<int32_t> Changed(const Holding& before, const Holding& after,
                             std::vector<size_t>& positions) {
    std::vector<int32_t> changed;
    for (size_t i = 0; i < std::max(before.headers.size(), after.headers.size()); ++i) {
        if (i >= before.headers.size() || i >= after.headers.size() ||
            test_host::Bytes(before.headers[i]) != test_host::Bytes(after.headers[i])) {
            positions.push_back(i);
            changed.push_back(i < before.headers.size() ? before.headers[i].document_id : 0);
        }
    }
    for (const auto& source : {before.lines, after.lines})
        for (const auto& [id, unused] : source) {
            const auto a = before.lines.find(id), b = after.lines.find(id);
            const bool same = a != before.lines.end() && b != after.lines.end() &&
                              a->second.size() == b->second.size() &&
                              std::equal(a->second.begin(), a->second.end(), b->second.begin(),
                                         [](const DocumentItem& x, const DocumentItem& y) {
                                             return memcmp(&x, &y, sizeof x) == 0;
                                         });
            if (!same && !Listed(changed, id))
                changed.push_back(id);
        }
    return changed;
}

// What holds whatever the model says: everything handed out given back; a
// comparison changes the WZ and one order of its customer (and what another
// workstation did), storing a header changes only its remarks, command 350
// changes no document; no failure is shown twice.
void CheckInvariants(const World& world, size_t k, const Holding& before, const ActOutcome& act,
                     std::vector<std::string>& findings) {
    const std::string where = "act " + std::to_string(k);
    if (!act.unreturned.empty())
        findings.push_back("not given back: " + where + " " + act.unreturned);
    int errors = 0;
    for (const Shown& shown : act.dialogs)
        errors += shown.ordinal == kOrdinalHostMessage ? 1 : 0;
    if (errors > 1)
        findings.push_back("a failure shown twice: " + where);
    const Act& a = world.acts[k];
    const int32_t document = world.headers[static_cast<size_t>(a.document)].id;
    std::vector<size_t> positions;
    std::vector<int32_t> changed = Changed(before, act.holding, positions);
    for (size_t position : positions)
        if (static_cast<int>(position) == a.gone && a.kind == ActKind::kCompare)
            std::erase(changed, before.headers[position].document_id);
    std::erase(changed, a.kind == ActKind::kCommand ? INT32_MIN : document);
    bool allowed = changed.empty();
    if (a.kind == ActKind::kCompare && changed.size() == 1) {
        // The one other document a comparison changes is an order of the
        // WZ's customer, as the list offered it.
        for (const DocumentHeader& h : before.headers)
            allowed |= h.document_id == changed[0] && h.second_id != 0 &&
                       h.customer == act.holding.buffer.customer;
    }
    if (a.kind == ActKind::kStore && allowed) {
        for (size_t position : positions) {
            DocumentHeader was = before.headers[position];
            DocumentHeader now = act.holding.headers[position];
            memset(was.remarks, 0, sizeof was.remarks);
            memset(now.remarks, 0, sizeof now.remarks);
            allowed &= test_host::Bytes(was) == test_host::Bytes(now);
        }
    }
    if (!allowed) {
        std::string names;
        for (int32_t id : changed)
            names += " " + std::to_string(id);
        findings.push_back("changed what the act may not change: " + where + " documents" + names);
    }
}

std::vector<std::string> Rows(const std::string& journal, std::string& header) {
    std::vector<std::string> rows;
    for (size_t at = 0; at < journal.size();) {
        size_t end = journal.find("\r\n", at);
        end = end == std::string::npos ? journal.size() : end;
        std::string row = journal.substr(at, end - at);
        if (header.empty() && at == 0) {
            header = row;
        } else {
            // Without its date and time.
            const size_t date = row.find(';');
            const size_t time = date == std::string::npos ? date : row.find(';', date + 1);
            rows.push_back(time == std::string::npos ? "<cut> " + row : row.substr(time + 1));
        }
        at = end + 2;
    }
    return rows;
}

}  // namespace

std::vector<std::string> Check(const World& world, const Expected& expected, const Played& played) {
    std::vector<std::string> findings;
    CheckDialogs("install", expected.install_dialogs, played.install_dialogs, findings);
    const Holding* before = &played.initial;
    for (size_t k = 0; k < world.acts.size() && k < played.acts.size(); ++k) {
        const ActOutcome& want = expected.acts[k];
        const ActOutcome& got = played.acts[k];
        const std::string where = "act " + std::to_string(k);
        CheckInvariants(world, k, *before, got, findings);
        before = &got.holding;
        if (want.played != got.played) {
            findings.push_back("played: " + where + (want.played ? " expected" : " not expected"));
            continue;
        }
        if (want.result != got.result || want.line_events != got.line_events ||
            want.header_events != got.header_events)
            findings.push_back(
                "result: " + where + " expected " + std::to_string(want.result) + " with events " +
                std::to_string(want.line_events) + "/" + std::to_string(want.header_events) +
                ", got " + std::to_string(got.result) + " with " + std::to_string(got.line_events) +
                "/" + std::to_string(got.header_events));
        CheckDialogs(where, want.dialogs, got.dialogs, findings);
        CheckHolding(where, expected, want.holding, got.holding, findings);
    }
    std::string header;
    const std::vector<std::string> rows = Rows(played.journal, header);
    if (!header.empty() && header != expected.journal_header)
        findings.push_back("journal: its header row is \"" + plugin_texts::Printable(header) +
                           "\"");
    for (size_t i = 0; i < std::max(rows.size(), expected.journal.size()); ++i) {
        if (i < rows.size() && i < expected.journal.size() && rows[i] == expected.journal[i])
            continue;
        findings.push_back(
            "journal: row " + std::to_string(i) + " expected \"" +
            (i < expected.journal.size() ? plugin_texts::Printable(expected.journal[i]) : "none") +
            "\", written \"" + (i < rows.size() ? plugin_texts::Printable(rows[i]) : "none") +
            "\"");
        break;
    }
    if (played.process_state_violations != 0)
        findings.push_back("process state: changed " +
                           std::to_string(played.process_state_violations) + " times");
    if (!played.hooks_back || !played.command_gone)
        findings.push_back("stop: the host's hooks or its menu not as before the start");
    return findings;
}

std::vector<std::string> RunWorld(const World& given) {
    World world = given;
    AdaptToThisHost(world);
    VsReset();
    const Expected expected = Model(world, HostDateText);
    return Check(world, expected, Play(world));
}

std::string KindOf(const std::string& finding) {
    return finding.substr(0, finding.find(':'));
}

}  // namespace worlds
