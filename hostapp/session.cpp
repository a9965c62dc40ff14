#include "hostapp/session.h"

#include <cstdlib>
#include <cstring>

#include "documentfile/problems.h"
#include "documentfile/standin_store.h"
#include "hostapp/documents.h"
#include "hostapp/narration.h"
#include "hostapp/responder.h"
#include "hostapp/story.h"
#include "hostapp/system.h"
#include "standin/veldan_control.h"

namespace hostapp {
namespace {

using document_file::Quote;

constexpr const char* kProgram = "veldan_host";
constexpr const char* kSampleFile = "sample-shop.json";
constexpr const char* kPluginFile = "Quendrix.dll";
// The host's buffer for the plug-in's description: more than the 61 bytes
// the plug-in needs, and terminated by the host whatever it receives.
constexpr size_t kFeatureBufferSize = 128;

int Fail(int code, const std::string& message) {
    Err(std::string(kProgram) + ": " + message + "\n");
    return code;
}

bool ParseNumber(const std::string& text, long low, long high, int& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    const long number = strtol(text.c_str(), &end, 10);
    if (*end != 0 || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

// The host's own hooks, remembered before the plug-in is loaded, so the
// story can say whether the plug-in's hooks sit in the slots.
struct HostHooks {
    TableEventHook header = nullptr, line = nullptr;
};

bool PluginHooked(const HostHooks& own) {
    return VsTable(kHeaderTable)->hook != own.header && VsTable(kLineTable)->hook != own.line;
}

bool HostHooksBack(const HostHooks& own) {
    return VsTable(kHeaderTable)->hook == own.header && VsTable(kLineTable)->hook == own.line;
}

void ShowFeatureText(const char* text) {
    Say("Opis wtyczki przekazany programowi:");
    for (const Line& line : LayoutHostText(FieldBytes(text, kFeatureBufferSize)))
        Say(line, 2 * kIndent);
}

void StopAndUnload(PluginModule& plugin, const HostHooks& own) {
    const int32_t stopped = plugin.start(nullptr, nullptr);
    Say("Wejście 30001 z pustym kontekstem (zatrzymanie): wynik " + std::to_string(stopped) + ".");
    Say(std::string(HostHooksBack(own) ? "Haki tabel 44 i 45 przywrócone"
                                       : "Haki tabel 44 i 45 NIE zostały przywrócone") +
        (VsMenuHandler(kMenuCommand) ? ", polecenie 350 wciąż w menu."
                                     : ", polecenia 350 nie ma w menu."));
    UnloadPlugin(plugin);
    Say("Biblioteka wtyczki zwolniona.");
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// The sample's story: the comparisons, the first WZ again, the remarks.
void PlayStory(const Plan& plan, int& section) {
    if (plan.comparisons.empty()) {
        Heading(std::to_string(section++) + ". Porównanie WZ z zamówieniem");
        Say("W pliku nie ma dokumentu WZ, który dałoby się porównać z zamówieniem.");
    }
    for (const Plan::Comparison& comparison : plan.comparisons)
        CompareStep(section++, comparison);
    if (plan.repeat >= 0)
        RepeatStep(section++, plan.repeat);
    if (plan.remarks_source >= 0) {
        RemarksStep(section++, plan.remarks_source, plan.remarks_target);
    } else {
        Heading(std::to_string(section++) + ". Numer zamówienia zamiast symbolu (polecenie 350)");
        Say("W pliku nie ma zamówienia z uwagami i dokumentu WZ tego samego odbiorcy.");
    }
}

}  // namespace

std::string Usage() {
    return "Użycie: veldan_host [opcje]\n"
           "Program zastępczy VELDAN z wtyczką Quendrix.dll: ładuje wtyczkę tak jak program,\n"
           "otwiera dokumenty i pokazuje okna wtyczki w terminalu.\n"
           "\n"
           "  --data PLIK              plik dokumentów (JSON, UTF-8); zapisywany tylko po\n"
           "                           krokach, menu albo pokazie, które coś zmieniły. Bez tej\n"
           "                           opcji: dołączony sklep przykładowy, nigdy zapisywany.\n"
           "                           Bez kroków, menu i pokazu: tylko lista dokumentów.\n"
           "  --interactive            menu: lista dokumentów, Ctrl+9 na WZ, polecenie 350,\n"
           "                           zapis nagłówka; zamówienie i odpowiedzi wybiera\n"
           "                           użytkownik (stdin); koniec wejścia – bez zapisu\n"
           "  --story                  pokaz przykładowy bez udziału użytkownika (make demo)\n"
           "\n"
           "Kroki bez udziału użytkownika, wykonywane w podanej kolejności:\n"
           "  --wz NUMER --order NUMER Ctrl+9 na tym WZ i to zamówienie wybrane z listy\n"
           "                           (--order - zamyka listę klawiszem Esc); pytanie\n"
           "                           o ponowne porównanie dostaje odpowiedź Tak\n"
           "  --command-350 NUMER      ten dokument zaznaczony na liście, polecenie 350\n"
           "  --save NUMER             ten dokument otwarty i zapisany (zdarzenie 17152)\n"
           "Po krokach plik jest zapisywany; gdy krok się nie uda, nie jest.\n"
           "\n"
           "  --plugin ŚCIEŻKA         biblioteka wtyczki (domyślnie Quendrix.dll obok programu)\n"
           "  --profile PLIK           plik ustawień programu (domyślnie veldan.ini obok "
           "VELDAN.dll)\n"
           "  --interface-version N    wersja interfejsu, którą program podaje wtyczce\n"
           "  --record-size TABELA=N   rozmiar rekordu tabeli 44 albo 45, który podaje program\n"
           "  -h, --help               ten opis\n"
           "\n"
           "Kody wyjścia: 0 gotowe, 1 błędne wywołanie, 2 plik danych, 3 biblioteka wtyczki,\n"
           "4 wtyczka nie została załadowana, 5 pliku danych nie da się zapisać, 6 koniec\n"
           "wejścia w menu (bez zapisu), 7 krok się nie udał (bez zapisu).\n";
}

bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= arguments.size()) {
                error = "opcja " + option + " wymaga wartości";
                return false;
            }
            out = arguments[++i];
            return true;
        };
        std::string text;
        if (option == "--help" || option == "-h") {
            options.help = true;
        } else if (option == "--interactive") {
            options.interactive = true;
        } else if (option == "--story") {
            options.story = true;
        } else if (option == "--wz") {
            Step step;
            if (!value(step.number))
                return false;
            if (i + 2 >= arguments.size() || arguments[i + 1] != "--order") {
                error = "po --wz " + step.number + " potrzebne jest --order NUMER (albo --order -)";
                return false;
            }
            ++i;
            step.order = arguments[++i];
            options.steps.push_back(step);
        } else if (option == "--order") {
            error = "--order tylko zaraz po --wz NUMER";
            return false;
        } else if (option == "--command-350" || option == "--save") {
            Step step;
            step.kind = option == "--save" ? Step::Kind::kSave : Step::Kind::kCommand350;
            if (!value(step.number))
                return false;
            options.steps.push_back(step);
        } else if (option == "--data") {
            if (!value(options.data))
                return false;
        } else if (option == "--plugin") {
            if (!value(options.plugin))
                return false;
        } else if (option == "--profile") {
            if (!value(options.profile))
                return false;
        } else if (option == "--interface-version") {
            if (!value(text))
                return false;
            if (!ParseNumber(text, 1, 0x7FFFFFFF, options.interface_version)) {
                error = "--interface-version: liczba dodatnia, nie " + Quote(text);
                return false;
            }
        } else if (option == "--record-size") {
            if (!value(text))
                return false;
            const size_t equals = text.find('=');
            int table = 0, size = 0;
            if (equals == std::string::npos ||
                !ParseNumber(text.substr(0, equals), 44, 45, table) ||
                !ParseNumber(text.substr(equals + 1), 0, 32767, size)) {
                error = "--record-size: TABELA=ROZMIAR, tabela 44 albo 45, nie " + Quote(text);
                return false;
            }
            options.record_sizes.emplace_back(table, size);
        } else {
            error = "nieznana opcja " + Quote(option);
            return false;
        }
    }
    if (options.interactive + options.story + !options.steps.empty() > 1) {
        error =
            "--interactive, --story i kroki --wz, --command-350, --save wykluczają się "
            "nawzajem";
        return false;
    }
    return true;
}

