// Every host call on every road through the plug-in, failing once.
//
// A road is one thing the host does with the plug-in: start and install; the
// WZ comparison with a confirmed order; the repeated comparison, with its
// question; the comparison cancelled in the order list; command 350 followed
// by a saved header; stop. Each road runs once without a fault to count its
// host calls N, and then once for every k from 1 to N + 1 with the k-th call
// failing with that operation's failure value (a null table, no range, a scan
// that does not open, a failed read, write, begin or reallocation, a save or
// update returning 0, a 16-bit answer other than yes). Run N + 1 reaches no
// fault: the road is complete.
//
// The plug-in keeps process-wide state (the compatibility list only grows,
// for one), so every run starts from a plug-in loaded afresh: it loads
// Quendrix.dll, plays the road, checks what the plug-in promises after a
// failure, and gives every reference to the DLL back, so that the system
// unloads it and the next run's load begins from its initial state. The runs
// share this process. A strict-mode fault or a crash ends it; the last run
// named on the output is the one that did.
#include <algorithm>
#include <cfenv>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include <gtest/gtest.h>

#include "reliability_host.h"

namespace reliability {
namespace {

using namespace shop;

constexpr int32_t kHostHookResult = 41;

using namespace plugin_texts;

// What one child found wrong; printed one per line, the exit code says whether
// there was any.
class Findings {
  public:
    void Expect(bool ok, const std::string& what) {
        if (!ok)
            found_.push_back(what);
    }
    bool Clean() const { return found_.empty(); }
    std::string Text() const {
        std::string text;
        for (const std::string& what : found_)
            text += what + "\n";
        return text;
    }

