// veldan_host.exe as a person runs it: the unattended story on the sample
// shop and the file it saves, a session answered from piped input, and the
// errors that must stop it before anything is overwritten.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "documentfile/standin_store.h"
#include "host/host_records.h"
#include "host/mazovia_text.h"
#include "host_run.h"
#include "standin/veldan_control.h"

namespace {

// Document identifiers of the sample shop (data/README.md).
constexpr int32_t kOrder1 = 101, kOrder2 = 102, kOrder6 = 301, kOrder8 = 401;
constexpr int32_t kWz2 = 1002, kWz4 = 1004, kWz5 = 1005;

class HostProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = ScratchFolder();
        data_ = folder_ + "shop.json";
        profile_ = folder_ + "veldan.ini";
        sample_ = ReadBytes(BuildFolder() + "sample-shop.json");
        ASSERT_FALSE(sample_.empty()) << "the bundled sample beside the program";
        WriteBytes(data_, sample_);
    }

    HostRun Run(std::vector<std::string> arguments, const std::string& input = "") {
        arguments.insert(arguments.begin(), {"--profile", profile_});
        return RunHostProgram(arguments, input);
    }

    // The saved file, read back into the stand-in's store.
    void LoadSaved() {
        VsReset();
        document_file::DocumentFile file;
        std::vector<document_file::Problem> problems;
        ASSERT_TRUE(document_file::LoadDocumentFile(data_, file, problems))
            << document_file::Describe(problems);
        document_file::PutDocuments(file.documents);
    }
    static DocumentHeader Header(int32_t id) {
        DocumentHeader header;
        memset(&header, 0, sizeof header);
        EXPECT_EQ(VsGetHeader(VsFindHeader(id), &header), 1) << id;
        return header;
    }
    static std::vector<DocumentItem> Lines(int32_t id) {
        std::vector<DocumentItem> lines(VsLineCount(id));
        for (size_t i = 0; i < lines.size(); ++i)
            VsGetLine(id, static_cast<int>(i), &lines[i]);
        return lines;
    }

    std::string folder_, data_, profile_, sample_;
};

}  // namespace

