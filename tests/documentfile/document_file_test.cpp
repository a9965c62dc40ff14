// The document file: the sample reads as the shop it describes, every stored
// byte round-trips, a bad file is refused with its kind, its place and words a
// shop can act on, and saving keeps what did not change as it was read.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

#include "documentfile/document_file.h"
#include "documentfile/record_fields.h"
#include "tests/support/host_store.h"

namespace {

using namespace document_file;
namespace fs = std::filesystem;

const char* const kSample = DOCUMENTFILE_DATA_DIR "/sample-shop.json";

DocumentFile Read(const std::string& bytes) {
    DocumentFile file;
    std::vector<Problem> problems;
    EXPECT_TRUE(ReadDocuments(bytes, file, problems)) << Describe(problems);
    return file;
}

TEST(DocumentFile, SampleReadsAsTheShopItDescribes) {
    DocumentFile file;
    std::vector<Problem> problems;
    ASSERT_TRUE(LoadDocumentFile(kSample, file, problems)) << Describe(problems);
    const DocumentSet& shop = file.documents;
    EXPECT_EQ(shop.headers.size(), 13u);
    const DocumentHeader& header = shop.headers[0];
    EXPECT_STREQ(header.number, "ZK/1/2026");
    EXPECT_EQ(header.customer, 1);
    EXPECT_EQ(header.document_id, 101);
    EXPECT_NE(header.second_id, 0);
    EXPECT_EQ(std::string(header.remarks, 20), "Zam. nr 14/03/2026 -");
    EXPECT_NE(strstr(header.remarks,
                     "\x9C"
                     "ucja"),
              nullptr)
        << "Ł as the Mazovia byte 0x9C";
    EXPECT_DOUBLE_EQ(header.gross_value, 1165000.0);  // 20 × 3.20 + 10 × 4.50 + 5 × 1.50
    EXPECT_EQ(GetDate(header), 20260302);

    const std::vector<DocumentItem>& lines = shop.lines.at(101);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_STREQ(lines[0].text, "M\x86ka pszenna typ 650, 1 kg");
    EXPECT_EQ(lines[0].quantity, 20000);
    EXPECT_EQ(lines[0].article_key_first, 11);
    EXPECT_EQ(lines[0].article_key_second, 1);
    EXPECT_DOUBLE_EQ(test_host::LineValue(lines[0]), 64.0);

    EXPECT_EQ(shop.headers[10].compared_marker, 2000);
    EXPECT_EQ(shop.headers[10].second_id, 0) << "issue notes are never offered as orders";
}

TEST(DocumentFile, ANewFileReadsBackEveryStoredByte) {
    DocumentFile sample;
    std::vector<Problem> problems;
    ASSERT_TRUE(LoadDocumentFile(kSample, sample, problems));
    DocumentSet shop = sample.documents;
    // Values that a plain displayed number would not give back: a gross value
    // that is no multiple of 1/10,000, a line value that is not quantity ×
    // price, a cleared header, negative zero, lines without a header, a date
    // that is no date, control bytes in a text.
    shop.headers[0].gross_value = 1234567.891011;
    DocumentItem& line = shop.lines[101][1];
    PutDouble(&line, kVsLineValueOffset, -0.0);
    line.value_150 = 1.0 / 3.0;
    line.value_202 = -0.0;
    line.text[0] = '\x02';
    shop.headers.push_back(DocumentHeader{});
    shop.lines[4242] = {line};
    DocumentHeader odd = test_host::MakeHeader(105, 5105, 9, "ZK/1/2026-bis");
    memcpy(reinterpret_cast<uint8_t*>(&odd) + kVsHeaderKindOffset, "ZK", 3);
    test_host::SetIssueDate(odd, 20260230);
    shop.headers.push_back(odd);

    const std::string text = WriteDocuments(shop, nullptr);
    const DocumentFile back = Read(text);
    EXPECT_TRUE(SameDocuments(back.documents, shop));
    EXPECT_EQ(WriteDocuments(back.documents, nullptr), text);
    EXPECT_NE(text.find("\"Mąka pszenna"), std::string::npos) << "texts in UTF-8";
    EXPECT_NE(text.find("\"article\": [11, 1]"), std::string::npos) << "as the sample lays it out";
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

TEST(DocumentFile, NumbersAreReadAndWrittenAsTheRecordHoldsThem) {
    // 75.19999999999999 holds 752,000 ten-thousandths and is written as 75.2;
    // three decimals of units are whole thousandths, though 1.005 is not
    // exact in binary.
    const DocumentFile file =
        Read(Changed(Changed(kGoodFile, R"("remarks": "")", R"("gross": 75.19999999999999)"),
                     R"("quantity": 2000)", R"("units": 1.005)"));
    EXPECT_EQ(file.documents.headers[1].gross_value, 752000.0);
    EXPECT_EQ(file.documents.lines.at(2)[0].quantity, 1005);
    const std::string text = WriteDocuments(file.documents, nullptr);
    EXPECT_NE(text.find("\"gross\": 75.2,\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("gross_stored"), std::string::npos);
    // Whole ten-thousandths that "gross" would not give back: beyond its range,
    // and from 1e15 on, where the division by 10,000 rounds.
    for (const double stored : {1e16, 3803788169513140.0}) {
        DocumentSet shop = file.documents;
        shop.headers[1].gross_value = stored;
        EXPECT_EQ(Read(WriteDocuments(shop, nullptr)).documents.headers[1].gross_value, stored);
    }
}

TEST(DocumentFile, BadFileIsRefusedWithItsKindPlaceAndWhatToWrite) {
    const std::string wz = "dokument WZ/1/2026 (nagłówek 2): ";
    const std::string wz_line = "dokument WZ/1/2026 (nagłówek 2, wiersz 1): ";
    const std::string syntax = "błąd składni JSON w dokumencie WZ/1/2026 (wiersz 3, kolumna ";
    std::string windows1250 = kGoodFile;
    windows1250[windows1250.find("ą")] = '\xB9';
    windows1250.erase(windows1250.find('\xB9') + 1, 1);
    const struct {
        std::string text;
        Fault kind;
        std::string error;
        std::string at = "";  // line:column of the first problem, where checked
    } cases[] = {
        // Missing fields: never taken as zero.
        {Changed(kGoodFile, R"("customer": 1, "document_id": 2)", R"("document_id": 2)"),
         Fault::kMissingField, wz + "brak pola „customer”", "3:2"},
        {Changed(kGoodFile, R"("quantity": 2000, )", ""), Fault::kMissingField,
         wz_line + "brak pola „quantity” (albo „units”)"},
        {Changed(kGoodFile, R"("article": [12, 1], )", ""), Fault::kMissingField,
         wz_line + "brak pola „article”"},
        {Changed(kGoodFile, R"("kind": "WZ", )", ""), Fault::kMissingField,
         wz + "brak pola „kind”"},
        // The kind against what makes an order.
        {Changed(kGoodFile, R"("second_id": 51, )", ""), Fault::kMissingField,
         "dokument ZK/1/2026 (nagłówek 1): brak pola „second_id”"},
        {Changed(kGoodFile, R"("second_id": 51)", R"("second_id": 0)"),
         Fault::kOrderWithoutSecondId,
         "dokument ZK/1/2026 (nagłówek 1): zamówienie (ZK) musi mieć pole „second_id” różne od 0"},
        {Changed(kGoodFile, R"("document_id": 2)", R"("second_id": 7, "document_id": 2)"),
         Fault::kIssueNoteWithSecondId,
         wz + "dokument WZ ma pole „second_id” równe 0 albo go nie ma; z innym byłby zamówieniem"},
        {Changed(kGoodFile, R"("kind": "WZ")", R"("kind": "FV")"), Fault::kBadKind,
         wz + "pole „kind” musi być „ZK” (zamówienie) albo „WZ” (wydanie), nie „FV”"},
        // Identifiers unique, lines with their document, every field once.
        {Changed(kGoodFile, R"("document_id": 2)", R"("document_id": 1)"), Fault::kRepeatedId,
         wz + "ten sam „document_id” (1) ma już dokument ZK/1/2026 (nagłówek 1)"},
        {Changed(kGoodFile, R"("WZ/1/2026")", R"("ZK/1/2026")"), Fault::kRepeatedNumber,
         "dokument ZK/1/2026 (nagłówek 2): ten sam numer ma już dokument ZK/1/2026 (nagłówek 1)"},
        {Changed(kGoodFile, R"("customer": 1, "document_id": 2)",
                 R"("customer": 7, "customer": 8, "document_id": 2)"),
         Fault::kRepeatedField,
         wz + "pole „customer” występuje dwa razy (w wierszu pliku 3); zostaw jedno z nich",
         "3:55"},
        {Changed(kGoodFile, R"("text": "Cukier", )", R"("text": "Cukier", "text": "Sól", )"),
         Fault::kRepeatedField,
         wz_line + "pole „text” występuje dwa razy (w wierszu pliku 3); zostaw jedno z nich"},
        {Changed(kGoodFile, "\n]}",
                 "\n], \"orphan_lines\": [{\"document_id\": 9, \"lines\": [" + kLine1 + "]}]}"),
         Fault::kLinesWithoutHeader,
         "wiersze bez nagłówka (grupa 1): nie ma dokumentu o „document_id” 9, do którego "
         "należałyby te wiersze"},
        {Changed(kGoodFile, "\n]}",
                 "\n], \"orphan_lines\": [{\"document_id\": 2, \"lines\": []}]}"),
         Fault::kLinesOfAHeader,
         "wiersze bez nagłówka (grupa 1): dokument o „document_id” 2 to dokument WZ/1/2026 "
         "(nagłówek 2); jego wiersze należą do jego pola „lines”"},
        // Texts within their fields and the code page.
        {Changed(kGoodFile, R"("WZ/1/2026")", R"("WZ/12345678901/2026")"), Fault::kTooLong,
         "dokument WZ/12345678901/2026 (nagłówek 2): pole „number” dłuższe niż 16 znaków (ma 19)"},
        {Changed(kGoodFile, R"("remarks": "")", R"("remarks": "Cena 5 – 6 €")"),
         Fault::kNotInCodePage,
         wz + "pole „remarks”: znak „–” (U+2013) nie występuje w stronie kodowej Mazovia"},
        {Changed(kGoodFile, R"("remarks": "")", R"("remarks": ")" + std::string(101, 'x') + "\""),
         Fault::kTooLong, wz + "pole „remarks” dłuższe niż 100 znaków (ma 101)"},
        {Changed(kGoodFile, R"("Cukier")", "\"" + std::string(121, 'y') + "\""), Fault::kTooLong,
         wz_line + "pole „text” dłuższe niż 120 znaków (ma 121)"},
        {Changed(kGoodFile, R"("WZ/1/2026")", "12"), Fault::kNotText,
         "nagłówek 2: pole „number” musi być tekstem w cudzysłowie, np. \"12\""},
        // Values of their type and range, with what to write instead.
        {Changed(kGoodFile, R"("remarks": "")", R"("date": "2026-02-29")"), Fault::kNoSuchDay,
         wz + "pole „date”: nie ma dnia 2026-02-29"},
        {Changed(kGoodFile, R"("remarks": "")", R"("date": "2.3.2026")"), Fault::kBadDate,
         wz + "pole „date” musi być datą RRRR-MM-DD, np. 2026-03-02"},
        {Changed(kGoodFile, R"("customer": 1, "document_id": 2)",
                 R"("customer": 40000, "document_id": 2)"),
         Fault::kOutOfRange, wz + "pole „customer” poza zakresem od -32768 do 32767"},
        {Changed(kGoodFile, R"("document_id": 2)", R"("document_id": "2")"), Fault::kNotWhole,
         wz + "pole „document_id” musi być liczbą całkowitą, bez cudzysłowu: 2"},
        {Changed(kGoodFile, R"("remarks": "")", R"("colour": "red")"), Fault::kUnknownField,
         wz + "nieznane pole „colour”"},
        {Changed(kGoodFile, R"("quantity": 2000)", R"("quantity": 1.5)"), Fault::kNotWhole,
         wz_line + "pole „quantity” musi być liczbą całkowitą: to tysięczne części jednostki "
                   "(1500 = 1,5 jednostki); ułamek jednostek można podać w polu „units”, np. 1.5"},
        {Changed(kGoodFile, R"("quantity": 2000)", R"("units": 0.0005)"), Fault::kUnitsTooFine,
         wz_line + "pole „units” może mieć najwyżej trzy miejsca po kropce (tysięczne części "
                   "jednostki), nie 0.0005"},
        {Changed(kGoodFile, R"("quantity": 2000)", R"("units": 3000000)"), Fault::kUnitsOutOfRange,
         wz_line + "pole „units” poza zakresem od -2147483.648 do 2147483.647"},
        {Changed(kGoodFile, R"("unit_price": 4.5)", R"("unit_price": "4,5")"), Fault::kNotNumber,
         wz_line + "pole „unit_price” musi być liczbą, z kropką zamiast przecinka i bez "
                   "cudzysłowu: 4.5"},
        {Changed(kGoodFile, R"("unit_price": 4.5)", R"("unit_price": 1e400)"),
         Fault::kNumberTooLarge,
         wz_line + "pole „unit_price”: liczba 1e400 jest poza zakresem, który program zapisuje"},
        // A price or value beyond money's range: a comparison's quantity would make the
        // host's recomputed value or total infinite, which no file can hold.
        {Changed(kGoodFile, R"("unit_price": 4.5)", R"("unit_price": 1e308)"),
         Fault::kMoneyOutOfRange,
         wz_line + "pole „unit_price” poza zakresem: najwyżej 14 cyfr przed kropką, nie 1e308"},
        {Changed(kGoodFile, R"("unit_price": 4.5})", R"("unit_price": 4.5, "value": -1e21})"),
         Fault::kMoneyOutOfRange,
         wz_line + "pole „value” poza zakresem: najwyżej 21 cyfr przed kropką, nie -1e21"},
        {Changed(kGoodFile, R"("unit_price": 4.5})", R"("unit_price": 4.5, "value": 1e12})"),
         Fault::kLinesValueOutOfRange,
         wz + "bez pola „gross” wartością brutto jest suma wartości wierszy, a ta jest poza "
              "zakresem",
         "3:2"},
        {Changed(kGoodFile, R"([12, 1])", R"([12, 70000])"), Fault::kBadArticle,
         wz_line + "pole „article” musi być parą liczb całkowitych od -32768 do 32767: [pierwsza "
                   "część, druga część]"},
        {R"({"header": []})", Fault::kUnknownField,
         "plik: nieznane pole „header”\nplik: brak pola „headers”"},
        {R"({"headers": {}})", Fault::kNotList, "plik: pole „headers” musi być listą [ … ]"},
        // Two problems, both listed.
        {Changed(Changed(kGoodFile, R"("kind": "WZ", )", ""), R"("quantity": 2000, )", ""),
         Fault::kMissingField,
         wz + "brak pola „kind”\n" + wz_line + "brak pola „quantity” (albo „units”)"},
        // Syntax, with line and column, and the document where the file named it.
        {Changed(kGoodFile, R"("customer": 1, "document_id": 2)",
                 R"("customer": 1 "document_id": 2)"),
         Fault::kMissingComma,
         syntax + "54): brakuje przecinka po wartości pola „customer”: pola obiektu oddziela „,”, "
                  "a obiekt zamyka „}”"},
        {Changed(kGoodFile, R"("unit_price": 4.5})", R"("unit_price": 4.5,})"),
         Fault::kTrailingComma,
         syntax + "172): po ostatnim polu obiektu stoi przecinek (przed „}”); usuń go"},
        {Changed(kGoodFile, R"([12, 1])", R"([12, 1,])"), Fault::kTrailingComma,
         syntax + "152): po ostatnim elemencie listy stoi przecinek (przed „]”); usuń go"},
        {Changed(kGoodFile, R"("unit_price": 4.5)", R"("unit_price": 4,5)"), Fault::kDecimalComma,
         syntax + "169): liczba „4,5” w polu „unit_price” z przecinkiem: część dziesiętną "
                  "oddziela kropka, napisz 4.5"},
        {Changed(kGoodFile, R"("kind": "WZ")", R"("kind": WZ)"), Fault::kUnknownWord,
         "błąd składni JSON (wiersz 3, kolumna 11): nieznane słowo „WZ”: tekst zapisuje się w "
         "cudzysłowie, np. \"WZ\"; bez cudzysłowu wolno pisać tylko liczby, true, false i null"},
        {Changed(kGoodFile, "{\"headers\": [\n", "{\"headers\": [ // zamówienia\n"),
         Fault::kComment,
         "błąd składni JSON (wiersz 1, kolumna 15): plik JSON nie może zawierać komentarzy (// "
         "albo /* */); usuń je"},
        {kGoodFile.substr(0, kGoodFile.size() - 3), Fault::kEndInside,
         "błąd składni JSON (wiersz 4, kolumna 1): plik się urywa: brakuje „]” zamykającego "
         "listę otwartą w wierszu 1, kolumnie 13"},
        {kGoodFile.substr(0, 44), Fault::kEndInside,
         "błąd składni JSON (wiersz 2, kolumna 31): plik się urywa: brakuje „\"” zamykającego "
         "tekst otwarty w wierszu 2, kolumnie 27"},
        {"", Fault::kEmptyFile,
         "plik jest pusty; plik dokumentów ma postać { \"headers\": [ … ] } (opis i przykład: "
         "docs/document-file.md)"},
        {"\xEF\xBB\xBF \r\n", Fault::kEmptyFile, "plik jest pusty", "2:1"},
        // Encoding.
        {windows1250, Fault::kNotUtf8,
         "plik nie jest zapisany w UTF-8 (wiersz 2, kolumna 111: bajt 0xB9, zapewne "
         "litera w kodowaniu Windows-1250); zapisz go w UTF-8"},
        {"\xFF\xFE{", Fault::kUtf16,
         "plik jest zapisany w UTF-16, a nie w UTF-8; zapisz go w UTF-8"},
        // A zero byte ends nothing; a file too large is not parsed at all.
        {kGoodFile + std::string(1, '\0') + "{}", Fault::kZeroByte,
         "w pliku stoi bajt o kodzie 0 (wiersz 5, kolumna 1)", "5:1"},
        {std::string(kLargestFile + 1, ' '), Fault::kTooLarge,
         "plik dokumentów może mieć najwyżej 16 MB (16777216 bajtów)"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.text);
        DocumentFile file;
        std::vector<Problem> problems;
        EXPECT_FALSE(ReadDocuments(bad.text, file, problems));
        ASSERT_FALSE(problems.empty());
        EXPECT_EQ(problems[0].kind, bad.kind);
        EXPECT_EQ(Describe(problems).substr(0, bad.error.size()), bad.error);
        if (!bad.at.empty()) {
            EXPECT_EQ(std::to_string(problems[0].line) + ":" + std::to_string(problems[0].column),
                      bad.at);
        }
        EXPECT_TRUE(file.documents.headers.empty()) << "a file with problems gives no documents";
    }
    EXPECT_TRUE(Read(kGoodFile).documents.lines.size() == 2);

    // A problem at every field: the first ones kept whole, every one counted.
    std::string headers = "{\"headers\": [{}";
    for (int i = 1; i < 300; ++i)
        headers += ", {}";
    DocumentFile file;
    std::vector<Problem> problems;
    EXPECT_FALSE(ReadDocuments(headers + "]}", file, problems));
    EXPECT_EQ(problems.size(), kKeptProblems + 1);
    EXPECT_EQ(ProblemCount(problems), 5u * 300);  // kind, number, customer, document_id, lines
    EXPECT_NE(Describe(problems).find("\n… i jeszcze 1460 błędów"), std::string::npos);
}

// A file as a shop writes it: units and quantities, a 0 and a 0.0, a gross
// given and one left to the lines, each document laid out its own way.
const std::string kShop = R"({
  "headers": [
    {"kind": "ZK", "number": "ZK/1/2026", "customer": 1, "second_id": 51, "document_id": 1,
     "lines": [
       {"text": "Mąka", "units": 5, "article": [11, 1], "unit_price": 3.2, "value_150": 0},
       {"text": "Sól", "quantity": 2000, "article": [13, 1], "unit_price": 1.5},
       {"text": "dostawa rano", "quantity": 0, "article": [0, 0], "unit_price": 0.0}
     ]},
    {
      "kind": "WZ",
      "number": "WZ/1/2026",
      "customer": 1,
      "document_id": 2,
      "gross": 16.0,
      "lines": [{"text": "Mąka", "quantity": 5000, "article": [11, 1], "unit_price": 3.2}]
    }
  ]
}
)";

// What the host does to a line whose quantity changes: its value follows.
void SetQuantity(DocumentSet& shop, int32_t id, size_t line, int32_t quantity) {
    DocumentItem& item = shop.lines[id][line];
    item.quantity = quantity;
    PutDouble(&item, kVsLineValueOffset, ComputedValue(item));
    for (DocumentHeader& header : shop.headers)
        if (header.document_id == id)
            header.gross_value = LinesValue(shop.lines[id]) * 10000.0;
}

TEST(DocumentFile, SavingKeepsWhatDidNotChangeAsItWasRead) {
    const std::string kSalt =
        R"({"text": "Sól", "quantity": 2000, "article": [13, 1], "unit_price": 1.5},)";
    const std::string kNote =
        R"({"text": "dostawa rano", "quantity": 0, "article": [0, 0], "unit_price": 0.0})";
    const std::string kIssued =
        R"("gross": 16.0,
      "lines": [{"text": "Mąka", "quantity": 5000, "article": [11, 1], "unit_price": 3.2}])";
    const struct {
        const char* change;
        std::function<void(DocumentSet&)> apply;
        std::vector<std::string> written;  // new in the file
        std::vector<std::string> kept;     // as the file had it
    } cases[] = {
        {"a quantity given in units",
         [](DocumentSet& shop) { SetQuantity(shop, 1, 0, 2500); },
         {R"({"text": "Mąka", "units": 2.5, "article": [11, 1], "unit_price": 3.2, "value_150": 0})"},
         {kSalt, kNote, kIssued}},
        {"a line dropped, a quantity changed",
         [](DocumentSet& shop) {
             shop.lines[1].erase(shop.lines[1].begin() + 1);
             SetQuantity(shop, 1, 0, 1000);
         },
         {R"("units": 1, "article")"},
         {R"("value_150": 0},
       )" + kNote +
              "\n     ]},",
          kIssued}},
        {"marker and remarks set, a text marked",
         [](DocumentSet& shop) {
             shop.headers[1].compared_marker = 2000;
             strcpy(shop.headers[1].remarks, "Zam. nr 5");
             strcpy(shop.lines[2][0].text, "? M\x86ka");
         },
         {"\"document_id\": 2,\n      \"marker\": 2000,\n      \"remarks\": \"Zam. nr 5\",\n"
          "      \"gross\": 16.0,",
          R"([{"text": "? Mąka", "quantity": 5000,)"},
         {kSalt, kNote, R"("units": 5, )"}},
        {"remarks copied shorter over longer ones, the old bytes left behind",
         [](DocumentSet& shop) {
             strcpy(shop.headers[1].remarks, "Dostawa rano, brama od ulicy Polnej");
             memcpy(shop.headers[1].remarks, "Zam. 5", 7);
         },
         {"\"document_id\": 2,\n      \"remarks\": \"Zam. 5\",\n      \"gross\": 16.0,"},
         {kSalt, kNote, R"("units": 5, )"}},
        {"an order cleared, its text line left",
         [](DocumentSet& shop) {
             shop.headers[0] = DocumentHeader{};
             shop.lines[1] = {shop.lines[1][2]};
         },
         {"    {\"cleared\": true},\n",
          "\"orphan_lines\": [\n    {\n      \"document_id\": 1,\n      \"lines\": [\n        {\n"
          "          \"text\": \"dostawa rano\",\n          \"quantity\": 0,"},
         {kIssued}},
    };
    for (const std::string newline : {"\n", "\r\n"}) {
        std::string shop_text;
        for (const char c : kShop)
            c == '\n' ? shop_text += newline : shop_text += c;
        const DocumentFile before = Read(shop_text);
        EXPECT_EQ(WriteDocuments(before.documents, &before), shop_text) << "no change, same bytes";
        for (const auto& change : cases) {
            SCOPED_TRACE(std::string(change.change) + (newline == "\n" ? ", LF" : ", CRLF"));
            DocumentSet documents = before.documents;
            change.apply(documents);
            const std::string saved = WriteDocuments(documents, &before);
            EXPECT_TRUE(SameDocuments(Read(saved).documents, documents));
            std::string lf = saved;
            for (size_t at = lf.find("\r\n"); at != std::string::npos; at = lf.find("\r\n", at))
                lf.erase(at, 1);
            EXPECT_EQ(lf.find('\r'), std::string::npos);
            EXPECT_EQ(saved.size() - lf.size(),
                      newline == "\n" ? 0 : std::count(lf.begin(), lf.end(), '\n'))
                << "every line end as the file has them";
            for (const std::string& piece : change.written)
                EXPECT_NE(lf.find(piece), std::string::npos) << piece << "\n" << lf;
            for (const std::string& piece : change.kept)
                EXPECT_NE(lf.find(piece), std::string::npos) << piece << "\n" << lf;
        }
    }
}