  private:
    std::vector<std::string> found_;
};

std::string Describe(const VsDialogCall& call) {
    return "operation " + std::to_string(call.ordinal) + " caption \"" + Printable(call.caption) +
           "\" text \"" + Printable(call.text) + "\" flags " + std::to_string(call.flags);
}

// What one run of a road found, the host calls it made, whether the failing
// call was among them (and which operation it was), and how many failures
// it showed.
struct RoadRun {
    Findings findings;
    int calls = 0;
    bool reached = false;
    int32_t failed = 0;
    int errors = 0;
};

// The dialog calls since a mark; each must be one the road allows, and at most
// one may be an error message: every failure is shown once.
struct DialogsSeen {
    int errors = 0;
    int list_dialogs = 0;
    int16_t list_result = 0;
    int questions = 0;
    int16_t question_result = 0;
    int notices = 0;
};

DialogsSeen CheckDialogs(int from, const std::function<bool(const VsDialogCall&)>& allowed,
                         RoadRun& run) {
    Findings& findings = run.findings;
    DialogsSeen seen;
    for (int i = from; i < VsDialogCallCount(); ++i) {
        const VsDialogCall& call = *VsDialogCallAt(i);
        findings.Expect(allowed(call), "a dialog the road does not name: " + Describe(call));
        if (call.ordinal == kOrdinalHostMessage)
            ++seen.errors;
        if (call.ordinal == kOrdinalHostListDialog) {
            ++seen.list_dialogs;
            seen.list_result = static_cast<int16_t>(call.result);
        }
        if (call.ordinal == kOrdinalHostQuestion) {
            ++seen.questions;
            seen.question_result = static_cast<int16_t>(call.result);
        }
        if (call.ordinal == kOrdinalHostNotice)
            ++seen.notices;
    }
    findings.Expect(seen.errors <= 1, "a failure shown more than once");
    run.errors = seen.errors;
    return seen;
}

// ------------------------------------------------------------------ the roads

// Which host call fails: the k-th of the road (none for 0), or one chosen by
// operation for a case of its own.
struct Fault {
    int k = 0;
    std::function<void()> inject;
    bool None() const { return k == 0 && !inject; }
};

void Arm(const Fault& fault) {
    if (fault.inject)
        fault.inject();
    else if (fault.k > 0)
        VsFailNthCall(fault.k);
}

void Measure(RoadRun& run, int base, int k) {
    run.calls = VsTotalCalls() - base;
    run.reached = k > 0 && run.calls >= k;
    if (const VsCall* failed = run.reached ? VsCallAt(base + k - 1) : nullptr)
        run.failed = failed->ordinal;
}

std::string StopReport(const Plugin& plugin, const char* label, int expected) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(plugin.module, path, sizeof path);
    const char* slash = strrchr(path, '\\');
    return RefusalReport(RefusalRow(label, std::to_string(expected), TextOf(MessageId::kNoTable)),
                         slash != nullptr ? slash + 1 : path);
}

// The plug-in loaded, started and installed as the host does at start-up;
// false, with the finding noted, when it could not be.
bool LoadedAndInstalled(Findings& f, Plugin& plugin) {
    plugin = LoadForRoad();
    std::string why;
    if (StartAndInstall(plugin, why))
        return true;
    f.Expect(false, "the plug-in cannot be started and installed");
    return false;
}

// Start with a context and install, as the host does: after a refused start
// the host asks why (install with a non-zero flag) instead.
void StartInstallRoad(int k, RoadRun& run) {
    FreshHost(true);  // no settings yet: the install notice is shown
    Findings& f = run.findings;
    const TableEventHook host_hooks[2] = {VsTable(kHeaderTable)->hook, VsTable(kLineTable)->hook};
    const Plugin plugin = LoadForRoad();
    if (plugin.start == nullptr) {
        f.Expect(false, "Quendrix.dll cannot be loaded");
        return;
    }
    const std::string buffer_before = Bytes(RecordBuffer(), sizeof(DocumentHeader));

    const int base = VsTotalCalls();
    Arm({k, {}});
    char text[64];
    memset(text, 'x', sizeof text);
    const int32_t started = plugin.start(test_host::HostContext(), text);
    const int32_t installed = started == 0 ? plugin.install(0) : plugin.install(1);
    Measure(run, base, k);

    f.Expect(Bytes(text, 61) == kFeatureText + std::string(1, '\0'),
             "the feature text is not in the host's buffer");
    f.Expect(started == 0 || started == -1, "start returned " + std::to_string(started));
    f.Expect(installed == 0 || (started == 0 && installed == -1),
             "install returned " + std::to_string(installed));
    const std::string report44 = StopReport(plugin, "Tspr", kHeaderRecordSize);
    const std::string report45 = StopReport(plugin, "Tspr_dok", kLineRecordSize);
    const std::string notice = Filled(MessageId::kInstallNotice, {kFeatureText});
    const DialogsSeen seen = CheckDialogs(
        0,
        [&](const VsDialogCall& call) {
            if (started != 0)  // refused: the report names the table that failed to open
                return Shows(call, MessageId::kRecordSizeReport, report44) ||
                       Shows(call, MessageId::kRecordSizeReport, report45);
            if (installed != 0)
                return Shows(call, MessageId::kNewerPluginNeeded);
            return Shows(call, MessageId::kInstallNotice, notice);
        },
        run);
    f.Expect(started == 0 || seen.errors == 1, "a refused start without its report");
    f.Expect(installed != -1 || VsDialogCallCount() == 1,
             "a failed install without \"Program wymaga nowszej wtyczki!\"");

    // Installed: both hooks in place. Otherwise: neither, not even half.
    const bool ours[2] = {VsTable(kHeaderTable)->hook != host_hooks[0],
                          VsTable(kLineTable)->hook != host_hooks[1]};
    if (started == 0 && installed == 0)
        f.Expect(ours[0] && ours[1], "installed without both hooks in place");
    else
        f.Expect(!ours[0] && !ours[1], "a hook left in place after a failed start or install");
    f.Expect(Bytes(RecordBuffer(), sizeof(DocumentHeader)) == buffer_before,
             "table 44's record buffer changed");
    f.Expect(Unreturned().empty(), "not given back: " + Unreturned());
    if (k == 0)
        f.Expect(started == 0 && installed == 0 && seen.notices == 1,
                 "the road without faults does not install with its notice");

    // Whatever the failure left, the host's stop puts its own hooks back and
    // removes the command (once the fault is spent, so the stop runs clean).
    if (k == 0 || run.reached) {
        plugin.start(nullptr, nullptr);
        f.Expect(VsTable(kHeaderTable)->hook == host_hooks[0] &&
                     VsTable(kLineTable)->hook == host_hooks[1],
                 "stop did not give the host its hooks back");
        f.Expect(VsMenuHandler(kMenuCommand) == nullptr, "command 350 still there after stop");
    }
}

enum class Choice { kConfirm, kCancel };

// Event 239 with key 806 on a WZ of the shop, the order list answered with
// the row of order (or cancelled), and for a WZ compared before the question
// answered yes.
void ComparisonRoad(const Fault& fault, int32_t order, bool compared_before, Choice choice,
                    RoadRun& run) {
    FreshHost();
    Findings& f = run.findings;
    Plugin plugin;
    if (!LoadedAndInstalled(f, plugin))
        return;
    Seed(compared_before);
    GiveFillersOddGrossValues();
    VsOpenDocument(kWz);
    VsSetHostHookResult(kLineTable, kHostHookResult);
    VsQueueAnswer(kOrdinalHostListDialog, choice == Choice::kConfirm ? kAnswerYes : kAnswerEscape,
                  order == kOrderA ? kRowOfA : kRowOfB);
    const std::vector<int32_t> documents = Documents();
    const StoreImage before = ImageOfStore(documents);
    // Where the order's header is stored: a header written to the wrong
    // position would make a search by its identifier look elsewhere.
    const int order_position = VsFindHeader(order);
    const DocumentHeader order_header_before = StoredHeader(order_position);
    // The order's lines stored, its header not: the comparison is done, and says so.
    const std::string header_unwritten =
        Filled(MessageId::kOrderHeaderNotWritten,
               {FieldText(order_header_before.number, sizeof order_header_before.number)});
    const std::string wz_before = Bytes(RecordBuffer(), sizeof(DocumentHeader));
    DocumentHeader wz_marked = *RecordBuffer();
    wz_marked.compared_marker = kComparedMarker;
    memset(wz_marked.remarks, 0, sizeof wz_marked.remarks);
    strcpy(wz_marked.remarks, RemarksOf(order).c_str());
    const int dialogs_before = VsDialogCallCount();

    const int base = VsTotalCalls();
    Arm(fault);
    const int32_t result = VsRaiseLineEvent(kKeyEditedLines);
    Measure(run, base, fault.k);

    const std::string question = Filled(MessageId::kCompareAgain, {EarlierRemarks()});
    const DialogsSeen seen = CheckDialogs(
        dialogs_before,
        [&](const VsDialogCall& call) {
            switch (call.ordinal) {
                case kOrdinalHostListDialog:
                    return call.dialog == kOrderListDialog;
                case kOrdinalHostQuestion:
                    return compared_before && Shows(call, MessageId::kCompareAgain, question);
                case kOrdinalHostMessage:
                    return Shows(call, MessageId::kComparisonDiskError) ||
                           Shows(call, MessageId::kOrderListDiskError) ||
                           Shows(call, MessageId::kOrderListAllocationError) ||
                           Shows(call, MessageId::kComparisonAllocationError) ||
                           Shows(call, MessageId::kOrderHeaderNotWritten, header_unwritten);
            }
            return false;
        },
        run);
    bool half_done = false;
    for (int i = dialogs_before; i < VsDialogCallCount(); ++i)
        half_done |= Shows(*VsDialogCallAt(i), MessageId::kOrderHeaderNotWritten, header_unwritten);

    const std::string wz_after = Bytes(RecordBuffer(), sizeof(DocumentHeader));
    const bool marked = wz_after == Bytes(wz_marked);
    f.Expect(wz_after == wz_before || marked,
             "table 44's record buffer holds neither the WZ header nor the compared WZ header");
    f.Expect(Unreturned().empty(), "not given back: " + Unreturned());

    // The event goes on to the host's hook, unless the plug-in could not open
    // its tables, which it says.
    const int host_events = HostEventsRaised(kLineTable);
    if (host_events == 0)
        f.Expect(result == 0 && seen.errors == 1, "the event ended without a message");
    else
        f.Expect(host_events == 1 && result == kHostHookResult,
                 "the host's hook did not see the event once, or its result was lost");

    const StoreImage after = ImageOfStore(documents);
    const bool nothing_done = (seen.errors > 0 && !half_done) || seen.list_dialogs == 0 ||
                              seen.list_result != kAnswerYes ||
                              (compared_before && seen.question_result != kAnswerYes);
    if (nothing_done) {
        f.Expect(after == before,
                 "a stored record changed on a road that the Parts say changes "
                 "nothing (a failure shown, or no order confirmed)");
        f.Expect(wz_after == wz_before, "the WZ header changed though no comparison was done");
    }
    if (seen.errors > 0 && !half_done)
        f.Expect(!marked, "the WZ was marked as compared after a failure was shown");
    if (half_done)
        f.Expect(marked && after.headers[order_position] == before.headers[order_position],
                 "the WZ not marked as compared, or the order's header changed, after its "
                 "header's write failed");

    // Whatever else happened: only the order and the WZ may change, each only
    // to its state before or after a complete comparison.
    for (size_t i = 0; i < after.headers.size(); ++i) {
        if (static_cast<int>(i) != order_position)
            f.Expect(after.headers[i] == before.headers[i],
                     "header " + std::to_string(i) + " changed; only the order's may");
    }
    for (int32_t document : documents) {
        if (document != order && document != kWz)
            f.Expect(after.lines.at(document) == before.lines.at(document),
                     "lines of document " + std::to_string(document) + " changed");
    }
    std::vector<std::string> wz_compared, order_compared;
    for (const DocumentItem& line : WzLinesAfterComparison())
        wz_compared.push_back(Bytes(line));
    if (order == kOrderA)
        for (const DocumentItem& line : LinesOfAAfterWz())
            order_compared.push_back(Bytes(line));
    auto lines_of = [](const StoreImage& image, int32_t document) {
        auto found = image.lines.find(document);
        return found == image.lines.end() ? std::vector<std::string>() : found->second;
    };
    const auto wz_lines = lines_of(after, kWz);
    const auto order_lines = lines_of(after, order);
    f.Expect(wz_lines == lines_of(before, kWz) || wz_lines == wz_compared,
             "the WZ's stored lines are neither as before nor as compared");
    f.Expect(order_lines == lines_of(before, order) || order_lines == order_compared,
             "the order's stored lines are neither as before nor as deducted");
    const std::string order_header = after.headers[order_position];
    const bool cleared = order_header == std::string(sizeof(DocumentHeader), '\0');
    if (order == kOrderB) {
        // B is used up: its header is cleared, but only once its lines are
        // stored deducted; a cleared header over lines still open loses them.
        f.Expect(order_header == before.headers[order_position] || cleared,
                 "the order's header is neither as before nor cleared");
        f.Expect(!cleared || order_lines == order_compared,
                 "the order's header was cleared though its lines were not stored deducted");
    } else {
        f.Expect(order_header == before.headers[order_position],
                 "the header of an order with lines left changed");
    }

    if (fault.None()) {
        f.Expect(choice == Choice::kCancel ? !marked : marked,
                 "the road without faults did not end as it should");
        if (choice == Choice::kConfirm)
            f.Expect(order_lines == order_compared && wz_lines == wz_compared &&
                         (order == kOrderA || cleared),
                     "the road without faults did not compare the WZ with the order");
        f.Expect(seen.list_dialogs == 1 && seen.errors == 0 &&
                     seen.questions == (compared_before ? 1 : 0),
                 "the road without faults showed other dialogs than expected");
    }
}

const std::string kPendingRemarks = "ZK 1/2024 zamówienie klienta"_mz.c_str();

// Command 350 confirmed with a selection list whose first qualifying entry with
// remarks is the third, then the host stores the WZ's header.
void RemarksRoad(int k, RoadRun& run) {
    FreshHost();
    Findings& f = run.findings;
    Plugin plugin;
    if (!LoadedAndInstalled(f, plugin))
        return;
    Seed();
    const DocumentHeader skipped = MakeHeader(1, 1, kCustomer, "ZK 1", "pominięty"_mz);
    const DocumentHeader empty = MakeHeader(2, 2, kCustomer, "ZK 2", "");
    const DocumentHeader chosen = MakeHeader(3, 3, kCustomer, "ZK 3", kPendingRemarks.c_str());
    const DocumentHeader later = MakeHeader(4, 4, kCustomer, "ZK 4", "później"_mz);
    VsAddSelection(1, 0, &skipped);  // its value is 0
    VsAddSelection(0, 1, &skipped);  // its flag is 0
    VsAddSelection(1, 1, &empty);
    VsAddSelection(1, 1, &chosen);
    VsAddSelection(1, 1, &later);
    VsOpenDocument(kWz);
    const std::vector<int32_t> documents = Documents();
    const StoreImage before = ImageOfStore(documents);
    const int wz_position = VsFindHeader(kWz);
    const std::string wz_before = Bytes(RecordBuffer(), sizeof(DocumentHeader));
    DocumentHeader wz_written = *RecordBuffer();
    strcpy(wz_written.remarks, kPendingRemarks.c_str());
    const int dialogs_before = VsDialogCallCount();

    const int base = VsTotalCalls();
    Arm({k, {}});
    const int32_t command_result = VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed);
    VsStoreHeader(kVsKeyCustomerHeaders);
    Measure(run, base, k);

