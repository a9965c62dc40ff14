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

// In English, as the README is; the windows and the narration stay in Polish,
// as the host shows them.
std::string Usage() {
    return "Usage: tools/veldan-host.sh [options]\n"
           "The stand-in VELDAN host program with the plug-in Quendrix.dll: loads the\n"
           "plug-in as the program does, opens a document file and shows the plug-in's\n"
           "windows in the terminal, in Polish as the program shows them (README.md\n"
           "explains the narration's lines).\n"
           "\n"
           "  --data FILE              the document file (JSON, UTF-8), saved only after\n"
           "                           steps, a menu or the story that changed a document.\n"
           "                           Without it: the bundled sample shop, never saved.\n"
           "                           Without steps, menu or story: the documents listed.\n"
           "  --interactive            a menu: the list, Ctrl+9 on a WZ, command 350,\n"
           "                           saving a header; orders and answers are chosen on\n"
           "                           standard input, one line each. The first line\n"
           "                           answers the install notice, unless a session has\n"
           "                           switched it off in the settings file (--profile).\n"
           "                           The end of the input quits without saving.\n"
           "  --story                  the sample story, unattended (make demo)\n"
           "\n"
           "Steps, unattended, run in the order given:\n"
           "  --wz NUMBER --order NUMBER\n"
           "                           Ctrl+9 on this WZ and this order chosen in the list\n"
           "                           (--order - leaves the list with Esc); the question\n"
           "                           before comparing again is answered yes\n"
           "  --command-350 NUMBER     this document selected in the list, command 350\n"
           "  --save NUMBER            this document opened and saved (event 17152)\n"
           "After the steps the file is saved; after a step that failed, it is not.\n"
           "\n"
           "  --session FOLDER         the plug-in runs from FOLDER (made if missing),\n"
           "                           copied there from beside the program at each start:\n"
           "                           its Quendrix.ini goes there, and a trace or journal\n"
           "                           named without a folder lands there; so does the\n"
           "                           program's settings file, veldan.ini\n"
           "  --plugin PATH            the plug-in library (default: Quendrix.dll beside\n"
           "                           the program)\n"
           "  --profile FILE           the program's settings file (default: veldan.ini\n"
           "                           beside VELDAN.dll, or in the --session folder)\n"
           "  --interface-version N    the interface version the program gives the plug-in\n"
           "  --record-size TABLE=N    the record size of table 44 or 45 the program gives\n"
           "  -h, --help               this text\n"
           "\n"
           "Exit codes:\n"
           "  0  done\n"
           "  1  a wrong command line, or steps that do not fit the file; nothing ran\n"
           "  2  the document file is missing, unreadable or wrong; nothing ran\n"
           "  3  the plug-in library is missing, cannot be loaded or copied, or is\n"
           "     not a plug-in\n"
           "  4  the plug-in refused to run with this program (its STOP!!! shown)\n"
           "  5  the document file cannot be saved; found before the session, or the\n"
           "     save failed\n"
           "  6  the input ended in the menu; nothing saved\n"
           "  7  a step did not come out as asked; nothing saved\n"
           "  8  the session ended without the program finishing, its Wine processes\n"
           "     ended from outside (said by tools/veldan-host.sh); nothing saved\n"
           "  9  the program crashed (standard error says where); nothing saved\n"
           "Messages about the file and the steps go to standard error, in Polish.\n";
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
        } else if (option == "--session") {
            if (!value(options.session))
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
    if (!options.session.empty() && !options.plugin.empty()) {
        error = "--session i --plugin wykluczają się nawzajem";
        return false;
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
            "--command-350 i --save wykonują kroki (tools/veldan-host.sh --help).",
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
    // A session's own folder: the plug-in runs from there, as a copy of the
    // one beside the program made now, so that it is the build's latest.
    std::string path = options.plugin.empty() ? ExeDirectory() + kPluginFile : options.plugin;
    std::string profile = options.profile;
    if (!options.session.empty()) {
        const std::string& folder = options.session;
        const bool unix_style =
            folder.find('/') != std::string::npos && folder.find('\\') == std::string::npos;
        const std::string inside = folder.back() == '/' || folder.back() == '\\'
                                       ? folder
                                       : folder + (unix_style ? "/" : "\\");
        std::string reason;
        if (!CopyIntoFolder(path, inside, reason))
            return Fail(kExitPluginModule, "biblioteka wtyczki: nie da się jej skopiować do " +
                                               Quote(folder) + ": " + reason +
                                               "; nic nie zostało uruchomione");
        path = inside + kPluginFile;
        if (profile.empty())
            profile = inside + "veldan.ini";
    }
    if (!profile.empty())
        VsSetProfilePath(SystemPath(profile).c_str());
    if (options.interface_version != 0)
        VsSetInterfaceVersion(options.interface_version);
    for (const auto& [table, size] : options.record_sizes)
        VsSetRecordSize(table, static_cast<int16_t>(size));
    SetInteractive(options.interactive);
    VsSetDialogHandler(&AnswerDialog);

    const Snapshot start = TakeSnapshot();
    const Plan plan = MakePlan(start);

    // ---------------------------------------------------------------- plug-in
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
