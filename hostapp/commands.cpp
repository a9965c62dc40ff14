#include "hostapp/commands.h"

#include <cstdlib>

#include "documentfile/problems.h"
#include "hostapp/documents.h"
#include "hostapp/narration.h"
#include "hostapp/responder.h"
#include "hostapp/story.h"
#include "hostapp/system.h"
#include "hostapp/text_cells.h"

namespace hostapp {
namespace {

using document_file::Quote;

constexpr const char* kOrderKind = "ZK";
constexpr const char* kIssueNoteKind = "WZ";

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The document a reply names: its position in the list (1-based) or its
// number, letters of either case. -1 when none.
int FindDocument(const Snapshot& snapshot, const std::string& reply) {
    char* end = nullptr;
    const long position = strtol(reply.c_str(), &end, 10);
    if (!reply.empty() && *end == 0)
        return position >= 1 && position <= static_cast<long>(snapshot.headers.size()) &&
                       !VsCleared(snapshot.headers[position - 1])
                   ? static_cast<int>(position - 1)
                   : -1;
    for (size_t i = 0; i < snapshot.headers.size(); ++i)
        if (!VsCleared(snapshot.headers[i]) && Lower(Number(snapshot.headers[i])) == Lower(reply))
            return static_cast<int>(i);
    return -1;
}

}  // namespace

void ListDocuments() {
    const Snapshot snapshot = TakeSnapshot();
    Say(Cells("Poz. Rodzaj Numer             Odbiorca  Wartość Wiersze Uwagi", kBold));
    for (size_t i = 0; i < snapshot.headers.size(); ++i) {
        const DocumentHeader& header = snapshot.headers[i];
        char position[16];
        snprintf(position, sizeof position, "%4zu ", i + 1);
        Line row = Cells(position);
        if (VsCleared(header)) {
            Append(row, "(nagłówek wyczyszczony: zamówienie wydane w całości)");
            Say(row);
            continue;
        }
        Append(row, Fit(Cells(Kind(header)), 7));
        Append(row, Fit(Cells(Number(header)), 18));
        Append(row, FitRight(Cells(std::to_string(header.customer)), 8));
        Append(row, FitRight(Cells(Money(header.gross_value)), 9));
        Append(row,
               FitRight(Cells(std::to_string(LinesOf(snapshot, header.document_id).size())), 8));
        Append(row, " ");
        Append(row, header.compared_marker == kComparedMarker ? "[porównany] " : "");
        Append(row, Remarks(header));
        Say(Fit(row, kStoryWidth - kIndent));
    }
}

namespace {

// Asks for a document of the kind wanted (empty: any); -1 for Enter, -2 at the
// end of the input.
int AskDocument(const std::string& what, const char* kind) {
    std::string reply;
    for (;;) {
        if (!Prompt(what + " – numer albo pozycja z listy (Enter: wróć): ", reply))
            return -2;
        if (reply.empty())
            return -1;
        const Snapshot snapshot = TakeSnapshot();
        const int found = FindDocument(snapshot, reply);
        if (found < 0)
            Say("Nie ma dokumentu " + Quote(reply) + " (1 – lista dokumentów).");
        else if (kind && Kind(snapshot.headers[found]) != kind)
            Say(Number(snapshot.headers[found]) + " to nie jest dokument " + kind + ".");
        else
            return found;
    }
}

// A step that did not come out as asked, on standard error.
void StepFailed(const std::string& what) {
    Err("veldan_host: " + what + "\n");
}

// The whole menu the first time, then a reminder line.
void ShowMenu(bool whole) {
    Blank();
    if (!whole) {
        Say("Menu: 1 lista  2 Ctrl+9 na WZ  3 polecenie 350  4 zapis nagłówka");
        Say("      5 zapisz i zakończ  6 zakończ bez zapisywania");
        return;
    }
    Say(Cells("Menu", kBold));
    Say("1 lista dokumentów");
    Say("2 otwórz WZ i naciśnij Ctrl+9 (porównanie z zamówieniem)");
    Say("3 zaznacz dokument i uruchom polecenie 350 (numer zamówienia zamiast symbolu)");
    Say("4 otwórz dokument i zapisz jego nagłówek");
    Say("5 zapisz plik i zakończ");
    Say("6 zakończ bez zapisywania");
}

}  // namespace

bool CheckSteps(const std::vector<Step>& steps, std::string& problems) {
    const Snapshot snapshot = TakeSnapshot();
    problems.clear();
    auto problem = [&](const std::string& option, const std::string& number,
                       const std::string& what) {
        problems += (problems.empty() ? "" : "\n") + option + " " + number + ": " + what;
    };
    for (const Step& step : steps) {
        const int found = FindNumber(snapshot, step.number);
        const std::string option = step.kind == Step::Kind::kCompare      ? "--wz"
                                   : step.kind == Step::Kind::kCommand350 ? "--command-350"
                                                                          : "--save";
        if (found < 0) {
            problem(option, step.number, "w pliku nie ma dokumentu o tym numerze");
            continue;
        }
        const DocumentHeader& header = snapshot.headers[found];
        if (step.kind != Step::Kind::kCompare)
            continue;
        if (Kind(header) != kIssueNoteKind) {
            problem(option, step.number, "to nie jest dokument WZ");
            continue;
        }
        if (step.order == "-")
            continue;
        const int order = FindNumber(snapshot, step.order);
        if (order < 0)
            problem("--order", step.order, "w pliku nie ma dokumentu o tym numerze");
        else if (Kind(snapshot.headers[order]) != kOrderKind)
            problem("--order", step.order, "to nie jest zamówienie (ZK)");
        else if (snapshot.headers[order].customer != header.customer)
            problem("--order", step.order,
                    "zamówienie odbiorcy nr " + std::to_string(snapshot.headers[order].customer) +
                        ", a " + step.number + " odbiorcy nr " + std::to_string(header.customer));
    }
    return problems.empty();
}

bool RunSteps(const std::vector<Step>& steps, int& section) {
    bool all = true;
    for (const Step& step : steps) {
        const Snapshot snapshot = TakeSnapshot();
        const int found = FindNumber(snapshot, step.number);
        if (found < 0) {
            Heading(std::to_string(section++) + ". " + step.number);
            StepFailed("dokumentu " + step.number +
                       " już nie ma (jego nagłówek został wyczyszczony)");
            all = false;
            continue;
        }
        switch (step.kind) {
            case Step::Kind::kCompare: {
                const std::string order = step.order == "-" ? "" : step.order;
                std::string why;
                if (!CompareStep(section++, {found, order}, &why)) {
                    StepFailed(why);
                    all = false;
                }
                break;
            }
            case Step::Kind::kCommand350:
                Command350Step(section++, found);
                break;
            case Step::Kind::kSave:
                SaveStep(section++, found);
                break;
        }
    }
    return all;
}

MenuEnd RunMenu(int& section) {
    for (bool first = true;; first = false) {
        ShowMenu(first);
        std::string reply;
        if (!Prompt("Wybór [1–6]: ", reply)) {
            Say("Koniec wejścia: koniec pracy bez zapisywania pliku.");
            return MenuEnd::kInputEnded;
        }
        if (reply == "1") {
            Heading(std::to_string(section++) + ". Dokumenty w pliku");
            ListDocuments();
        } else if (reply == "2" || reply == "3" || reply == "4") {
            const int found = AskDocument(reply == "2"   ? "Dokument WZ"
                                          : reply == "3" ? "Zaznaczony dokument"
                                                         : "Dokument do zapisania",
                                          reply == "2" ? kIssueNoteKind : nullptr);
            if (found == -2) {
                Say("Koniec wejścia: koniec pracy bez zapisywania pliku.");
                return MenuEnd::kInputEnded;
            }
            if (found < 0)
                continue;
            if (reply == "2")
                CompareStep(section++, {found, ""});
            else if (reply == "3")
                Command350Step(section++, found);
            else
                SaveStep(section++, found);
        } else if (reply == "5") {
            return MenuEnd::kSave;
        } else if (reply == "6") {
            return MenuEnd::kQuit;
        } else {
            Say("Podaj numer od 1 do 6.");
        }
    }
}

}  // namespace hostapp