TEST(DocumentFile, FilesAreReplacedWholeOrNotAtAllAndFoundByAnyName) {
    // A folder and a file named with letters outside the system's ANSI code page.
    const fs::path folder = fs::temp_directory_path() / fs::path(u8"dokumenty-łódź") /
                            std::to_string(::testing::UnitTest::GetInstance()->random_seed());
    fs::create_directories(folder);
    const fs::path path = folder / fs::path(u8"sklep-łódź.json");
    std::ofstream(path, std::ios::binary) << kShop;
    const std::u8string utf8 = path.u8string();
    const std::string name(utf8.begin(), utf8.end());

    DocumentFile file;
    std::vector<Problem> problems;
    ASSERT_TRUE(LoadDocumentFile(name, file, problems)) << Describe(problems);
    // Unchanged, the file is not written at all: not even a read-only one.
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::remove);
    Problem problem;
    EXPECT_TRUE(SaveDocumentFile(name, file.documents, &file, problem));
    DocumentSet changed = file.documents;
    SetQuantity(changed, 1, 0, 1000);
    fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
    ASSERT_TRUE(SaveDocumentFile(name, changed, &file, problem)) << Describe(problem);
    ASSERT_TRUE(LoadDocumentFile(name, file, problems));
    EXPECT_TRUE(SameDocuments(file.documents, changed));
    EXPECT_FALSE(fs::exists(name + ".tmp"));

    // A target that cannot be replaced (a folder) stays as it is, the error
    // names it and no temporary file is left behind.
    const fs::path taken = folder / "taken";
    fs::create_directories(taken);
    EXPECT_FALSE(SaveDocumentFile(taken.string(), changed, nullptr, problem));
    EXPECT_EQ(problem.kind, Fault::kCannotReplace);
    EXPECT_NE(Describe(problem).find("taken"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(taken));
    EXPECT_FALSE(fs::exists(taken.string() + ".tmp"));
    EXPECT_FALSE(LoadDocumentFile((folder / "missing.json").string(), file, problems));
    EXPECT_EQ(problems.at(0).kind, Fault::kCannotOpen);
    std::error_code ignored;
    fs::remove_all(folder.parent_path(), ignored);
}

}  // namespace