int RunHost(const Options& options) {
    // ---------------------------------------------------------------- data
    const bool own_file = !options.data.empty();
    const std::string data = own_file ? options.data : ExeDirectory() + kSampleFile;
    if (IsDirectory(data))
        return Fail(kExitDataFile, Quote(data) + " to katalog, nie plik danych");
    if (!FileExists(data))
        return Fail(kExitDataFile, own_file ? "nie ma pliku danych " + Quote(data)
                                            : "nie ma dołączonych danych przykładowych " +
                                                  Quote(data) + " (zbuduj projekt)");
    document_file::DocumentFile file;
    std::vector<document_file::Problem> reasons;
    if (!document_file::LoadDocumentFile(data, file, reasons)) {
        if (reasons.size() == 1 && reasons[0].kind == document_file::Fault::kCannotOpen)
            return Fail(kExitDataFile, "nie da się odczytać pliku danych " + Quote(data));
        return Fail(kExitDataFile, "błąd w pliku danych " + Quote(data) +
                                       " – nic nie zostało uruchomione ani zapisane:\n  " +
                                       ReplaceAll(document_file::Describe(reasons), "\n", "\n  "));
    }
    VsReset();
    document_file::PutDocuments(file.documents);
    if (!options.interactive && !options.story && options.steps.empty()) {
        // Nothing asked for: the documents are shown, nothing runs or changes.
        Say(Cells("Plik danych: " + data +
                      " (dokumentów: " + std::to_string(file.documents.headers.size()) + ")",
                  kBold),
            0);
        ListDocuments();
        Say("Nic nie zostało uruchomione ani zapisane. --interactive otwiera menu, --wz/--order, "
            "--command-350 i --save wykonują kroki (--help).",
            0);
        return kExitDone;
    }
    const bool save = own_file;
    std::string problems;
    if (!CheckSteps(options.steps, problems))
        return Fail(kExitUsage, "kroki nie pasują do pliku danych " + Quote(data) +
                                    " – nic nie zostało uruchomione ani zapisane:\n  " +
                                    ReplaceAll(problems, "\n", "\n  "));
    // Before the session, so that no work is lost to a file that cannot be saved.
    if (save && !CanReplace(data, problems))
        return Fail(kExitNotSaved, "pliku danych " + Quote(data) + " nie da się zapisać: " +
                                       problems + "; nic nie zostało uruchomione");
    if (!options.profile.empty())
        VsSetProfilePath(SystemPath(options.profile).c_str());
    if (options.interface_version != 0)
        VsSetInterfaceVersion(options.interface_version);
    for (const auto& [table, size] : options.record_sizes)
        VsSetRecordSize(table, static_cast<int16_t>(size));
    SetInteractive(options.interactive);
    VsSetDialogHandler(&AnswerDialog);

    const Snapshot start = TakeSnapshot();
    const Plan plan = MakePlan(start);

    // ---------------------------------------------------------------- plug-in
    const std::string path = options.plugin.empty() ? ExeDirectory() + kPluginFile : options.plugin;
    const HostHooks own{VsTable(kHeaderTable)->hook, VsTable(kLineTable)->hook};
    PluginModule plugin;
    std::string detail;
    if (LoadPlugin(path, plugin, detail) != LoadError::kNone)
        return Fail(kExitPluginModule, "biblioteka wtyczki: " + detail);

    Say(Cells("Quendrix w programie zastępczym VELDAN", kBold), 0);
    Say("Plik danych: " + data + " (dokumentów: " + std::to_string(start.headers.size()) + ")" +
            (options.interactive ? ", menu i odpowiedzi użytkownika z wejścia." : "."),
        0);

    Heading("1. Uruchomienie wtyczki");
    Say("Wtyczka: " + path);
    char feature[kFeatureBufferSize] = {};
    int context = 0;  // the host's context; the plug-in only tests it for null
    const int32_t started = plugin.start(&context, feature);
    feature[kFeatureBufferSize - 1] = 0;
    Say("Wejście 30001 (start): wynik " + std::to_string(started) + ".");
    ShowFeatureText(feature);
    if (started != 0) {
        Say("Wtyczka nie może pracować z tym programem. Wejście 30008 z flagą 1 – wyjaśnienie:");
        plugin.install(1);
        StopAndUnload(plugin, own);
        return Fail(kExitRefused, "wtyczka " + Quote(path) +
                                      " nie została załadowana (odmowa przy starcie); "
                                      "nic nie zostało zapisane");
    }
    Say("Wejście 30008 (instalacja):");
    const int32_t installed = plugin.install(0);
    if (installed != 0) {
        Say("Wynik " + std::to_string(installed) + ": wtyczka się nie zainstalowała.");
        StopAndUnload(plugin, own);
        return Fail(kExitRefused, "wtyczka " + Quote(path) +
                                      " nie dała się zainstalować; nic nie zostało zapisane");
    }
    Say("Wynik 0. " +
        std::string(PluginHooked(own) ? "Haki wtyczki na tabelach 44 i 45"
                                      : "Haków wtyczki brak na tabelach 44 i 45") +
        (VsMenuHandler(kMenuCommand) ? ", polecenie 350 w menu." : ", polecenia 350 brak w menu."));

    // ---------------------------------------------------------------- work
    int section = 2;
    bool keep = true;  // whether the file is saved at the end
    int code = kExitDone;
    if (options.interactive) {
        const MenuEnd end = RunMenu(section);
        keep = end == MenuEnd::kSave;
        code = end == MenuEnd::kInputEnded ? kExitCancelled : kExitDone;
    } else if (!options.steps.empty()) {
        keep = RunSteps(options.steps, section);
        code = keep ? kExitDone : kExitStepFailed;
    } else {
        PlayStory(plan, section);
    }

    // ---------------------------------------------------------------- stop
    Heading(std::to_string(section) + ". Zatrzymanie wtyczki");
    StopAndUnload(plugin, own);
    VsSetDialogHandler(nullptr);
    if (code == kExitStepFailed)
        return Fail(code, "krok się nie udał: plik danych nie został zapisany");
    if (!keep) {
        Say(Cells("Plik danych nie został zapisany.", kBold));
        return code;
    }
    if (!save) {
        Say("Dane przykładowe nie są zapisywane (z opcją --data PLIK wynik trafia do pliku).");
        return kExitDone;
    }
    const document_file::DocumentSet now = TakeSnapshot();
    if (document_file::SameDocuments(now, file.documents)) {
        Say("Żaden dokument się nie zmienił: plik danych zostaje, jaki był.");
        return kExitDone;
    }
    document_file::Problem problem;
    if (!document_file::SaveDocumentFile(data, now, &file, problem))
        return Fail(kExitNotSaved, "nie udało się zapisać pliku danych " + Quote(data) + ": " +
                                       document_file::Describe(problem));
    Say("Zapisano plik danych: " + data);
    return kExitDone;
}

}  // namespace hostapp
