// The field diagnostics as the host meets them: Quendrix.dll copied into a
// folder of the test's own beside its settings file, the call trace of the
// Ctrl+9 road against the stand-in's record of the host calls, the journal of
// two comparisons against the stored changes, and every road's outcome with
// the diagnostics off, on, and on with files that cannot be written.
#include <cstring>
#include <map>
#include <regex>
#include <sstream>

#include "frame/version.h"
#include "plugin_host.h"
#include "tests/support/child_process.h"

namespace {

using plugin_texts::Names;

using shop::kCustomer;
using shop::kOtherOrder;
using shop::kWz;
constexpr int32_t kOrder = shop::kOrderA;
constexpr int32_t kSecondWz = 210;
constexpr int32_t kThirdWz = 220;
constexpr int32_t kRemarksDocument = 400;

// The order; a WZ that reduces its first line, clears the second with one
// unit too many and brings an article the order lacks; a second WZ that uses
// the rest up and brings articles whose names a spreadsheet would take for
// formulas; a WZ of the other customer that uses that order up and returns
// part of it; a document that command 350 gives remarks.
void SeedShop() {
    shop::SeedOrderAndWz(shop::RemarksOf(kOrder));
    AddHeader(MakeHeader(kSecondWz, 0, kCustomer, "WZ 6/2024", ""));
    AddLine(kSecondWz, MakeLine("Śruby M6"_mz, 3000, 1, 1));
    AddLine(kSecondWz, MakeLine("Podkładki"_mz, 2000, 4, 1));
    int16_t article = 5;
    for (const char* formula : {"=1+2", "+48", "-5", "@A1"})
        AddLine(kSecondWz, MakeLine(formula, 1500, article++, 1));
    AddHeader(MakeHeader(kThirdWz, 0, shop::kOtherCustomer, "WZ 7/2024", ""));
    AddLine(kThirdWz, MakeLine("Śruby M6"_mz, 9000, 1, 1));
    AddLine(kThirdWz, MakeLine("Śruby M6"_mz, -2000, 1, 1));
    AddHeader(MakeHeader(kRemarksDocument, 13, 9, "FV 1/2024", ""));
}

// Everything a run of the roads leaves that the host can see.
struct Outcome {
    std::vector<int32_t> host_calls;  // ordinals, in order
    std::vector<std::string> dialogs;
    std::vector<std::string> store;
    bool operator==(const Outcome&) const = default;
};

Outcome Observe() {
    Outcome outcome;
    for (int i = 0; i < VsTotalCalls(); ++i)
        outcome.host_calls.push_back(VsCallAt(i)->ordinal);
    for (int i = 0; i < VsDialogCallCount(); ++i) {
        const VsDialogCall& call = *VsDialogCallAt(i);
        std::string dialog = std::to_string(call.ordinal) + "|" + Text(call.caption) + "|" +
                             Text(call.text) + "|" + std::to_string(call.result);
        for (int row = 0; row < call.rows && call.row_texts != nullptr; ++row)
            dialog += "|" + Text(call.row_texts[row]);
        outcome.dialogs.push_back(dialog);
    }
    for (int position = 0; position < VsHeaderCount(); ++position) {
        const DocumentHeader header = StoredHeader(position);
        outcome.store.push_back(RecordBytes(&header, sizeof header));
    }
    for (int32_t id : {kOrder, kOtherOrder, kWz, kSecondWz, kRemarksDocument})
        for (const DocumentItem& line : StoredLines(id))
            outcome.store.push_back(RecordBytes(&line, sizeof line));
    return outcome;
}

std::wstring Wide(const std::string& utf8) {
    std::wstring wide(utf8.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, utf8.data(),
                                                        static_cast<int>(utf8.size()), wide.data(),
                                                        static_cast<int>(wide.size()))));
    return wide;
}

// UTF-8 as Windows-1250, the journal's encoding.
std::string Windows1250(const std::string& utf8) {
    const std::wstring wide = Wide(utf8);
    std::string out(wide.size() * 2, '\0');
    out.resize(static_cast<size_t>(
        WideCharToMultiByte(1250, 0, wide.data(), static_cast<int>(wide.size()), out.data(),
                            static_cast<int>(out.size()), nullptr, nullptr)));
    return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at) + "<no CRLF>");
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