TEST_F(HostProgram, UnattendedStoryAndTheFileItSaves) {
    HostRun run = Run({"--data", data_, "--story"});
    ASSERT_EQ(run.exit_code, 0u) << run.err << run.out;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.find('\x1b'), std::string::npos) << "no attributes into a file";
    EXPECT_EQ(run.out.find('\r'), std::string::npos);

    ExpectInOrder(
        run.out,
        {
            // Start and the install notice with the plug-in's own description.
            "1. Uruchomienie wtyczki",
            "Wejście 30001 (start): wynik 0.",
            "DOKUMENTY SPRZEDAŻY:",
            "┌─ Informacja ─",
            "│ Zainstalowano wtyczkę do programu:",
            "│ DOKUMENTY SPRZEDAŻY:",
            "│ 1. Porównaj WZ z zamówieniem - Ctrl+9 │",
            "[ ] Nie pokazuj więcej tej informacji",
            "» OK",
            "Haki wtyczki na tabelach 44 i 45, polecenie 350 w menu.",
            // The first comparison: the order list drawn from the plug-in's dialog.
            "2. WZ/2/2026: porównanie z zamówieniem (Ctrl+9)",
            " ╔════════════════════════════ Wybierz zamówienie ════════════════════════════╗\n",
            " ║ F3 Dokumenty ",
            " ║ Numer zam.        Wartość zak.br. Data wyst. ",
            " ║ ZK/1/2026                  116.50 02.03.2026 ",
            " ║ ZK/2/2026                  154.40 03.03.2026 ",
            " ║ ZK/3/2026                   84.40 04.03.2026 ",
            "[    F12 OK    ]",
            " ╚═══",
            "» wiersz 2 (ZK/2/2026), F12 OK",
            // The order before and after, side by side.
            "Zamówienie ZK/2/2026 – pozycje przed i po:",
            "  Mąka pszenna typ 450, 1 kg     15,000 │ (usunięta: wydana w całości)\n",
            "  Olej rzepakowy tłoczony, 1 l    6,000 │ (usunięta: wydana w całości)\n",
            "  Jaja kurze L, 10 szt.           4,000 │ Jaja kurze L, 10 szt.           2,500\n",
            "Wartość zamówienia: 154,40 → 27,50",
            // The WZ with the plug-in's markers, its marker and new remarks.
            "WZ/2/2026 – pozycje przed i po:",
            "│ Mąka pszenna typ 450, 1 kg     15,000\n",
            "│ !2 Olej rzepakowy tłoczony,…    8,000\n",
            "│ Jaja kurze L, 10 szt.           1,500\n",
            "│ ? Mąka pszenna typ 650, 1 kg    2,000\n",
            "Znacznik porównania: 0 → 2000",
            "Uwagi: (puste) → „Zam. nr 15/03/2026 - zaopatrzenie na weekend”",
            // An order used up: its header cleared.
            "3. WZ/5/2026: porównanie z zamówieniem",
            "» wiersz 1 (ZK/8/2026), F12 OK",
            "  Ryż długoziarnisty, 1 kg        5,000 │ (usunięta: wydana w całości)",
            "Nagłówek zamówienia wyczyszczony",
            "Pozycje WZ/5/2026 bez zmian.",
            "Uwagi: (puste) → „Zam. nr 3/Ż - dostawa rano, tylne wejście, Gdańsk”",
            // The first WZ again: the question, then the list, left with Esc.
            "4. WZ/2/2026 jeszcze raz",
            "┌─ Uwaga ─",
            "│ Ten dokument WZ już był porównywany z zamówieniem, które zawierało w │",
            "│ Zam. nr 15/03/2026 - zaopatrzenie na weekend ",
            "[ Tak ]  [ Nie ]",
            "» Tak",
            "Wybierz zamówienie",
            " ║ ZK/2/2026                   27.50 03.03.2026 ",
            "» Esc",
            "Żaden dokument się nie zmienił.",
            // The remarks function.
            "5. Numer zamówienia zamiast symbolu (polecenie 350)",
            "Zaznaczony na liście dokument: ZK/6/2026, uwagi: „Zam. nr HŁ/112 - odbiór własny”.",
            "Polecenie menu 350",
            "WZ/4/2026 – nagłówek:",
            "Uwagi: (puste) → „Zam. nr HŁ/112 - odbiór własny”",
            // The stop.
            "6. Zatrzymanie wtyczki",
            "Wejście 30001 z pustym kontekstem (zatrzymanie): wynik 0.",
            "Haki tabel 44 i 45 przywrócone, polecenia 350 nie ma w menu.",
            "Zapisano plik danych: " + data_,
        });
    EXPECT_EQ(run.out.find("Błąd"), std::string::npos) << "no error message on the way";
    EXPECT_NE(ReadBytes(profile_).find("Pytaj=0"), std::string::npos);

    // The saved file holds what the story told.
    LoadSaved();
    const std::vector<DocumentItem> order2 = Lines(kOrder2);
    ASSERT_EQ(order2.size(), 1u);
    EXPECT_EQ(order2[0].quantity, 2500);
    EXPECT_EQ(order2[0].article_key_first, 16);
    const std::vector<DocumentItem> wz2 = Lines(kWz2);
    ASSERT_EQ(wz2.size(), 4u);
    EXPECT_STREQ(wz2[0].text, "Mąka pszenna typ 450, 1 kg"_mz);
    EXPECT_STREQ(wz2[1].text, "!2 Olej rzepakowy tłoczony, 1 l"_mz);
    EXPECT_STREQ(wz2[3].text, "? Mąka pszenna typ 650, 1 kg"_mz);
    EXPECT_EQ(Header(kWz2).compared_marker, kComparedMarker);
    EXPECT_STREQ(Header(kWz2).remarks, "Zam. nr 15/03/2026 - zaopatrzenie na weekend");
    EXPECT_EQ(VsFindHeader(kOrder8), -1) << "the used-up order's header is cleared";
    EXPECT_EQ(Lines(kOrder8).size(), 0u);
    EXPECT_EQ(Header(kWz5).compared_marker, kComparedMarker);
    EXPECT_STREQ(Header(kWz4).remarks, "Zam. nr HŁ/112 - odbiór własny"_mz);
    EXPECT_EQ(Header(kWz4).compared_marker, 0);
    EXPECT_EQ(Lines(kOrder1)[0].quantity, 20000) << "an order not chosen is untouched";
    EXPECT_STREQ(Header(kOrder6).remarks, "Zam. nr HŁ/112 - odbiór własny"_mz);
    EXPECT_EQ(VsHeaderCount(), 13);

    // The same story, word for word, on a fresh copy.
    WriteBytes(data_, sample_);
    DeleteFileA(profile_.c_str());
    EXPECT_EQ(Run({"--data", data_, "--story"}).out, run.out);
}