    const DialogsSeen seen = CheckDialogs(
        dialogs_before,
        [](const VsDialogCall& call) { return Shows(call, MessageId::kRemarksDiskError); }, run);
    f.Expect(command_result == 0, "command 350 returned " + std::to_string(command_result));
    f.Expect(HostEventsRaised(kHeaderTable) == 1, "the host's hook did not see the stored header");
    f.Expect(Bytes(RecordBuffer(), sizeof(DocumentHeader)) == wz_before,
             "table 44's record buffer does not hold the WZ header as the host left it");
    f.Expect(Unreturned().empty(), "not given back: " + Unreturned());

    const StoreImage after = ImageOfStore(documents);
    for (size_t i = 0; i < after.headers.size(); ++i) {
        if (static_cast<int>(i) != wz_position)
            f.Expect(after.headers[i] == before.headers[i],
                     "header " + std::to_string(i) + " changed; only the stored WZ's may");
    }
    f.Expect(after.lines == before.lines, "a document's lines changed");
    const std::string wz_stored = after.headers[wz_position];
    f.Expect(wz_stored == before.headers[wz_position] || wz_stored == Bytes(wz_written),
             "the stored WZ header is neither as before nor with the remarks written");
    if (seen.errors > 0)
        f.Expect(wz_stored == before.headers[wz_position],
                 "remarks written though a failure was shown");
    if (k == 0)
        f.Expect(wz_stored == Bytes(wz_written) && seen.errors == 0,
                 "the road without faults did not write the remarks");
}

