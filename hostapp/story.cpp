#include "hostapp/story.h"

#include <cstring>
#include <set>

#include "documentfile/problems.h"
#include "hostapp/narration.h"
#include "hostapp/responder.h"
#include "hostapp/text_cells.h"
#include "standin/veldan_control.h"

namespace hostapp {
namespace {

// The bundled sample shop's story: a WZ with every kind of delivery (in
// full, in part, too much, not ordered) against its order, then a WZ that
// uses its order up, the first WZ again, and the remarks of an order carried
// into another WZ of the same customer.
struct SampleComparison {
    const char* wz;
    const char* order;
};
constexpr SampleComparison kSampleComparisons[] = {
    {"WZ/2/2026", "ZK/2/2026"},
    {"WZ/5/2026", "ZK/8/2026"},
};
constexpr const char* kSampleRemarksSource = "ZK/6/2026";
constexpr const char* kSampleRemarksTarget = "WZ/4/2026";

constexpr size_t kTextWidth = 28;
constexpr size_t kQuantityWidth = 8;
constexpr size_t kSideWidth = kTextWidth + 1 + kQuantityWidth;

bool HasOrders(const Snapshot& snapshot, int16_t customer) {
    for (const DocumentHeader& header : snapshot.headers)
        if (IsOrder(header) && header.customer == customer)
            return true;
    return false;
}

// A WZ worth comparing: not compared yet, with articles, and its customer
// has orders on offer.
bool Comparable(const Snapshot& snapshot, int position) {
    if (position < 0)
        return false;
    const DocumentHeader& header = snapshot.headers[position];
    return IsIssueNote(header) && header.compared_marker != kComparedMarker &&
           HasArticle(LinesOf(snapshot, header.document_id)) &&
           HasOrders(snapshot, header.customer);
}

// The order of the WZ's customer that carries most of the WZ's articles.
std::string BestOrder(const Snapshot& snapshot, int wz) {
    const DocumentHeader& note = snapshot.headers[wz];
    const std::vector<DocumentItem>& lines = LinesOf(snapshot, note.document_id);
    std::string best;
    int best_shared = -1;
    for (const DocumentHeader& header : snapshot.headers) {
        if (!IsOrder(header) || header.customer != note.customer)
            continue;
        const int shared = SharedArticles(lines, LinesOf(snapshot, header.document_id));
        if (shared > best_shared) {
            best_shared = shared;
            best = Number(header);
        }
    }
    return best;
}

std::string Quoted(const std::string& text) {
    return text.empty() ? "(puste)" : document_file::Quote(text);
}

Line Side(const std::string& text, const std::string& quantity, bool text_changed,
          bool quantity_changed) {
    Line side = Fit(Cells(text, text_changed ? kBold : kPlain), kTextWidth);
    side.push_back(Cell{});
    Append(side, FitRight(Cells(quantity, quantity_changed ? kBold : kPlain), kQuantityWidth));
    return side;
}

void SideBySide(const Line& left, const Line& right) {
    Line row = Fit(left, kSideWidth);
    Append(row, " │ ");
    Append(row, right);
    Say(row);
}

void ShowOrderHeader(const DocumentHeader& before, const DocumentHeader& after) {
    if (VsCleared(after)) {
        Say(Cells("Nagłówek zamówienia wyczyszczony: nie zostało na nim nic do wydania,", kBold));
        Say(Cells("więc lista zamówień już go nie pokaże.", kBold));
        return;
    }
    if (before.gross_value != after.gross_value)
        Say("Wartość zamówienia: " + Money(before.gross_value) + " → " + Money(after.gross_value));
    if (!SameHeader(before, after) && before.gross_value == after.gross_value)
        Say("Nagłówek zamówienia zmieniony.");
}

bool HasMarker(const std::vector<DocumentItem>& before, const std::vector<DocumentItem>& after) {
    for (size_t i = 0; i < before.size() && i < after.size(); ++i)
        if (LineText(before[i]) != LineText(after[i]))
            return true;
    return false;
}

void ShowIssueNoteHeader(const DocumentHeader& before, const DocumentHeader& after) {
    if (before.compared_marker != after.compared_marker)
        Say("Znacznik porównania: " + std::to_string(before.compared_marker) + " → " +
            std::to_string(after.compared_marker));
    if (Remarks(before) != Remarks(after))
        Say("Uwagi: " + Quoted(Remarks(before)) + " → " + Quoted(Remarks(after)));
}

// Whether the document at position i differs between the snapshots.
bool Changed(const Snapshot& before, const Snapshot& after, size_t i) {
    const int32_t id = before.headers[i].document_id;
    return !SameHeader(before.headers[i], after.headers[i]) ||
           !SameLines(LinesOf(before, id), LinesOf(after, id));
}

// Shows every document that differs between the snapshots: first the others
// (the order), then the one the step worked on.
void ShowChanges(const Snapshot& before, const Snapshot& after, int focus) {
    bool any = false;
    const size_t count = std::min(before.headers.size(), after.headers.size());
    auto changed = [&](size_t i) { return Changed(before, after, i); };
    for (size_t i = 0; i < count; ++i) {
        if (static_cast<int>(i) == focus || !changed(i))
            continue;
        any = true;
        const DocumentHeader& header = before.headers[i];
        const int32_t id = header.document_id;
        Blank();
        Say(Cells((IsOrder(header) ? "Zamówienie " : "Dokument ") + Number(header) +
                      " – pozycje przed i po:",
                  kBold));
        ShowLineChanges(LinesOf(before, id), LinesOf(after, id), true);
        if (IsOrder(header))
            ShowOrderHeader(header, after.headers[i]);
        else
            ShowIssueNoteHeader(header, after.headers[i]);
    }
    if (focus >= 0 && static_cast<size_t>(focus) < count && changed(focus)) {
        any = true;
        const DocumentHeader& header = before.headers[focus];
        const int32_t id = header.document_id;
        const std::vector<DocumentItem>& lines_before = LinesOf(before, id);
        const std::vector<DocumentItem>& lines_after = LinesOf(after, id);
        Blank();
        if (!SameLines(lines_before, lines_after)) {
            Say(Cells(Number(header) + " – pozycje przed i po:", kBold));
            ShowLineChanges(lines_before, lines_after, false);
            if (HasMarker(lines_before, lines_after))
                Say("(„? ” – towaru nie ma na zamówieniu, „!n ” – n ponad zamówienie)");
        } else {
            Say(Cells("Pozycje " + Number(header) + " bez zmian.", kBold));
        }
        if (!SameHeader(header, after.headers[focus])) {
            Say(Cells(Number(header) + " – nagłówek:", kBold));
            ShowIssueNoteHeader(header, after.headers[focus]);
        }
    }
    if (!any) {
        Blank();
        Say("Żaden dokument się nie zmienił.");
    }
}

// What Ctrl+9 came to, before the WZ is saved (a save may give it remarks
// of command 350): the documents as stored, and the WZ's header as the
// plug-in left it in the record buffer.
struct Compared {
    Snapshot stored;
    DocumentHeader wz;
};

// Whether Ctrl+9 came to what the step asked, whichever dialogs the plug-in
// showed on the way: with no order, nothing compared (no order changed, the
// WZ's lines and header as they were); with one, the WZ compared with it
// (marked, with that order's remarks, no other order changed).
bool CameTo(const Snapshot& before, const Compared& compared, int wz, const std::string& order) {
    const DocumentHeader& note = before.headers[wz];
    const size_t count = std::min(before.headers.size(), compared.stored.headers.size());
    const int chosen = order.empty() ? -1 : FindNumber(before, order);
    for (size_t i = 0; i < count; ++i)
        if (static_cast<int>(i) != chosen && IsOrder(before.headers[i]) &&
            Changed(before, compared.stored, i))
            return false;
    if (order.empty())
        return SameHeader(note, compared.wz) &&
               SameLines(LinesOf(before, note.document_id),
                         LinesOf(compared.stored, note.document_id));
    return chosen >= 0 && compared.wz.compared_marker == kComparedMarker &&
           Remarks(compared.wz) == Remarks(before.headers[chosen]);
}

bool OpenDocument(const DocumentHeader& header) {
    if (VsOpenDocument(header.document_id) == 1)
        return true;
    Say("Dokumentu " + Number(header) + " nie da się otworzyć.");
    return false;
}

// Ctrl+9 in the WZ's line editor, then the WZ saved, as the user would;
// what Ctrl+9 came to.
Compared CompareAndSave(const DocumentHeader& wz) {
    Say("Ctrl+9: zdarzenie 239 z kluczem 806 na tabeli pozycji (45).");
    VsRaiseLineEvent(static_cast<uint16_t>(kKeyEditedLines));
    Compared compared{TakeSnapshot(), {}};
    memcpy(&compared.wz, VsTable(kHeaderTable)->record, sizeof compared.wz);
    Say("Zapis dokumentu " + Number(wz) + ": zdarzenie 17152 na tabeli nagłówków (44).");
    VsStoreHeader(kVsKeyCustomerHeaders);
    return compared;
}

}  // namespace

Plan MakePlan(const Snapshot& snapshot) {
    Plan plan;
    std::set<int> used;
    for (const SampleComparison& sample : kSampleComparisons) {
        const int wz = FindNumber(snapshot, sample.wz);
        if (!Comparable(snapshot, wz))
            continue;
        const int order = FindNumber(snapshot, sample.order);
        const bool fits = order >= 0 && IsOrder(snapshot.headers[order]) &&
                          snapshot.headers[order].customer == snapshot.headers[wz].customer;
        plan.comparisons.push_back({wz, fits ? sample.order : BestOrder(snapshot, wz)});
        used.insert(wz);
    }
    const size_t wanted = std::size(kSampleComparisons);
    for (size_t i = 0; i < snapshot.headers.size() && plan.comparisons.size() < wanted; ++i) {
        const int wz = static_cast<int>(i);
        if (!used.count(wz) && Comparable(snapshot, wz)) {
            plan.comparisons.push_back({wz, BestOrder(snapshot, wz)});
            used.insert(wz);
        }
    }
    if (!plan.comparisons.empty())
        plan.repeat = plan.comparisons.front().wz;

    std::set<std::string> chosen_orders;
    for (const Plan::Comparison& comparison : plan.comparisons)
        chosen_orders.insert(comparison.order_number);
    auto usable_source = [&](int position) {
        return position >= 0 && IsOrder(snapshot.headers[position]) &&
               !Remarks(snapshot.headers[position]).empty() &&
               !chosen_orders.count(Number(snapshot.headers[position]));
    };
    auto usable_target = [&](int position, int source) {
        return position >= 0 && IsIssueNote(snapshot.headers[position]) &&
               snapshot.headers[position].customer == snapshot.headers[source].customer;
    };
    const int source = FindNumber(snapshot, kSampleRemarksSource);
    const int target = FindNumber(snapshot, kSampleRemarksTarget);
    if (usable_source(source) && usable_target(target, source)) {
        plan.remarks_source = source;
        plan.remarks_target = target;
        return plan;
    }
    // Otherwise the first order with remarks whose customer has a WZ, the one
    // not compared above preferred.
    for (int pass = 0; pass < 2 && plan.remarks_source < 0; ++pass)
        for (size_t s = 0; s < snapshot.headers.size() && plan.remarks_source < 0; ++s) {
            if (!usable_source(static_cast<int>(s)))
                continue;
            for (size_t t = 0; t < snapshot.headers.size(); ++t)
                if (usable_target(static_cast<int>(t), static_cast<int>(s)) &&
                    (pass == 1 || !used.count(static_cast<int>(t)))) {
                    plan.remarks_source = static_cast<int>(s);
                    plan.remarks_target = static_cast<int>(t);
                    break;
                }
        }
    return plan;
}

bool CompareStep(int section, const Plan::Comparison& comparison, std::string* why) {
    const Snapshot before = TakeSnapshot();
    const DocumentHeader& wz = before.headers[comparison.wz];
    Heading(std::to_string(section) + ". " + Number(wz) +
            (wz.compared_marker == kComparedMarker ? " jeszcze raz (Ctrl+9)"
                                                   : ": porównanie z zamówieniem (Ctrl+9)"));
    Say("Otwarty dokument " + Number(wz) + ", odbiorca nr " + std::to_string(wz.customer) +
        ", uwagi: " + Quoted(Remarks(wz)) + ".");
    if (!OpenDocument(wz)) {
        if (why != nullptr)
            *why = "dokumentu " + Number(wz) + " nie da się otworzyć";
        return false;
    }
    ClearScript();
    ScriptQuestion(true);
    if (comparison.order_number.empty())
        ScriptList({ListChoice::kEscape, ""});
    else
        ScriptList({ListChoice::kDocument, comparison.order_number});
    const Compared compared = CompareAndSave(wz);
    ShowChanges(before, TakeSnapshot(), comparison.wz);
    if (CameTo(before, compared, comparison.wz, comparison.order_number))
        return true;
    if (why != nullptr) {
        const ListOutcome& list = LastListOutcome();
        if (comparison.order_number.empty())
            *why = Number(wz) + " został porównany, choć lista zamówień miała być zamknięta (Esc)";
        else if (list.shown && !list.confirmed)
            *why =
                "zamówienia " + comparison.order_number + " nie było na liście – krok niewykonany";
        else
            *why = Number(wz) + " nie został porównany z zamówieniem " + comparison.order_number +
                   " – krok niewykonany";
    }
    return false;
}

void RepeatStep(int section, int position) {
    const Snapshot before = TakeSnapshot();
    const DocumentHeader& wz = before.headers[position];
    Heading(std::to_string(section) + ". " + Number(wz) + " jeszcze raz");
    if (wz.compared_marker == kComparedMarker)
        Say("Dokument ma znacznik porównania 2000, więc wtyczka najpierw pyta.");
    if (!OpenDocument(wz))
        return;
    ClearScript();
    ScriptQuestion(true);
    ScriptList({ListChoice::kEscape, ""});
    CompareAndSave(wz);
    ShowChanges(before, TakeSnapshot(), position);
}

void SelectAndRun350(const DocumentHeader& source) {
    DocumentHeader selected = source;
    Say("Zaznaczony na liście dokument: " + Number(source) + ", uwagi: " + Quoted(Remarks(source)) +
        ".");
    VsClearSelection();
    VsAddSelection(1, selected.document_id, &selected);
    Say("Polecenie menu 350, zatwierdzone (wynik 20481, faza 2).");
    if (VsRunMenuCommand(kMenuCommand, static_cast<uint16_t>(kAnswerYes), kMenuPhaseConfirmed) ==
        -1)
        Say("Polecenia 350 nie ma w menu.");
}

void RemarksStep(int section, int source_position, int target_position) {
    const Snapshot before = TakeSnapshot();
    const DocumentHeader& target = before.headers[target_position];
    Heading(std::to_string(section) + ". Numer zamówienia zamiast symbolu (polecenie 350)");
    SelectAndRun350(before.headers[source_position]);
    Say("Otwarcie i zapis dokumentu " + Number(target) +
        ": zdarzenie 17152 na tabeli nagłówków (44).");
    if (OpenDocument(target))
        VsStoreHeader(kVsKeyCustomerHeaders);
    VsClearSelection();
    ShowChanges(before, TakeSnapshot(), target_position);
}

void Command350Step(int section, int source_position) {
    const Snapshot before = TakeSnapshot();
    Heading(std::to_string(section) + ". Numer zamówienia zamiast symbolu (polecenie 350)");
    ClearScript();
    SelectAndRun350(before.headers[source_position]);
    VsClearSelection();
    Say("Uwagi zaznaczonego dokumentu trafią do każdego nagłówka zapisanego od teraz.");
}

void SaveStep(int section, int position) {
    const Snapshot before = TakeSnapshot();
    const DocumentHeader& header = before.headers[position];
    Heading(std::to_string(section) + ". " + Number(header) + ": zapis nagłówka");
    ClearScript();
    Say("Otwarcie i zapis dokumentu " + Number(header) +
        ": zdarzenie 17152 na tabeli nagłówków (44).");
    if (OpenDocument(header))
        VsStoreHeader(kVsKeyCustomerHeaders);
    ShowChanges(before, TakeSnapshot(), position);
}

void ShowLineChanges(const std::vector<DocumentItem>& before,
                     const std::vector<DocumentItem>& after, bool order) {
    SideBySide(Cells("Przed", kBold), Cells("Po", kBold));
    // The order's lines are stored without the ones the comparison cleared,
    // in their old order; a WZ keeps every line in place.
    size_t j = 0;
    for (const DocumentItem& line : before) {
        const std::string text = LineText(line);
        const Line left = Side(text, Quantity(line.quantity), false, false);
        bool paired = j < after.size();
        if (paired && order)
            paired =
                VsCleared(after[j]) || (SameArticle(line, after[j]) && LineText(after[j]) == text);
        if (!paired) {
            SideBySide(left, Cells("(usunięta: wydana w całości)", kBold));
            continue;
        }
        const DocumentItem& now = after[j++];
        if (VsCleared(now)) {
            SideBySide(left, Cells("(wyczyszczona: wydana w całości)", kBold));
            continue;
        }
        const std::string now_text = LineText(now);
        SideBySide(left, Side(now_text, Quantity(now.quantity), now_text != text,
                              now.quantity != line.quantity));
    }
    for (; j < after.size(); ++j)
        SideBySide(Line{}, Side(LineText(after[j]), Quantity(after[j].quantity), true, true));
}

}  // namespace hostapp