TEST_F(HostProgram, WithoutStepsTheDocumentsAreListedAndNothingChanges) {
    // A user's own file, and the bundled sample; the story only when asked.
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--data", data_}, std::vector<std::string>{}}) {
        const HostRun run = Run(arguments);
        ASSERT_EQ(run.exit_code, 0u) << run.err;
        ExpectInOrder(run.out,
                      {".json (dokumentów: 13)", "Poz. Rodzaj Numer", "    13 WZ     WZ/5/2026 ",
                       "Nic nie zostało uruchomione ani "
                       "zapisane. --interactive otwiera menu"});
        EXPECT_EQ(run.out.find("Uruchomienie wtyczki"), std::string::npos) << run.out;
        EXPECT_EQ(ReadBytes(data_), sample_);
        EXPECT_FALSE(Exists(profile_)) << "the plug-in never ran";
    }
    const HostRun run = Run({"--story"});
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    ExpectInOrder(run.out,
                  {"» wiersz 2 (ZK/2/2026), F12 OK", "Dane przykładowe nie są zapisywane"});
    EXPECT_EQ(ReadBytes(BuildFolder() + "sample-shop.json"), sample_);
}

TEST_F(HostProgram, PathsWithPolishLettersWorkAndShowAsTyped) {
    // Neither the folder nor the file has a name in Wine's ANSI code page (1252).
    const std::string folder = folder_ + "pl-łódź\\";
    const std::string data = folder + "łódź.json";
    WriteUtf8Named(data, sample_);
    HostRun run = Run({"--data", data});
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_NE(run.out.find("Plik danych: " + data + " (dokumentów: 13)"), std::string::npos)
        << run.out;
    run = Run({"--data", data, "--wz", "WZ/2/2026", "--order", "ZK/2/2026"});
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_NE(run.out.find("Zapisano plik danych: " + data), std::string::npos) << run.out;
    EXPECT_NE(ReadUtf8Named(data).find("\"!2 Olej rzepakowy"), std::string::npos);
}