class Diagnostics : public ::testing::Test {
  protected:
    void SetUp() override { folder_ = test_host::MakeTemporaryFolder(); }

    void TearDown() override {
        for (auto& [name, plugin] : plugins_)
            if (plugin.module != nullptr)
                FreeLibrary(plugin.module);
        for (auto& [name, plugin] : plugins_)
            test_host::RemoveFolder(folder_ + name + "\\");
        test_host::RemoveFolder(folder_);
    }

    std::string Folder(const std::string& name) const { return folder_ + name + "\\"; }

    // A copy of the plug-in in a folder of its own, with the settings file
    // given ("": none); the stand-in reset, seeded, its settings file there.
    const test_host::Plugin& Load(const std::string& name, const std::string& settings) {
        const std::string folder = Folder(name);
        CreateDirectoryA(folder.c_str(), nullptr);
        if (!settings.empty())
            test_host::WriteBytes(folder + "Quendrix.ini", settings);
        test_host::Plugin& plugin = plugins_[name];
        plugin = test_host::LoadPluginCopy(folder);
        EXPECT_NE(plugin.module, nullptr) << name;
        VsReset();
        VsSetProfilePath((folder + "veldan.ini").c_str());
        SeedShop();
        return plugin;
    }

    static std::string BothOn(const std::string& trace, const std::string& journal) {
        return "[Trace]\r\nEnabled=1\r\nFile=" + trace +
               "\r\n[Journal]\r\nEnabled=1\r\nFile=" + journal + "\r\n";
    }

    // Start and install; the two comparisons (Ctrl+9 on each WZ); command
    // 350 and a stored header; idle; stop.
    static void RunRoads(const test_host::Plugin& plugin, bool all = true) {
        std::string why;
        ASSERT_TRUE(test_host::StartAndInstall(plugin, why)) << why;
        ASSERT_EQ(VsOpenDocument(kWz), 1);
        VsRaiseLineEvent(kKeyEditedLines);
        if (all) {
            ASSERT_EQ(VsOpenDocument(kSecondWz), 1);
            VsRaiseLineEvent(kKeyEditedLines);
            DocumentHeader selected = MakeHeader(90, 91, 9, "ZK 90/2024", "ZAM/77/2024 pilne");
            VsAddSelection(1, 1, &selected);
            EXPECT_EQ(VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed), 0);
            ASSERT_EQ(VsOpenDocument(kRemarksDocument), 1);
            VsStoreHeader(kVsKeyCustomerHeaders);
            EXPECT_EQ(plugin.idle(), 0);
        }
        EXPECT_EQ(plugin.start(nullptr, nullptr), 0);
    }

    std::string folder_;
    std::map<std::string, test_host::Plugin> plugins_;
};

}  // namespace