// The host's stop after a complete installation.
void StopRoad(int k, RoadRun& run) {
    FreshHost();
    Findings& f = run.findings;
    const TableEventHook host_hooks[2] = {VsTable(kHeaderTable)->hook, VsTable(kLineTable)->hook};
    Plugin plugin;
    if (!LoadedAndInstalled(f, plugin))
        return;
    const int dialogs_before = VsDialogCallCount();
    char text[64];
    memset(text, 'x', sizeof text);

    const int base = VsTotalCalls();
    Arm({k, {}});
    const int32_t result = plugin.start(nullptr, text);
    Measure(run, base, k);

    f.Expect(result == 0, "stop returned " + std::to_string(result));
    f.Expect(std::string(text, sizeof text) == std::string(sizeof text, 'x'),
             "stop wrote into the text buffer");
    CheckDialogs(
        dialogs_before, [](const VsDialogCall&) { return false; }, run);
    f.Expect(
        VsTable(kHeaderTable)->hook == host_hooks[0] && VsTable(kLineTable)->hook == host_hooks[1],
        "stop did not give the host its hooks back");
    f.Expect(VsMenuHandler(kMenuCommand) == nullptr, "command 350 still there after stop");
    f.Expect(Unreturned().empty(), "not given back: " + Unreturned());
}

const std::map<std::string, std::function<void(int, RoadRun&)>>& Roads() {
    static const std::map<std::string, std::function<void(int, RoadRun&)>> roads = {
        {"start-install", StartInstallRoad},
        {"compare",
         [](int k, RoadRun& run) {
             ComparisonRoad({k, {}}, kOrderA, false, Choice::kConfirm, run);
         }},
        {"compare-again",
         [](int k, RoadRun& run) {
             ComparisonRoad({k, {}}, kOrderB, true, Choice::kConfirm, run);
         }},
        {"cancel",
         [](int k, RoadRun& run) {
             ComparisonRoad({k, {}}, kOrderA, false, Choice::kCancel, run);
         }},
        {"remarks", RemarksRoad},
        {"stop", StopRoad},
    };
    return roads;
}

// ------------------------------------------------------------------ host variations
// Every behaviour that the host interface leaves open, as the stand-in can
// vary it, and the state of the host's process that the plug-in must neither
// depend on nor change: its floating-point settings and locale, the thread it
// calls from, a dialog it leaves by a long jump, the folder the plug-in lies
// in, a library freed without the stop call. A road run under a variation
// must end as under the stand-in's own choices; where a variation has to
// change what is seen, the comparison below says how.
struct Variation {
    const char* name;
    VsVariation settings;
    GuestPlace place = {};
};

using test_host::With;