TEST_F(HostProgram, InteractiveSessionFromPipedInput) {
    // The notice: a wrong answer, then "do not show again". The menu: Ctrl+9
    // on WZ/2, in its list a row that does not exist, then ZK/1 instead of the
    // story's ZK/2; Ctrl+9 on WZ/5 (by its position), the list left with Esc;
    // WZ/2 again, the question answered no; save and quit.
    const HostRun run = Run({"--data", data_, "--interactive"},
                            "x\nt\n2\nWZ/2/2026\n9\n1\n2\n13\n0\n2\nwz/2/2026\nn\n5\n");
    ASSERT_EQ(run.exit_code, 0u) << run.err << run.out;
    ExpectInOrder(
        run.out,
        {
            "│ [ ] Nie pokazuj więcej tej informacji │",
            "? Zaznaczyć „Nie pokazuj więcej”? [t/n] (Enter: bez zmian): x\n",
            "Odpowiedz t (tak) albo n (nie).",
            "(Enter: bez zmian): t\n",
            "» zaznacza „Nie pokazuj więcej”, OK",
            "6 zakończ bez zapisywania",
            "? Wybór [1–6]: 2\n",
            "? Dokument WZ – numer albo pozycja z listy (Enter: wróć): WZ/2/2026\n",
            "2. WZ/2/2026: porównanie z zamówieniem (Ctrl+9)",
            "Wybierz zamówienie",
            "? Wiersz 1–3 (Enter: 1, 0: Esc): 9\n",
            "Podaj numer wiersza albo 0.",
            "? Wiersz 1–3 (Enter: 1, 0: Esc): 1\n",
            "» wiersz 1 (ZK/1/2026), F12 OK",
            "Zamówienie ZK/1/2026 – pozycje przed i po:",
            "  Mąka pszenna typ 650, 1 kg     20,000 │ Mąka pszenna typ 650, 1 kg     18,000\n",
            "│ ? Mąka pszenna typ 450, 1 kg   15,000\n",
            "Uwagi: (puste) → „Zam. nr 14/03/2026 - p. Łucja, dostawa w środę”",
            "3. WZ/5/2026",
            "? Wiersz 1–1 (Enter: 1, 0: Esc): 0\n",
            "» Esc",
            "Żaden dokument się nie zmienił.",
            "4. WZ/2/2026 jeszcze raz",
            "[ Tak ]  [ Nie ]",
            "? Tak/Nie [t/n] (Enter: Nie): n\n",
            "» Nie",
            "Żaden dokument się nie zmienił.",
            "? Wybór [1–6]: 5\n",
            "Zapisano plik danych",
        });
    EXPECT_EQ(run.out.find("(koniec wejścia)"), std::string::npos);
    EXPECT_NE(ReadBytes(profile_).find("Pytaj=1"), std::string::npos);

    LoadSaved();
    EXPECT_EQ(Lines(kOrder1)[0].quantity, 18000);
    EXPECT_EQ(Lines(kOrder2).size(), 3u) << "the order the story would have chosen";
    EXPECT_STREQ(Lines(kWz2)[1].text, "? Olej rzepakowy tłoczony, 1 l"_mz);
    EXPECT_EQ(Header(kWz5).compared_marker, 0) << "left with Esc";
    EXPECT_EQ(Lines(kOrder8).size(), 1u);

    // Quitting without saving leaves the file as it was.
    const std::string saved = ReadBytes(data_);
    // The list shows what the session did; Enter takes the cursor row.
    const HostRun quit = Run({"--data", data_, "--interactive"}, "1\n2\nWZ/4/2026\n\n6\n");
    EXPECT_EQ(quit.exit_code, 0u) << quit.err;
    ExpectInOrder(quit.out,
                  {"Poz. Rodzaj Numer             Odbiorca  Wartość Wiersze Uwagi",
                   "     1 ZK     ZK/1/2026                1   110,10       3 Zam. nr 14/03/2026 …",
                   "    10 WZ     WZ/2/2026                1   153,10       4 [porównany] Zam. nr…",
                   "    12 WZ     WZ/4/2026                3   490,00       3 ",
                   "» wiersz 1 (ZK/6/2026), F12 OK", "Znacznik porównania: 0 → 2000",
                   "? Wybór [1–6]: 6\n", "Plik danych nie został zapisany."});
    EXPECT_EQ(ReadBytes(data_), saved);
}

TEST_F(HostProgram, EndOfInputCancelsAndSavesNothing) {
    // The input ends in the order list: Esc, not the cursor row; then in the
    // menu: quit without saving.
    HostRun run = Run({"--data", data_, "--interactive"}, "n\n2\nWZ/1/2026\n");
    EXPECT_EQ(run.exit_code, 6u) << run.err;
    ExpectInOrder(run.out, {"Wybierz zamówienie", "(Enter: 1, 0: Esc): (koniec wejścia)", "» Esc",
                            "Żaden dokument się nie zmienił.", "? Wybór [1–6]: (koniec wejścia)",
                            "Koniec wejścia: koniec pracy bez zapisywania pliku.",
                            "Plik danych nie został zapisany."});
    EXPECT_EQ(run.out.find("» wiersz"), std::string::npos);
    EXPECT_EQ(ReadBytes(data_), sample_);

    // Ended at the question before a repeated comparison: no, whatever the
    // default; with no input at all, nothing happens and nothing is saved.
    WriteBytes(data_, sample_);
    run = Run({"--data", data_, "--interactive"}, "n\n2\nWZ/3/2026\n");
    EXPECT_EQ(run.exit_code, 6u) << run.err;
    ExpectInOrder(run.out, {"WZ/3/2026 jeszcze raz", "[ Tak ]  [ Nie ]", "(koniec wejścia)",
                            "» Nie", "Plik danych nie został zapisany."});
    run = Run({"--data", data_, "--interactive"});
    EXPECT_EQ(run.exit_code, 6u) << run.err;
    EXPECT_EQ(ReadBytes(data_), sample_);
}