TEST_F(Diagnostics, EveryRoadEndsAlikeWithTheDiagnosticsOffOnOrUnwritable) {
    RunRoads(Load("none", ""));
    const Outcome before = Observe();
    ASSERT_GT(before.host_calls.size(), 50u);
    ASSERT_FALSE(before.dialogs.empty());

    const std::string missing = Folder("none") + "missing\\";
    const std::wstring polish = Wide(BothOn("brak-ś\\ślad.txt", "brak-ř\\j.csv"));
    // Each with the files that one message names, in Mazovia, after the
    // install notice: a relative path is taken from the copy's folder.
    const struct {
        const char* name;
        std::string settings;
        std::vector<std::string> named;
    } rows[] = {
        {"off", "[Trace]\r\nEnabled=0\r\n[Journal]\r\nEnabled=0\r\n", {}},
        {"on", BothOn("trace.txt", "journal.csv"), {}},
        {"recording",
         "[Trace]\r\nEnabled=1\r\nRecord=1\r\nFile=trace.txt\r\n"
         "[Journal]\r\nEnabled=1\r\nFile=journal.csv\r\n",
         {}},
        {"above", BothOn("..\\above.txt", "sub\\..\\j.csv"), {}},
        {"unwritable",
         BothOn(missing + "trace.txt", missing + "journal.csv"),
         {missing + "trace.txt", missing + "journal.csv"}},
        {"own",
         BothOn("Quendrix.dll", ".\\QUENDRIX.INI. "),
         {Folder("own") + "Quendrix.dll", Folder("own") + "QUENDRIX.INI"}},
        {"stream", BothOn("x.txt:s", "x.txt:s"), {Folder("stream") + "x.txt:s"}},
        {"polish",  // in UTF-16 with its mark
         "\xFF\xFE" + std::string(reinterpret_cast<const char*>(polish.data()), polish.size() * 2),
         {Folder("polish") + ("brak-ś\\ślad.txt"_mz).c_str(), Folder("polish") + "brak-?\\j.csv"}},
    };
    for (const auto& row : rows) {
        RunRoads(Load(row.name, row.settings));
        Outcome seen = Observe();
        if (!row.named.empty()) {
            std::string named = row.named[0];
            for (size_t i = 1; i < row.named.size(); ++i)
                named += "\n" + row.named[i];
            ASSERT_GT(seen.dialogs.size(), 1u);
            EXPECT_TRUE(Names(*VsDialogCallAt(1), MessageId::kDiagnosticsFileUnopened, {named}))
                << row.name;
            seen.dialogs.erase(seen.dialogs.begin() + 1);
            std::erase(seen.host_calls, kOrdinalHostMessage);  // its only host message
        }
        EXPECT_TRUE(seen == before) << row.name;
        EXPECT_EQ(test_host::ReadBytes(Folder(row.name) + "Quendrix.ini"), row.settings);
    }
    EXPECT_EQ(test_host::ReadBytes(Folder("own") + "Quendrix.dll"),
              test_host::ReadBytes(Folder("none") + "Quendrix.dll"));
    EXPECT_NE(test_host::ReadBytes(folder_ + "above.txt"), "");
    EXPECT_NE(test_host::ReadBytes(Folder("above") + "j.csv"), "");
    EXPECT_NE(test_host::ReadBytes(Folder("on") + "trace.txt"), "");
    EXPECT_NE(test_host::ReadBytes(Folder("recording") + "trace.txt").find("\n@host "),
              std::string::npos);
    EXPECT_NE(test_host::ReadBytes(Folder("on") + "journal.csv"), "");
    EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
    for (const char* name : {"none", "off"}) {
        EXPECT_EQ(GetFileAttributesA((Folder(name) + "Quendrix-trace.txt").c_str()),
                  INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(GetFileAttributesA((Folder(name) + "Quendrix-journal.csv").c_str()),
                  INVALID_FILE_ATTRIBUTES);
    }
}

TEST_F(Diagnostics, TheTraceOfCtrl9ListsTheHostCallsTheHostSaw) {
    RunRoads(Load("trace", "[Trace]\r\nEnabled=1\r\n"), false);
    const std::vector<std::string> lines =
        SplitLines(test_host::ReadBytes(Folder("trace") + "Quendrix-trace.txt"));
    ASSERT_GT(lines.size(), 10u);
    EXPECT_EQ(lines[0].rfind("Quendrix " QUENDRIX_VERSION_TEXT " call trace, ", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("\\trace\\Quendrix.dll"), std::string::npos) << lines[0];

    // sequence, thread, depth, direction, name, ordinal, the rest
    const std::regex shape(R"((\d{6}) +(\d+) +(\d+) ([<>]) (\w+)(?: #(\d+))?(.*))");
    std::vector<int32_t> traced_host_calls;
    std::map<std::string, std::string> calls, returns;  // by sequence: name and rest
    std::map<std::string, int> depth;
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
        const std::string entry = m[5].str() + m[7].str();
        if (m[4] == ">") {
            calls[m[1]] = entry;
            depth[m[1]] = std::stoi(m[3]);
            if (m[5].str().rfind("Host", 0) == 0)
                traced_host_calls.push_back(std::stoi(m[6]));
        } else {
            returns[m[1]] = entry;
            EXPECT_EQ(depth[m[1]], std::stoi(m[3])) << lines[i];
        }
    }
    // Exactly the host calls the stand-in recorded, in their order; each call
    // with its return.
    std::vector<int32_t> recorded;
    for (int i = 0; i < VsTotalCalls(); ++i)
        recorded.push_back(VsCallAt(i)->ordinal);
    EXPECT_EQ(traced_host_calls, recorded);
    EXPECT_EQ(calls.size(), returns.size());

    // The arguments as their types say, texts in UTF-8, and the nesting; the
    // ordinals as the trace writes them, numbers on purpose.
    std::string all;
    for (const std::string& line : lines)
        all += line + "\n";
    const std::vector<std::string> expected = {
        R"(  1 > PluginStart #30001 \(context=0x[0-9A-F]{8}, text_buffer=0x[0-9A-F]{8}\))",
        R"(  1 < PluginStart #30001 = 0, text_buffer=0x[0-9A-F]{8} "\\x02DOKUMENTY SPRZEDAŻY:\\x01\\n1\. Porównaj WZ z zamówieniem - Ctrl\+9")",
        R"(  1 > PluginInstall #30008 \(flag=0\))",
        R"(  2 > HostOpenTable #52256 \(table_number=44\))",
        R"(  1 > LineTableHook \(event=239, key=806, a3=0x[0-9A-F]{8}, a4=0x[0-9A-F]{8}, a5=0x00000000, a6=0x[0-9A-F]{8}, a7=0x00000000, a8=0x[0-9A-F]{8}, a9=0x00000000, a10=0, a11=0x00000000\))",
        R"(  2 > HostListDialog #52026 \(definition=0x[0-9A-F]{8}, dialog=1002, row=0x[0-9A-F]{8}, zero=0, row_text=0x[0-9A-F]{8}\))",
        R"(  3 > OrderRowText \(row=-1, unused=0\))",
        R"(  3 < OrderRowText = 1)",
        R"(  3 < OrderRowText = 0x[0-9A-F]{8} "ZK 1/2024\\x0D0\.00\\x0D)",
        R"(  2 < HostListDialog #52026 = 20481)",
        R"(  2 > HostCopyText #52161 \(dest=0x[0-9A-F]{8}, src=0x[0-9A-F]{8} "\? Wkręty", limit=120\))",
        R"(  2 > HostCopyText #52161 \(dest=0x[0-9A-F]{8}, src=0x[0-9A-F]{8} "!1 Nakrętki M6", limit=120\))",
        R"(  1 > PluginStart #30001 \(context=0x00000000, text_buffer=0x00000000\))",
    };
    for (const std::string& pattern : expected)
        EXPECT_TRUE(std::regex_search(all, std::regex(pattern))) << pattern << "\n" << all;
    // A WZ never compared before: no question.
    EXPECT_EQ(all.find("HostQuestion"), std::string::npos);
}