const Variation kVariations[] = {
// Each switch of the stand-in alone, at the value and under the name that
// VS_VARIATION_SWITCHES gives it; then every interface switch at once.
#define ROAD_SWITCH(field, kind, value, name) {name, With(&VsVariation::field, value)},
    VS_VARIATION_SWITCHES(ROAD_SWITCH)
#undef ROAD_SWITCH
        {"all-at-once", kVsEveryInterfaceVariation},
    // Other values of the switches.
    {"results-zero", With(&VsVariation::open_results, kVsResultZero)},
    {"results-one", With(&VsVariation::open_results, kVsResultOne)},
    {"results-count", With(&VsVariation::open_results, kVsResultCount)},
    // Unmasked, the shop's signalling NaN in a header ends a plug-in that
    // computes under the host's settings.
    {"fpu-exceptions-unmasked",
     [] {
         VsVariation v = With(&VsVariation::x87_control, 0x1332);
         v.mxcsr = 0x1900;
         return v;
     }()},
    {"fpu-masked-53-bit", With(&VsVariation::x87_control, 0x027F)},
    {"locale-german", With(&VsVariation::locale, kVsLocaleGerman)},
    // The guest's place.
    {"called-from-another-thread", {}, {.other_thread = true}},
    {"folder-with-polish-letters", {}, {.folder = L"Zażółć gęślą jaźń"}},
    {"path-near-the-limit", {}, {.folder = L"quendrix-long", .path_length = 259}},
    {"path-beyond-the-diagnostics",
     {},
     {.folder = L"quendrix-longer", .path_length = 320, .diagnostics_fit = false}},
    {"freed-without-stop", {}, {.folder = L"quendrix-freed"}},
    // The plug-in's life in the host's process before the road: started,
    // installed and stopped; started and installed (the road's start is a
    // second without a stop); stopped, unloaded and loaded again.
    {"started-and-stopped-before", {}, {.before = GuestPlace::Before::kStartedAndStopped}},
    {"started-before-without-a-stop", {}, {.before = GuestPlace::Before::kStarted}},
    {"unloaded-and-loaded-again", {}, {.before = GuestPlace::Before::kUnloadedAndLoaded}},
};

// Hosts under which a road ends otherwise than under the stand-in's own
// choices, by design, each only recorded and replayed (the round trip): a
// "Pytaj" whose 16 bits are 0, and the older hosts of tests/frame/ (the
// entries their libraries lack) with each button of the missing-entry
// dialog, Retry once before Ignore.
const std::vector<int32_t> kOlderHostLacks = {kOrdinalHostFindRange,    kOrdinalHostFreeRange,
                                              kOrdinalHostMessage,      kOrdinalHostShowText,
                                              kOrdinalHostProfileValue, kOrdinalHostOpenTable};
const std::vector<int32_t> kOldestHostLacks = {kOrdinalHostFindRange, kOrdinalHostShowText,
                                               kOrdinalHostConvertText};
const Variation kRoundTripOnly[] = {
    {"setting-pytaj-65536", {}, {.ask = "65536"}},
    // A journal the plug-in cannot open (the install says so), and one it
    // may not use: its own settings file.
    {"journal-in-no-folder", {}, {.journal_file = "no such folder\\journal.csv"}},
    {"journal-into-the-settings", {}, {.journal_file = "Quendrix.ini"}},
    {"older-host-abort", {}, {.missing = kOlderHostLacks, .buttons = {IDABORT}}},
    {"older-host-ignore", {}, {.missing = kOlderHostLacks, .buttons = {IDIGNORE}}},
    {"older-host-retry-ignore", {}, {.missing = kOlderHostLacks, .buttons = {IDRETRY, IDIGNORE}}},
    {"oldest-host-abort", {}, {.missing = kOldestHostLacks, .buttons = {IDABORT}}},
    {"oldest-host-ignore", {}, {.missing = kOldestHostLacks, .buttons = {IDIGNORE}}},
    {"oldest-host-retry-ignore", {}, {.missing = kOldestHostLacks, .buttons = {IDRETRY, IDIGNORE}}},
};

std::string Hash(const std::string& bytes) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : bytes)
        hash = (hash ^ c) * 1099511628211ull;
    char text[20];
    snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// What a road left for the host and the user to see, one fact a line: the
// stored records as ImageOfStore sees them, table 44's record buffer, every
// dialog with its exact texts, the events that reached the host's hooks, and
// what was not given back. Every row a list dialog asked for is a "row" line,
// an empty text too.
std::vector<std::string> Outcome() {
    std::vector<std::string> lines;
    const auto add = [&](const std::string& line) { lines.push_back(line); };
    const StoreImage image = ImageOfStore(Documents());
    for (size_t i = 0; i < image.headers.size(); ++i)
        add("header " + std::to_string(i) + " " + Hash(image.headers[i]));
    for (const auto& [document, document_lines] : image.lines) {
        std::string all;
        for (const std::string& line : document_lines)
            all += line;
        add("lines " + std::to_string(document) + " " + Hash(all));
    }
    add("buffer " + Hash(Bytes(RecordBuffer(), sizeof(DocumentHeader))));
    for (int i = 0; i < VsDialogCallCount(); ++i) {
        const VsDialogCall& call = *VsDialogCallAt(i);
        add("dialog " + Describe(call) + " dialog " + std::to_string(call.dialog) + " rows " +
            std::to_string(call.rows) + " result " + std::to_string(call.result));
        for (int row = 0; row < call.rows && call.row_texts != nullptr; ++row)
            if (call.row_texts[row] != nullptr)
                add("row " + std::to_string(i) + " " + std::to_string(row) + " \"" +
                    Printable(call.row_texts[row]) + "\"");
    }
    add("odd row texts " + std::to_string(VsOddRowTexts()));
    for (int32_t table : {kHeaderTable, kLineTable})
        add("events " + std::to_string(table) + " " + std::to_string(HostEventsRaised(table)));
    add("not given back \"" + Unreturned() + "\"");
    add("process state changed " + std::to_string(VsProcessStateViolations()));
    return lines;
}

// ------------------------------------------------------------------ the runs

// The host's process as the test program keeps it: a variation sets the
// floating-point unit and the C runtime's locale for the host, and the next
// run must find them as the program had them.
class ProcessState {
  public:
    ProcessState() : locale_(setlocale(LC_ALL, nullptr)) { fegetenv(&environment_); }
    ~ProcessState() {
        fesetenv(&environment_);
        setlocale(LC_ALL, locale_.c_str());
    }

