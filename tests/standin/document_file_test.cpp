// The document file: the sample loads, everything round-trips, a bad file
// names the record and field and leaves the store alone, saving is atomic.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/host_store.h"

namespace {

namespace fs = std::filesystem;

const char* const kSample = STANDIN_DATA_DIR "/sample-shop.json";

// Every stored byte of the store, headers and the lines of every header's
// document, for comparing two stores.
std::string StoreBytes() {
    std::string bytes;
    std::vector<int32_t> ids;
    for (int i = 0; i < VsHeaderCount(); ++i) {
        DocumentHeader header;
        VsGetHeader(i, &header);
        bytes.append(reinterpret_cast<const char*>(&header), sizeof header);
        ids.push_back(header.document_id);
    }
    for (int32_t id : {-7, 4242})
        ids.push_back(id);
    for (int32_t id : ids) {
        bytes += "|" + std::to_string(id) + ":";
        for (int i = 0; i < VsLineCount(id); ++i) {
            DocumentItem line;
            VsGetLine(id, i, &line);
            bytes.append(reinterpret_cast<const char*>(&line), sizeof line);
        }
    }
    return bytes;
}

std::string ReadFile(const fs::path& path) {
    return test_host::ReadBytes(path.string());
}

class DocumentFile : public ::testing::Test {
  protected:
    void SetUp() override {
        VsReset();
        folder = fs::temp_directory_path() /
                 ("standin-" + std::to_string(GetCurrentProcessId()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    std::string Path(const char* name) { return (folder / name).string(); }
    std::string Write(const char* name, const std::string& text) {
        std::ofstream(folder / name, std::ios::binary) << text;
        return Path(name);
    }

    fs::path folder;
};

TEST_F(DocumentFile, SampleLoadsAsTheShopItDescribes) {
    ASSERT_EQ(VsLoadDocuments(kSample), 0) << VsLastError();
    EXPECT_EQ(VsHeaderCount(), 13);
    const int order = VsFindHeader(101);
    ASSERT_GE(order, 0);
    DocumentHeader header;
    VsGetHeader(order, &header);
    EXPECT_STREQ(header.number, "ZK/1/2026");
    EXPECT_EQ(header.customer, 1);
    EXPECT_NE(header.second_id, 0);
    EXPECT_EQ(std::string(header.remarks, 20), "Zam. nr 14/03/2026 -");
    EXPECT_NE(strstr(header.remarks,
                     "\x9C"
                     "ucja"),
              nullptr)
        << "Ł as the Mazovia byte 0x9C";
    EXPECT_DOUBLE_EQ(header.gross_value, 1165000.0);  // 20 × 3.20 + 10 × 4.50 + 5 × 1.50
    char date[16];
    HostFormatDate(date, header.issue_date);
    EXPECT_STREQ(date, "02.03.2026");

    ASSERT_EQ(VsLineCount(101), 3);
    DocumentItem line;
    VsGetLine(101, 0, &line);
    EXPECT_STREQ(line.text, "M\x86ka pszenna typ 650, 1 kg");
    EXPECT_EQ(line.quantity, 20000);
    EXPECT_EQ(line.article_key_first, 11);
    EXPECT_EQ(line.article_key_second, 1);
    EXPECT_DOUBLE_EQ(test_host::LineValue(line), 64.0);

    DocumentHeader compared;
    VsGetHeader(VsFindHeader(1003), &compared);
    EXPECT_EQ(compared.compared_marker, 2000);
    EXPECT_EQ(compared.second_id, 0) << "issue notes are never offered as orders";
}

TEST_F(DocumentFile, SaveAndLoadRoundTripEveryStoredByte) {
    ASSERT_EQ(VsLoadDocuments(kSample), 0) << VsLastError();
    // Values that a plain displayed number would not give back: a gross value
    // that is no multiple of 1/10,000, a line value that is not quantity ×
    // price, a cleared header, negative zero, lines without a header, two
    // headers sharing one identifier, a date that is no date.
    DocumentHeader header;
    VsGetHeader(0, &header);
    header.gross_value = 1234567.891011;
    VsPutHeader(0, &header);
    DocumentItem line;
    VsGetLine(101, 1, &line);
    const double odd_value = -0.0;
    memcpy(reinterpret_cast<uint8_t*>(&line) + kVsLineValueOffset, &odd_value, sizeof odd_value);
    line.value_150 = 1.0 / 3.0;
    line.value_202 = -0.0;
    VsPutLine(101, 1, &line);
    DocumentHeader cleared{};
    VsAddHeader(&cleared);
    VsAddLine(4242, &line);
    DocumentHeader odd = test_host::MakeHeader(105, 5105, 9, "ZK/1/2026-bis");
    memcpy(reinterpret_cast<uint8_t*>(&odd) + kVsHeaderKindOffset, "ZK", 3);
    const int32_t no_date = 20260230;
    memcpy(odd.issue_date, &no_date, sizeof no_date);
    VsAddHeader(&odd);
    const std::string before = StoreBytes();

    const std::string first = Path("first.json"), second = Path("second.json");
    ASSERT_EQ(VsSaveDocuments(first.c_str()), 0) << VsLastError();
    VsReset();
    ASSERT_EQ(VsLoadDocuments(first.c_str()), 0) << VsLastError();
    EXPECT_EQ(StoreBytes(), before);
    ASSERT_EQ(VsSaveDocuments(second.c_str()), 0);
    EXPECT_EQ(ReadFile(first), ReadFile(second));
    EXPECT_NE(ReadFile(first).find("Mąka pszenna"), std::string::npos) << "texts in UTF-8";
}

// A small good file, one document a line; each bad case changes one piece.
const std::string kLine1 =
    R"({"text": "Mąka", "quantity": 1000, "article": [11, 1], "unit_price": 3.2})";
const std::string kLine2 =
    R"({"text": "Cukier", "quantity": 2000, "article": [12, 1], "unit_price": 4.5})";
const std::string kGoodFile =
    "{\"headers\": [\n"
    R"( {"kind": "ZK", "number": "ZK/1/2026", "customer": 1, "second_id": 51, "document_id": 1, "lines": [)" +
    kLine1 + "]},\n" +
    R"( {"kind": "WZ", "number": "WZ/1/2026", "customer": 1, "document_id": 2, "remarks": "", "lines": [)" +
    kLine2 + "]}\n]}\n";

std::string Changed(std::string text, const std::string& from, const std::string& to) {
    const size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST_F(DocumentFile, BadFileNamesDocumentAndPositionAndChangesNothing) {
    ASSERT_EQ(VsLoadDocuments(kSample), 0) << VsLastError();
    const std::string before = StoreBytes();
    const std::string wz = "dokument WZ/1/2026 (nagłówek 2): ";
    const std::string wz_line = "dokument WZ/1/2026 (nagłówek 2, wiersz 1): ";
    std::string windows1250 = kGoodFile;
    windows1250[windows1250.find("ą")] = '\xB9';
    windows1250.erase(windows1250.find('\xB9') + 1, 1);
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        // Missing fields: never taken as zero.
        {Changed(kGoodFile, R"("customer": 1, "document_id": 2)", R"("document_id": 2)"),
         wz + "brak pola „customer”"},
        {Changed(kGoodFile, R"("quantity": 2000, )", ""),
         wz_line + "brak pola „quantity” (albo „units”)"},
        {Changed(kGoodFile, R"("article": [12, 1], )", ""), wz_line + "brak pola „article”"},
        {Changed(kGoodFile, R"("kind": "WZ", )", ""), wz + "brak pola „kind”"},
        // The kind against what makes an order.
        {Changed(kGoodFile, R"("second_id": 51, )", ""),
         "dokument ZK/1/2026 (nagłówek 1): brak pola „second_id”"},
        {Changed(kGoodFile, R"("second_id": 51)", R"("second_id": 0)"),
         "dokument ZK/1/2026 (nagłówek 1): zamówienie (ZK) musi mieć pole „second_id” różne od 0"},
        {Changed(kGoodFile, R"("document_id": 2)", R"("second_id": 7, "document_id": 2)"),
         wz + "dokument WZ ma pole „second_id” równe 0 albo go nie ma; z innym byłby zamówieniem"},
        {Changed(kGoodFile, R"("kind": "WZ")", R"("kind": "FV")"),
         wz + "pole „kind” musi być „ZK” (zamówienie) albo „WZ” (wydanie), nie „FV”"},
        // Identifiers unique, lines with their document.
        {Changed(kGoodFile, R"("document_id": 2)", R"("document_id": 1)"),
         wz + "ten sam „document_id” (1) ma już dokument ZK/1/2026 (nagłówek 1)"},
        {Changed(kGoodFile, R"("WZ/1/2026")", R"("ZK/1/2026")"),
         "dokument ZK/1/2026 (nagłówek 2): ten sam numer ma już dokument ZK/1/2026 (nagłówek 1)"},
        {Changed(kGoodFile, "\n]}",
                 "\n], \"orphan_lines\": [{\"document_id\": 9, \"lines\": [" + kLine1 + "]}]}"),
         "wiersze bez nagłówka (grupa 1): nie ma dokumentu o „document_id” 9, do którego "
         "należałyby te wiersze"},
        {Changed(kGoodFile, "\n]}",
                 "\n], \"orphan_lines\": [{\"document_id\": 2, \"lines\": []}]}"),
         "wiersze bez nagłówka (grupa 1): dokument o „document_id” 2 to dokument WZ/1/2026 "
         "(nagłówek 2)"
         "; jego wiersze należą do jego pola „lines”"},
        // Texts within their fields and the code page.
        {Changed(kGoodFile, R"("WZ/1/2026")", R"("WZ/12345678901/2026")"),
         "dokument WZ/12345678901/2026 (nagłówek 2): pole „number” dłuższe niż 16 znaków (ma 19)"},
        {Changed(kGoodFile, R"("remarks": "")", R"("remarks": "Cena 5 – 6 €")"),
         wz + "pole „remarks”: znak „–” (U+2013) nie występuje w stronie kodowej Mazovia"},
        {Changed(kGoodFile, R"("remarks": "")", R"("remarks": ")" + std::string(101, 'x') + "\""),
         wz + "pole „remarks” dłuższe niż 100 znaków (ma 101)"},
        {Changed(kGoodFile, R"("Cukier")", "\"" + std::string(121, 'y') + "\""),
         wz_line + "pole „text” dłuższe niż 120 znaków (ma 121)"},
        // Values of their type and range.
        {Changed(kGoodFile, R"("remarks": "")", R"("date": "2026-02-29")"),
         wz + "pole „date”: nie ma dnia 2026-02-29"},
        {Changed(kGoodFile, R"("remarks": "")", R"("date": "2.3.2026")"),
         wz + "pole „date” musi być datą RRRR-MM-DD"},
        {Changed(kGoodFile, R"("customer": 1, "document_id": 2)",
                 R"("customer": 40000, "document_id": 2)"),
         wz + "pole „customer” poza zakresem od -32768 do 32767"},
        {Changed(kGoodFile, R"("document_id": 2)", R"("document_id": "2")"),
         wz + "pole „document_id” musi być liczbą całkowitą"},
        {Changed(kGoodFile, R"("remarks": "")", R"("colour": "red")"),
         wz + "nieznane pole „colour”"},
        {Changed(kGoodFile, R"("quantity": 2000)", R"("quantity": 1.5)"),
         wz_line + "pole „quantity” musi być liczbą całkowitą"},
        {Changed(kGoodFile, R"("quantity": 2000)", R"("units": 0.0005)"),
         wz_line + "pole „units” musi mieć najwyżej trzy miejsca po przecinku i mieścić się w 32 "
                   "bitach w tysięcznych"},
        {Changed(kGoodFile, R"([12, 1])", R"([12, 70000])"),
         wz_line + "pole „article” musi być parą liczb całkowitych od -32768 do 32767: [pierwsza "
                   "część, druga część]"},
        {R"({"header": []})", "plik: nieznane pole „header”\nplik: brak pola „headers”"},
        {R"({"headers": {}})", "plik: pole „headers” musi być listą [ … ]"},
        // Two problems, both listed.
        {Changed(Changed(kGoodFile, R"("kind": "WZ", )", ""), R"("quantity": 2000, )", ""),
         wz + "brak pola „kind”\n" + wz_line + "brak pola „quantity” (albo „units”)"},
        // Syntax and encoding, with line and column.
        {Changed(kGoodFile, R"("customer": 1, "document_id": 2)",
                 R"("customer": 1 "document_id": 2)"),
         "błąd składni JSON (wiersz 3, kolumna 54): w tym miejscu nie może stać: tekst w "
         "cudzysłowie; oczekiwano: „,” albo „}”"},
        {kGoodFile.substr(0, 40),
         "błąd składni JSON (wiersz 2, kolumna 27): plik kończy się w środku danych; oczekiwano: "
         "wartość"},
        {windows1250,
         "plik nie jest zapisany w UTF-8 (wiersz 2, kolumna 111: bajt 0xB9, zapewne "
         "litera w kodowaniu Windows-1250); zapisz go w UTF-8"},
        {"\xFF\xFE{", "plik jest zapisany w UTF-16, a nie w UTF-8; zapisz go w UTF-8"},
        {Changed(kGoodFile, R"("quantity": 2000)", R"("quantity": 1e400)"),
         "liczba poza zakresem: plik zawiera liczbę, której nie da się zapisać"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.text);
        const std::string path = Write("bad.json", bad.text);
        EXPECT_NE(VsLoadDocuments(path.c_str()), 0);
        EXPECT_EQ(VsLastError(), bad.error);
        EXPECT_EQ(StoreBytes(), before);
        EXPECT_EQ(ReadFile(path), bad.text);
    }
    EXPECT_NE(VsLoadDocuments(Path("missing.json").c_str()), 0);
    EXPECT_NE(std::string(VsLastError()).find("nie da się otworzyć"), std::string::npos);
    EXPECT_EQ(StoreBytes(), before);

    // The good file loads.
    ASSERT_EQ(VsLoadDocuments(Write("good.json", kGoodFile).c_str()), 0) << VsLastError();
    EXPECT_EQ(VsHeaderCount(), 2);
    EXPECT_EQ(VsLineCount(1), 1);
    EXPECT_EQ(VsLineCount(2), 1);
}

TEST_F(DocumentFile, MoneyIsWrittenAsTheRecordHoldsItAndLineEndsAreKept) {
    // 75.19999999999999 holds 752,000 ten-thousandths; written back as 75.2.
    const std::string file = Changed(
        Changed(kGoodFile, R"("remarks": "")", R"("gross": 75.19999999999999)"), "\n", "\r\n");
    const std::string path = Write("crlf.json", file);
    ASSERT_EQ(VsLoadDocuments(path.c_str()), 0) << VsLastError();
    DocumentHeader header;
    VsGetHeader(1, &header);
    EXPECT_EQ(header.gross_value, 752000.0);
    // Three decimals of units are whole thousandths, though 1.005 is not
    // exact in binary.
    const std::string units =
        Write("units.json", Changed(file, R"("quantity": 2000)", R"("units": 1.005)"));
    ASSERT_EQ(VsLoadDocuments(units.c_str()), 0) << VsLastError();
    ASSERT_EQ(VsLoadDocuments(path.c_str()), 0) << VsLastError();
    ASSERT_EQ(VsSaveDocuments(path.c_str()), 0) << VsLastError();
    const std::string saved = ReadFile(path);
    EXPECT_NE(saved.find("\"gross\": 75.2,\r\n"), std::string::npos) << saved;
    EXPECT_EQ(saved.find("gross_stored"), std::string::npos);
    EXPECT_EQ(saved.find("\r\n", saved.size() - 2), saved.size() - 2) << "ends in CRLF";
    size_t bare = 0;
    for (size_t i = 0; i < saved.size(); ++i)
        bare += saved[i] == '\n' && (i == 0 || saved[i - 1] != '\r');
    EXPECT_EQ(bare, 0u) << "every line end CRLF, as in the file it replaced";
}

TEST_F(DocumentFile, SaveReplacesTheFileWholeOrNotAtAll) {
    ASSERT_EQ(VsLoadDocuments(kSample), 0) << VsLastError();
    const std::string target = Write("shop.json", "old contents");
    ASSERT_EQ(VsSaveDocuments(target.c_str()), 0) << VsLastError();
    EXPECT_EQ(ReadFile(target), ReadFile(Path("shop.json")));
    EXPECT_NE(ReadFile(target), "old contents");
    EXPECT_FALSE(fs::exists(target + ".tmp"));

    // A target that cannot be replaced (a folder) stays as it is, the error is
    // reported and no temporary file is left behind.
    fs::create_directories(folder / "taken");
    EXPECT_NE(VsSaveDocuments(Path("taken").c_str()), 0);
    EXPECT_NE(std::string(VsLastError()).find("taken"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(folder / "taken"));
    EXPECT_FALSE(fs::exists(Path("taken") + ".tmp"));
}

}  // namespace