TEST_F(Diagnostics, TheJournalHoldsWhatEachComparisonStored) {
    const test_host::Plugin& plugin = Load("journal", "[Journal]\r\nEnabled=1\r\n");
    std::string why;
    ASSERT_TRUE(test_host::StartAndInstall(plugin, why)) << why;
    const std::string journal = Folder("journal") + "Quendrix-journal.csv";

    // The first comparison stores the reduced line and drops the cleared one.
    ASSERT_EQ(VsOpenDocument(kWz), 1);
    VsRaiseLineEvent(kKeyEditedLines);
    std::map<std::string, int32_t> order;
    for (const DocumentItem& line : StoredLines(kOrder))
        if (line.article_key_first != 0)
            order[test_host::FieldText(line.text, sizeof line.text)] = line.quantity;
    const std::map<std::string, int32_t> reduced = {{"Śruby M6"_mz.c_str(), 3000},
                                                    {"Podkładki"_mz.c_str(), 2000}};
    EXPECT_EQ(order, reduced);
    EXPECT_NE(test_host::ReadBytes(journal), "");
    // The second uses the order up: its header is cleared.
    ASSERT_EQ(VsOpenDocument(kSecondWz), 1);
    VsRaiseLineEvent(kKeyEditedLines);
    EXPECT_EQ(StoredHeader(0).document_id, 0);
    // The third uses the other order up and returns 2 units, which the line
    // holds again; the order's header cannot be written back: the record
    // says so.
    ASSERT_EQ(VsOpenDocument(kThirdWz), 1);
    VsFailCall(kOrdinalHostWriteAt, 1);
    VsRaiseLineEvent(kKeyEditedLines);
    EXPECT_EQ(StoredHeader(VsFindHeader(kOtherOrder)).document_id, kOtherOrder);
    EXPECT_EQ(plugin.start(nullptr, nullptr), 0);

    const std::vector<std::string> lines =
        SplitLines(test_host::ReadBytes(Folder("journal") + "Quendrix-journal.csv"));
    const std::vector<std::string> expected = {
        "Data;Czas;Numer WZ;Id WZ;Numer zamówienia;Id zamówienia;Artykuł;Artykuł 2;Tekst pozycji;"
        "Ilość przed;Ilość po;Zdarzenie;Ilość ponad zamówienie",
        R"("WZ 5/2024";200;"ZK 1/2024";100;1;1;"Śruby M6";5,000;3,000;"zmniejszona";)",
        R"("WZ 5/2024";200;"ZK 1/2024";100;3;1;"Wkręty";;;"? ";1,000)",
        R"("WZ 5/2024";200;"ZK 1/2024";100;2;1;"Nakrętki M6";3,000;0,000;"usunięta";)",
        R"("WZ 5/2024";200;"ZK 1/2024";100;2;1;"Nakrętki M6";;;"!1 ";1,000)",
        R"("WZ 6/2024";210;"ZK 1/2024";100;1;1;"Śruby M6";3,000;0,000;"usunięta";)",
        R"("WZ 6/2024";210;"ZK 1/2024";100;4;1;"Podkładki";2,000;0,000;"usunięta";)",
        R"("WZ 6/2024";210;"ZK 1/2024";100;5;1;"'=1+2";;;"? ";1,500)",
        R"("WZ 6/2024";210;"ZK 1/2024";100;6;1;"'+48";;;"? ";1,500)",
        R"("WZ 6/2024";210;"ZK 1/2024";100;7;1;"'-5";;;"? ";1,500)",
        R"("WZ 6/2024";210;"ZK 1/2024";100;8;1;"'@A1";;;"? ";1,500)",
        R"("WZ 6/2024";210;"ZK 1/2024";100;;;;;;"zamówienie usunięte";)",
        R"("WZ 7/2024";220;"ZK 9/2024";300;1;1;"Śruby M6";9,000;0,000;"usunięta";)",
        R"("WZ 7/2024";220;"ZK 9/2024";300;1;1;"Śruby M6";0,000;2,000;"przywrócona";)",
        R"("WZ 7/2024";220;"ZK 9/2024";300;;;;;;"nagłówek zamówienia niezapisany";)",
    };
    ASSERT_EQ(lines.size(), expected.size());
    EXPECT_EQ(lines[0], Windows1250(expected[0]));
    const std::regex when(R"(\d{4}-\d\d-\d\d;\d\d:\d\d:\d\d;(.*))");
    for (size_t i = 1; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, when)) << lines[i];
        EXPECT_EQ(m[1].str(), Windows1250(expected[i])) << i;
    }
}