  private:
    std::string locale_;
    fenv_t environment_;
};

// What one run of a road found, and what it left.
struct Played {
    RoadRun run;
    std::vector<std::string> outcome;  // with a variation
};

// One run of a road, with the plug-in loaded for it and unloaded after; with
// the k-th host call failing (none for 0), under a variation or none; with a
// recording path, the plug-in records its trace there.
Played Play(const std::string& road, int k, const Variation* variation = nullptr,
            const char* recording = nullptr) {
    // Should the run end the process, the output names it.
    printf("road %s, host call %d failing, variation %s\n", road.c_str(), k,
           variation != nullptr ? variation->name : "none");
    fflush(stdout);
    const ProcessState program;
    UseVariation(variation != nullptr ? variation->settings : VsVariation{});
    GuestPlace place = variation != nullptr ? variation->place : GuestPlace{};
    if (recording != nullptr && place.folder == nullptr)
        place.folder = L"quendrix-recording";
    place.recording = recording;
    Played played;
    const std::string wrong = PlayAsGuest(place, [&] { Roads().at(road)(k, played.run); });
    played.run.findings.Expect(wrong.empty(), wrong);
    if (variation != nullptr)
        played.outcome = Outcome();
    UseVariation(VsVariation{});
    return played;
}

// The host calls whose failure a road shows the user, in one message: what
// the call was for is then undone, not done or (a header written back after
// its lines) half done, and the user would act if told.
const std::map<std::string, std::set<int32_t>> kFailuresShown = {
    {"compare",
     {kOrdinalHostOpenTable, kOrdinalHostFindRange, kOrdinalHostReadAt, kOrdinalHostLoadLines,
      kOrdinalHostRealloc, kOrdinalHostWriteAt}},
    {"compare-again",
     {kOrdinalHostOpenTable, kOrdinalHostFindRange, kOrdinalHostReadAt, kOrdinalHostLoadLines,
      kOrdinalHostRealloc, kOrdinalHostWriteAt}},
    {"remarks",
     {kOrdinalHostOpenTable, kOrdinalHostFindRange, kOrdinalHostBeginUpdate, kOrdinalHostReadAt,
      kOrdinalHostWriteAt}},
};

void RunEveryFault(const std::string& road) {
    const Played clean = Play(road, 0);
    ASSERT_TRUE(clean.run.findings.Clean()) << "without faults:\n" << clean.run.findings.Text();
    const int calls = clean.run.calls;
    ASSERT_GT(calls, 0);
    for (int k = 1; k <= calls + 1; ++k) {
        const Played played = Play(road, k);
        EXPECT_TRUE(played.run.findings.Clean())
            << road << ", host call " << k << " of " << calls << " failing:\n"
            << played.run.findings.Text();
        const auto shown = kFailuresShown.find(road);
        if (shown != kFailuresShown.end() && shown->second.count(played.run.failed) > 0) {
            EXPECT_EQ(played.run.errors, 1) << road << ", host call " << k << " (operation "
                                            << played.run.failed << ") failing, not shown";
        }
        // The road takes no more calls than without faults, so the run past
        // its last call reaches no fault: every failure point was tried.
        if (k == calls + 1) {
            EXPECT_FALSE(played.run.reached);
        }
    }
    ::testing::Test::RecordProperty("host_calls", calls);
}

bool IsRow(const std::string& line) {
    return line.rfind("row ", 0) == 0;
}

// Runs the road without faults on the stand-in as it is and under every
// variation, and compares what each left behind.
void RunEveryVariation(const std::string& road) {
    static const Variation none = {"none", {}};
    const Played plain = Play(road, 0, &none);
    ASSERT_TRUE(plain.run.findings.Clean()) << plain.run.findings.Text();
    const std::vector<std::string>& expected = plain.outcome;
    ASSERT_FALSE(expected.empty());
    for (const Variation& variation : kVariations) {
        SCOPED_TRACE(variation.name);
        const Played played = Play(road, 0, &variation);
        EXPECT_TRUE(played.run.findings.Clean()) << played.run.findings.Text();
        std::vector<std::string> seen = played.outcome;
        std::vector<std::string> wanted = expected;
        if (variation.settings.list_rows == kVsRowsShownOnly) {
            // The one difference allowed: a list that asks only for the rows
            // it shows has only those texts; each must be the row it is,
            // however and how often it was asked.
            for (const std::string& line : seen) {
                if (IsRow(line)) {
                    EXPECT_NE(std::find(expected.begin(), expected.end(), line), expected.end())
                        << "a row that differs: " << line;
                }
            }
            std::erase_if(seen, IsRow);
            std::erase_if(wanted, IsRow);
        }
        EXPECT_EQ(seen, wanted);
    }
}

// ------------------------------------------------------------------ the round trip
// A road recorded on the stand-in replays identical (replaydriver/, a program
// of its own: its host is a VELDAN.dll of its own).

const Variation kNoVariation = {"none", {}};

// The road without faults, recorded under the variation; the recording's path.
// Unchecked, the road's own findings do not count.
std::string Recorded(const std::string& road, const Variation& variation, bool checked = true) {
    static int made = 0;
    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    const std::string path = directory + std::string("quendrix-round-trip-") +
                             std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++made) +
                             ".txt";
    const Played played = Play(road, 0, &variation, path.c_str());
    EXPECT_TRUE(!checked || played.run.findings.Clean()) << variation.name << ":\n"
                                                         << played.run.findings.Text();
    return path;
}