// A shop's own file: two orders and two issue notes of one customer, numbers
// with Polish letters. The steps name the second WZ and its order.
const char kOwnShop[] = R"({"headers": [
  {"kind": "ZK", "number": "ZK/Ż/1", "customer": 7, "second_id": 7101, "document_id": 71,
   "remarks": "Zam. nr Ż-1 - odbiór w piątek", "lines": [
    {"text": "Mąka żytnia, 1 kg", "quantity": 4000, "article": [21, 1], "unit_price": 4.0}]},
  {"kind": "ZK", "number": "ZK/Ż/2", "customer": 7, "second_id": 7102, "document_id": 72,
   "remarks": "Zam. nr Ż-2 - pilne", "lines": [
    {"text": "Kasza gryczana, 1 kg", "units": 5, "article": [22, 1], "unit_price": 7.5}]},
  {"kind": "WZ", "number": "WZ/Ż/1", "customer": 7, "document_id": 81, "lines": [
    {"text": "Mąka żytnia, 1 kg", "quantity": 1000, "article": [21, 1], "unit_price": 4.0}]},
  {"kind": "WZ", "number": "WZ/Ż/2", "customer": 7, "document_id": 82, "lines": [
    {"text": "Kasza gryczana, 1 kg", "quantity": 5000, "article": [22, 1], "unit_price": 7.5},
    {"text": "Miód wielokwiatowy", "quantity": 1000, "article": [23, 1], "unit_price": 20.0}]}
]}
)";

TEST_F(HostProgram, StepsOnTheUsersOwnDocumentsInTheOrderGiven) {
    WriteBytes(data_, kOwnShop);
    const HostRun run =
        Run({"--data", data_, "--wz", "WZ/Ż/2", "--order", "ZK/Ż/2", "--wz", "WZ/Ż/2", "--order",
             "-", "--command-350", "ZK/Ż/1", "--save", "WZ/Ż/1"});
    ASSERT_EQ(run.exit_code, 0u) << run.err << run.out;
    ExpectInOrder(run.out, {
                               "2. WZ/Ż/2: porównanie z zamówieniem (Ctrl+9)",
                               " ║ ZK/Ż/1                      16.00 ",
                               " ║ ZK/Ż/2                      37.50 ",
                               "» wiersz 2 (ZK/Ż/2), F12 OK",
                               "Nagłówek zamówienia wyczyszczony",
                               "│ ? Miód wielokwiatowy            1,000",
                               "Uwagi: (puste) → „Zam. nr Ż-2 - pilne”",
                               "3. WZ/Ż/2 jeszcze raz (Ctrl+9)",
                               "» Tak",
                               " ║ ZK/Ż/1 ",
                               "» Esc",
                               "Żaden dokument się nie zmienił.",
                               "4. Numer zamówienia zamiast symbolu (polecenie 350)",
                               "Zaznaczony na liście dokument: ZK/Ż/1",
                               "5. WZ/Ż/1: zapis nagłówka",
                               "Uwagi: (puste) → „Zam. nr Ż-1 - odbiór w piątek”",
                               "Zapisano plik danych: " + data_,
                           });
    EXPECT_EQ(run.out.find("Wybierz zamówienie", run.out.find("3. WZ/Ż/2")),
              run.out.find("Wybierz zamówienie", run.out.find("» Tak")))
        << "the list after the question";

    LoadSaved();
    EXPECT_EQ(VsFindHeader(72), -1) << "the order used up";
    EXPECT_EQ(Header(82).compared_marker, kComparedMarker);
    EXPECT_STREQ(Header(82).remarks, "Zam. nr Ż-2 - pilne"_mz);
    EXPECT_STREQ(Lines(82)[1].text, "? Miód wielokwiatowy"_mz);
    EXPECT_STREQ(Header(81).remarks, "Zam. nr Ż-1 - odbiór w piątek"_mz);
    EXPECT_EQ(Header(81).compared_marker, 0);
    EXPECT_EQ(Lines(71)[0].quantity, 4000) << "the order not chosen is untouched";
}