TEST_F(Diagnostics, CallsMadeInsideAnEntrysFirstCallAreTracedToo) {
    // Command 350 leaves remarks to write; the host raises event 17152 from
    // inside the comparison's first HostWriteAt, and writing the remarks
    // calls HostWriteAt again before the first call has returned.
    const test_host::Plugin& plugin = Load("nested", "[Trace]\r\nEnabled=1\r\n");
    VsVariation nested = {};
    nested.nested_events = 1;
    VsSetVariation(&nested);
    std::string why;
    ASSERT_TRUE(test_host::StartAndInstall(plugin, why)) << why;
    DocumentHeader selected = MakeHeader(90, 91, 9, "ZK 90/2024", "ZAM/77/2024 pilne");
    VsAddSelection(1, 1, &selected);
    VsRunMenuCommand(kMenuCommand, kAnswerYes, kMenuPhaseConfirmed);
    ASSERT_EQ(VsOpenDocument(kWz), 1);
    VsRaiseLineEvent(kKeyEditedLines);
    EXPECT_EQ(plugin.start(nullptr, nullptr), 0);
    ASSERT_EQ(VsNestedEvents(kHeaderTable), 2);

    const std::regex host_call(R"(\d{6} +\d+ +\d+ > Host\w+ #(\d+) .*)");
    std::vector<int32_t> traced, recorded;
    for (const std::string& line :
         SplitLines(test_host::ReadBytes(Folder("nested") + "Quendrix-trace.txt"))) {
        std::smatch m;
        if (std::regex_match(line, m, host_call))
            traced.push_back(std::stoi(m[1]));
    }
    for (int i = 0; i < VsTotalCalls(); ++i)
        recorded.push_back(VsCallAt(i)->ordinal);
    EXPECT_EQ(traced, recorded);
}