test_host::ChildResult Replayed(const std::vector<std::string>& arguments) {
    return test_host::RunProgram(test_host::BesideProgram("replay\\quendrix_replay.exe"),
                                 arguments);
}

// Under no variation and under each in the table where the trace can be
// written, recorded and replayed against the same plug-in.
void RunRoundTrip(const std::string& road) {
    std::vector<std::string> recordings = {Recorded(road, kNoVariation)};
    for (const Variation& variation : kVariations)
        if (variation.place.diagnostics_fit)
            recordings.push_back(Recorded(road, variation));
    for (const Variation& variation : kRoundTripOnly)
        recordings.push_back(Recorded(road, variation, false));
    const test_host::ChildResult replayed = Replayed(recordings);
    EXPECT_EQ(replayed.exit_code, 0u) << replayed.output;
    for (const std::string& recording : recordings)
        DeleteFileA(recording.c_str());
}

}  // namespace

TEST(RoundTrip, DeliberateFaultIsNamedAtTheCallWhereItFirstShows) {
    // The test build marks the WZ line delivered over the order one unit too
    // high: the first call where it shows hands the marked text to the host.
    const std::string recording = Recorded("compare", kNoVariation);
    const std::string trace = test_host::ReadBytes(recording);
    const size_t marked = trace.find("\"!1 ", trace.find("HostCopyText #52161 (dest="));
    ASSERT_NE(marked, std::string::npos);
    const std::string call = trace.substr(trace.rfind('\n', marked) + 1, 6);
    const test_host::ChildResult replayed = Replayed(
        {"--plugin", test_host::BesideProgram("deliberate-fault\\Quendrix.dll"), recording});
    EXPECT_EQ(replayed.exit_code, 1u) << replayed.output;
    const size_t named =
        replayed.output.find("divergence at call " + call + " HostCopyText #52161");
    EXPECT_NE(replayed.output.find("argument 1 (src), the bytes handed over there:", named),
              std::string::npos)
        << "expected at call " << call << ":\n"
        << replayed.output;
    DeleteFileA(recording.c_str());
}

int RunChild(const std::vector<std::string>&) {
    return 2;  // this program starts no children
}

}  // namespace reliability

namespace reliability {
namespace {

int ErrorsShown(MessageId id) {
    int shown = 0;
    for (int i = 0; i < VsDialogCallCount(); ++i)
        shown += Shows(*VsDialogCallAt(i), id) ? 1 : 0;
    return shown;
}

// Two failures that the road runs above found, as cases of their own that do
// not depend on where in a road a call falls.
TEST(FailedHostCall, HeaderReadFailsWhileTheBufferStillHoldsTheOrder) {
    // The order list's scan leaves order A, the last header, in the buffer;
    // the comparison's first read fails. Taking the stale buffer for the
    // header at position 0 would write A's header over another document.
    RoadRun run;
    ComparisonRoad({0, [] { VsFailCall(kOrdinalHostReadAt, 1); }}, kOrderA, false, Choice::kConfirm,
                   run);
    EXPECT_TRUE(run.findings.Clean()) << run.findings.Text();
    EXPECT_EQ(ErrorsShown(MessageId::kComparisonDiskError), 1);
    EXPECT_EQ(StoredHeader(0).document_id, kOtherOrder);
    EXPECT_NE(RecordBuffer()->compared_marker, kComparedMarker);
}

TEST(FailedHostCall, ReadOfTheOrderItselfFails) {
    // Without its header the order would seem missing, which is no failure:
    // the WZ would be marked as compared with nothing deducted.
    RoadRun run;
    // Reads go through positions 0, 1, ... up to the order's.
    ComparisonRoad({0, [] { VsFailCall(kOrdinalHostReadAt, VsFindHeader(kOrderA) + 1); }}, kOrderA,
                   false, Choice::kConfirm, run);
    EXPECT_TRUE(run.findings.Clean()) << run.findings.Text();
    EXPECT_EQ(ErrorsShown(MessageId::kComparisonDiskError), 1);
    EXPECT_NE(RecordBuffer()->compared_marker, kComparedMarker);
}

TEST(FailedHostCall, UsedUpOrderIsClearedWhateverTheSaveReturns) {
    // A host whose save returns the lines it kept returns 0 exactly for an
    // order delivered in full: the order must be cleared all the same, or it
    // stays on the list for ever. (The WZ's lines are saved first.)
    RoadRun run;
    ComparisonRoad({0, [] { VsFailCall(kOrdinalHostSaveLines, 2); }}, kOrderB, true,
                   Choice::kConfirm, run);
    EXPECT_TRUE(run.findings.Clean()) << run.findings.Text();
    EXPECT_EQ(VsFindHeader(kOrderB), -1) << "the used-up order's header was not cleared";
    EXPECT_TRUE(StoredLines(kOrderB).empty());
}

TEST(FailedHostCall, LoadOfTheOrderLinesFailsHalfWay) {
    // The load hands out its second value and then fails: the comparison
    // stops with its message and gives that value back.
    RoadRun run;
    ComparisonRoad({0, [] { VsFailCall(kOrdinalHostLoadLines, 1); }}, kOrderA, false,
                   Choice::kConfirm, run);
    EXPECT_TRUE(run.findings.Clean()) << run.findings.Text();
    EXPECT_EQ(ErrorsShown(MessageId::kComparisonDiskError), 1);
    EXPECT_EQ(Unreturned(), "");
}

// Two choices the variations above leave to a host, as cases of their own.
// The host's own line hook as a host may have it: it brings the current
// header up to date with the customer of the stored lines.
int32_t HOST_STDCALL CustomerRefreshingHook(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                            uint32_t, uint32_t, uint32_t, uint32_t, uint32_t,
                                            uint32_t) {
    RecordBuffer()->customer = kCustomer;
    return 0;
}

TEST(HostVariation, CustomerIsTakenFromTheHeaderAsTheSaveLeftIt) {
    // Storing the WZ's lines raises the line event, which the host's hook
    // handles by bringing the current header up to date: the order list is
    // that of the customer the header then holds.
    UseVariation(With(&VsVariation::nested_events, 1));
    FreshHost();
    VsTable(kLineTable)->hook = CustomerRefreshingHook;
    Findings f;
    Plugin plugin;
    ASSERT_TRUE(LoadedAndInstalled(f, plugin)) << f.Text();
    Seed();
    VsOpenDocument(kWz);
    RecordBuffer()->customer = kOtherCustomer;  // not the stored header's customer
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerEscape, 0);
    VsRaiseLineEvent(kKeyEditedLines);
    ASSERT_EQ(VsDialogCallCount(), 1);
    EXPECT_EQ(VsDialogCallAt(0)->rows, kFillers + 2) << "the orders of the stored WZ's customer";
}

// Command 350 has left remarks to write, and the host raises event 17152 when
// the comparison writes the order's header back. Runs the comparison with the
// order at row (confirmed) and returns the number of events 17152 raised.
int CompareWithRemarksPending(int row) {
    UseVariation(With(&VsVariation::nested_events, 1));
    FreshHost();
    Findings f;
    Plugin plugin;
    EXPECT_TRUE(LoadedAndInstalled(f, plugin)) << f.Text();
    Seed();
    const DocumentHeader selected = MakeHeader(1, 1, kCustomer, "ZK 3", kPendingRemarks.c_str());
    VsAddSelection(1, 1, &selected);
    VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed);
    VsOpenDocument(kWz);
    VsQueueAnswer(kOrdinalHostListDialog, kAnswerYes, row);
    VsRaiseLineEvent(kKeyEditedLines);
    EXPECT_EQ(HostEventsRaised(kLineTable), 1);
    EXPECT_EQ(Unreturned(), "");
    return VsNestedEvents(kHeaderTable);
}