TEST_F(HostProgram, StepsThatDoNotFitStopWithoutSaving) {
    WriteBytes(data_, kOwnShop);
    const std::string own = kOwnShop;
    // Checked against the file before anything runs.
    const struct {
        std::vector<std::string> steps;
        std::string error;
    } wrong[] = {
        {{"--wz", "ZK/Ż/1", "--order", "ZK/Ż/2"}, "--wz ZK/Ż/1: to nie jest dokument WZ"},
        {{"--wz", "WZ/Ż/9", "--order", "-"}, "--wz WZ/Ż/9: w pliku nie ma dokumentu o tym numerze"},
        {{"--wz", "WZ/Ż/1", "--order", "WZ/Ż/2"}, "--order WZ/Ż/2: to nie jest zamówienie (ZK)"},
        {{"--save", "ZK/9"}, "--save ZK/9: w pliku nie ma dokumentu o tym numerze"},
        {{"--wz", "WZ/Ż/1"}, "po --wz WZ/Ż/1 potrzebne jest --order NUMER (albo --order -)"},
        {{"--order", "ZK/Ż/1"}, "--order tylko zaraz po --wz NUMER"},
        {{"--interactive", "--save", "WZ/Ż/1"}, "--interactive, --story i kroki"},
        {{"--story", "--save", "WZ/Ż/1"}, "wykluczają się nawzajem"},
        {{"--session", folder_, "--plugin", folder_ + "Quendrix.dll"},
         "--session i --plugin wykluczają się nawzajem"},
    };
    for (const auto& [steps, error] : wrong) {
        SCOPED_TRACE(error);
        std::vector<std::string> arguments{"--data", data_};
        arguments.insert(arguments.end(), steps.begin(), steps.end());
        const HostRun run = Run(arguments);
        EXPECT_EQ(run.exit_code, 1u);
        EXPECT_NE(run.err.find(error), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
    // An order gone from the list by the time its step comes: the step fails
    // and the file stays as it was.
    const HostRun run = Run({"--data", data_, "--wz", "WZ/Ż/2", "--order", "ZK/Ż/2", "--wz",
                             "WZ/Ż/1", "--order", "ZK/Ż/2"});
    EXPECT_EQ(run.exit_code, 7u) << run.err;
    ExpectInOrder(run.out, {"» wiersz 2 (ZK/Ż/2), F12 OK", "3. WZ/Ż/1", "» Esc"});
    ExpectInOrder(run.err,
                  {"veldan_host: zamówienia ZK/Ż/2 nie było na liście – krok niewykonany\n",
                   "veldan_host: krok się nie udał: plik danych nie został zapisany\n"});
    EXPECT_EQ(ReadBytes(data_), own);
}

TEST_F(HostProgram, DataFileErrorsStopBeforeAnythingIsWritten) {
    // A field out of its bounds: the record and the field are named.
    std::string malformed = sample_;
    const size_t number = malformed.find("\"ZK/4/2026\"");
    ASSERT_NE(number, std::string::npos);
    malformed.replace(number, 11, "\"ZK/4/2026/ŚLĄZAK/A\"");
    WriteBytes(data_, malformed);
    HostRun run = Run({"--data", data_});
    EXPECT_EQ(run.exit_code, 2u);
    ExpectInOrder(run.err,
                  {"veldan_host: błąd w pliku danych „" + data_ +
                       "” – nic nie zostało uruchomione ani zapisane:\n",
                   "  dokument ZK/4/2026/ŚLĄZAK/A (nagłówek 4): pole „number” dłuższe niż 16 "
                   "znaków (ma 18)\n"});
    EXPECT_NE(run.err.find(data_), std::string::npos);
    EXPECT_EQ(run.out, "") << "no story";
    EXPECT_EQ(ReadBytes(data_), malformed);
    EXPECT_FALSE(Exists(data_ + ".tmp"));
    EXPECT_FALSE(Exists(profile_)) << "the plug-in never ran";

    // A field given twice: the document and the field named, whichever came last.
    std::string repeated = sample_;
    repeated.replace(repeated.find("\"customer\": 1,"), 14, "\"customer\": 7, \"customer\": 8,");
    WriteBytes(data_, repeated);
    run = Run({"--data", data_, "--story"});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_NE(run.err.find("  dokument ZK/1/2026 (nagłówek 1): pole „customer” występuje dwa razy"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadBytes(data_), repeated);

    // Written in Windows-1250: named as not UTF-8.
    std::string windows1250 = sample_;
    for (size_t at = windows1250.find("ą"); at != std::string::npos; at = windows1250.find("ą"))
        windows1250.replace(at, 2, "\xB9");
    WriteBytes(data_, windows1250);
    run = Run({"--data", data_});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_NE(run.err.find("plik nie jest zapisany w UTF-8 (wiersz 15, kolumna 21: bajt 0xB9"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadBytes(data_), windows1250);

    // Cut short: not JSON any more.
    const std::string cut = sample_.substr(0, sample_.size() / 2);
    WriteBytes(data_, cut);
    run = Run({"--data", data_});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_NE(run.err.find("błąd w pliku danych"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("błąd składni JSON w dokumencie ZK/7/2026 (wiersz "), std::string::npos)
        << run.err;
    EXPECT_EQ(ReadBytes(data_), cut);

    // A file that cannot be replaced is found before the session, not after.
    WriteBytes(data_, sample_);
    ASSERT_TRUE(SetFileAttributesA(data_.c_str(), FILE_ATTRIBUTE_READONLY));
    run = Run({"--story", "--data", data_});
    SetFileAttributesA(data_.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(run.exit_code, 5u);
    EXPECT_NE(run.err.find("nie da się zapisać: plik jest tylko do odczytu; nic nie zostało "
                           "uruchomione"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(Exists(profile_));

    // Missing, a folder, and a file that another program holds locked.
    run = Run({"--data", folder_ + "none.json"});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_NE(run.err.find("nie ma pliku danych"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists(folder_ + "none.json"));
    run = Run({"--data", folder_});
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_NE(run.err.find("to katalog"), std::string::npos) << run.err;

    WriteBytes(data_, sample_);
    HANDLE locked = CreateFileA(data_.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(locked, INVALID_HANDLE_VALUE);
    run = Run({"--data", data_});
    CloseHandle(locked);
    EXPECT_EQ(run.exit_code, 2u);
    EXPECT_NE(run.err.find("nie da się odczytać"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(data_), sample_);
}

TEST_F(HostProgram, PluginModuleThatCannotBeLoaded) {
    HostRun run = Run({"--story", "--data", data_, "--plugin", folder_ + "Brak.dll"});
    EXPECT_EQ(run.exit_code, 3u);
    EXPECT_NE(run.err.find("nie ma pliku"), std::string::npos) << run.err;

    // The host's own library has none of the plug-in's entries.
    run = Run({"--story", "--data", data_, "--plugin", BuildFolder() + "VELDAN.dll"});
    EXPECT_EQ(run.exit_code, 3u);
    EXPECT_NE(run.err.find("nie jest wtyczką: brak wejścia o numerze 30001"), std::string::npos)
        << run.err;

    WriteBytes(folder_ + "Tekst.dll", "to nie jest biblioteka");
    run = Run({"--story", "--data", data_, "--plugin", folder_ + "Tekst.dll"});
    EXPECT_EQ(run.exit_code, 3u);
    EXPECT_NE(run.err.find("nie daje się załadować"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(data_), sample_);
}

TEST_F(HostProgram, ACrashIsCalledACrashAndNothingIsSaved) {
    // A plug-in that reads through a null pointer when the host starts it. The
    // exit code also goes where tools/veldan-host.sh looks for it.
    const std::string status = folder_ + "status.txt";
    SetEnvironmentVariableA("QUENDRIX_HOST_STATUS", status.c_str());
    const HostRun run = Run(
        {"--story", "--data", data_, "--plugin", BuildFolder() + "crashing-plugin\\Quendrix.dll"});
    SetEnvironmentVariableA("QUENDRIX_HOST_STATUS", nullptr);
    EXPECT_EQ(run.exit_code, 9u) << run.err;
    EXPECT_EQ(ReadBytes(status), "9\n");
    ExpectInOrder(run.err, {"veldan_host: awaria programu (wyjątek 0xC0000005, odczyt spod adresu "
                            "0x00000000) pod adresem 0x",
                            ", w Quendrix.dll+0x", "; plik danych nie został zapisany\n"});
    EXPECT_EQ(ReadBytes(data_), sample_);
}

TEST_F(HostProgram, RefusedPluginExplainsWithItsStopMessage) {
    // Another interface version: the plug-in's version text, then stop.
    HostRun run = Run({"--story", "--data", data_, "--interface-version", "111"});
    EXPECT_EQ(run.exit_code, 4u);
    ExpectInOrder(run.out, {
                               "Wejście 30001 (start): wynik -1.",
                               "DOKUMENTY SPRZEDAŻY:",
                               "Wejście 30008 z flagą 1",
                               "┌─ STOP!!! ─",
                               "│ Moduł \"DOKUMENTY SPRZEDAŻY:",
                               "i program występują w różnych",
                               "│ MODUŁ NIE ZOSTANIE ZAŁADOWANY!!!",
                               "[ OK ]",
                               "» OK",
                               "Haki tabel 44 i 45 przywrócone, polecenia 350 nie ma w menu.",
                               "Biblioteka wtyczki zwolniona.",
                           });
    EXPECT_EQ(run.out.find("Wybierz zamówienie"), std::string::npos);
    EXPECT_NE(run.err.find("nie została załadowana"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(data_), sample_);

    // A line record of another size: the record-size report in its columns.
    run = Run({"--story", "--data", data_, "--record-size", "45=297"});
    EXPECT_EQ(run.exit_code, 4u);
    ExpectInOrder(run.out,
                  {
                      "┌─ STOP!!! ─",
                      "│ Rozmiary rekordów niektórych tabel nie zgadzają się",
                      "│ TABELA            WE WTYCZCE     W PROGRAMIE",
                      "│ Tspr_dok" + std::string(14, ' ') + "298" + std::string(12, ' ') + "297",
                      "│ Moduł wtyczki Quendrix.dll",
                      "│ NIE zostanie załadowany!",
                      "» OK",
                  });
    EXPECT_EQ(ReadBytes(data_), sample_);

    // A wrong option: one line, with the way to the options.
    run = Run({"--data", data_, "--bogus"});
    EXPECT_EQ(run.exit_code, 1u);
    EXPECT_EQ(run.err,
              "veldan_host: nieznana opcja „--bogus” (opis opcji: tools/veldan-host.sh --help)\n");
    // The options and every exit code, in English, under the script's name.
    run = Run({"-h"});
    EXPECT_EQ(run.exit_code, 0u);
    ExpectInOrder(run.out, {"Usage: tools/veldan-host.sh [options]\n", "  --data FILE ",
                            "  --session FOLDER ", "  -h, --help ", "\nExit codes:\n"});
    for (int code = 0; code <= 9; ++code)
        EXPECT_NE(run.out.find("\n  " + std::to_string(code) + "  "), std::string::npos) << code;
}

TEST_F(HostProgram, ASessionFolderHoldsThePluginsSettingsAndFiles) {
    // The plug-in runs from the session's folder, copied there: its settings
    // there switch the journal on, which lands there; so do the program's
    // settings, though the folder has no name in Wine's ANSI code page (1252).
    // Nothing goes beside the program.
    const std::string session = folder_ + "sesja-żółw";
    WriteUtf8Named(session + "\\Quendrix.ini", "[Journal]\r\nEnabled=1\r\n");
    const HostRun run = RunHostProgram(
        {"--session", session, "--data", data_, "--wz", "WZ/2/2026", "--order", "ZK/2/2026"});
    ASSERT_EQ(run.exit_code, 0u) << run.err;
    EXPECT_NE(run.out.find("Wtyczka: " + session + "\\Quendrix.dll\n"), std::string::npos)
        << run.out;
    EXPECT_EQ(ReadUtf8Named(session + "\\Quendrix.dll"), ReadBytes(BuildFolder() + "Quendrix.dll"));
    EXPECT_NE(ReadUtf8Named(session + "\\Quendrix-journal.csv").find("\"WZ/2/2026\""),
              std::string::npos);
    EXPECT_NE(ReadUtf8Named(session + "\\veldan.ini").find("Pytaj=0"), std::string::npos);
    EXPECT_FALSE(Exists(BuildFolder() + "Quendrix-journal.csv"));
}

TEST_F(HostProgram, ASaveThatFailsLeavesTheFileAsItWas) {
    // The temporary file of the atomic save cannot be made: a folder holds
    // its name.
    ASSERT_TRUE(CreateDirectoryA((data_ + ".tmp").c_str(), nullptr));
    const HostRun run = Run({"--story", "--data", data_});
    EXPECT_EQ(run.exit_code, 5u);
    EXPECT_NE(run.out.find("6. Zatrzymanie wtyczki"), std::string::npos) << "the story ran";
    EXPECT_NE(run.err.find("nie udało się zapisać pliku danych"), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(data_), sample_);
}