TEST(HostVariation, HeaderWrittenByTheComparisonTakesPendingRemarks) {
    // The order's header is a header stored like any other and takes the
    // remarks; the event raised again while they are written is passed on.
    EXPECT_EQ(CompareWithRemarksPending(kRowOfA), 2);
    const DocumentHeader order = StoredHeader(VsFindHeader(kOrderA));
    EXPECT_EQ(FieldText(order.remarks, sizeof order.remarks), kPendingRemarks);
    EXPECT_EQ(FieldText(RecordBuffer()->remarks, sizeof RecordBuffer()->remarks),
              RemarksOf(kOrderA))
        << "the WZ takes the order's remarks as they were before the write";
}

TEST(HostVariation, ClearedHeaderOfAUsedUpOrderTakesNoRemarks) {
    // A cleared record is no document: writing the remarks into a record
    // that matches its identifiers of 0 would put them into a cleared one.
    EXPECT_EQ(CompareWithRemarksPending(kRowOfB), 1);
    const std::string cleared(sizeof(DocumentHeader), '\0');
    for (int i = 0; i < VsHeaderCount(); ++i) {
        const DocumentHeader header = StoredHeader(i);
        if (header.document_id == 0 && header.second_id == 0) {
            EXPECT_EQ(Bytes(header), cleared) << "header " << i;
        }
    }
}

}  // namespace
}  // namespace reliability

using reliability::RunEveryFault;

TEST(FaultInjection, StartAndInstall) {
    RunEveryFault("start-install");
}

TEST(FaultInjection, ComparisonWithAConfirmedOrder) {
    RunEveryFault("compare");
}

TEST(FaultInjection, RepeatedComparisonThatUsesTheOrderUp) {
    RunEveryFault("compare-again");
}

TEST(FaultInjection, ComparisonCancelledInTheOrderList) {
    RunEveryFault("cancel");
}

TEST(FaultInjection, Command350ThenASavedHeader) {
    RunEveryFault("remarks");
}

TEST(FaultInjection, Stop) {
    RunEveryFault("stop");
}

TEST(HostVariation, StartAndInstall) {
    reliability::RunEveryVariation("start-install");
}

TEST(HostVariation, ComparisonWithAConfirmedOrder) {
    reliability::RunEveryVariation("compare");
}

TEST(HostVariation, RepeatedComparisonThatUsesTheOrderUp) {
    reliability::RunEveryVariation("compare-again");
}

TEST(HostVariation, ComparisonCancelledInTheOrderList) {
    reliability::RunEveryVariation("cancel");
}

TEST(HostVariation, Command350ThenASavedHeader) {
    reliability::RunEveryVariation("remarks");
}

TEST(HostVariation, Stop) {
    reliability::RunEveryVariation("stop");
}

TEST(RoundTrip, StartAndInstall) {
    reliability::RunRoundTrip("start-install");
}

TEST(RoundTrip, ComparisonWithAConfirmedOrder) {
    reliability::RunRoundTrip("compare");
}

TEST(RoundTrip, RepeatedComparisonThatUsesTheOrderUp) {
    reliability::RunRoundTrip("compare-again");
}

TEST(RoundTrip, ComparisonCancelledInTheOrderList) {
    reliability::RunRoundTrip("cancel");
}

TEST(RoundTrip, Command350ThenASavedHeader) {
    reliability::RunRoundTrip("remarks");
}

TEST(RoundTrip, Stop) {
    reliability::RunRoundTrip("stop");
}
