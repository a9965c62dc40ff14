// The document file: the sample loads, everything round-trips, a bad file
// names the record and field and leaves the store alone, saving is atomic.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "records.h"
#include "tests/support/child_process.h"

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
    EXPECT_DOUBLE_EQ(test::LineValue(line), 64.0);

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
    DocumentHeader twin = test::Header(101, 9, "ZK/1/2026-bis");
    const int32_t no_date = 20260230;
    memcpy(twin.issue_date, &no_date, sizeof no_date);
    VsAddHeader(&twin);
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

TEST_F(DocumentFile, BadFileNamesRecordAndFieldAndLeavesTheStoreAlone) {
    ASSERT_EQ(VsLoadDocuments(kSample), 0) << VsLastError();
    const std::string before = StoreBytes();
    const std::string good_line =
        R"({"text": "Mąka", "quantity": 1000, "article": [11, 1], "unit_price": 3.2})";
    auto file = [&](const std::string& header, const std::string& line = "") {
        return R"({"headers": [{"number": "ZK/1", "document_id": 1, "lines": [)" + good_line +
               "]}, {" + header + R"(, "lines": [)" + good_line + (line.empty() ? "" : ", ") +
               line + "]}]}";
    };
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {file(R"("number": "ZK/12345678901/2026")"),
         "headers[1].number: longer than 16 characters"},
        {file(R"("remarks": "Cena 5 €")"),
         "headers[1].remarks: character U+20AC is not in the Mazovia code page"},
        {file(R"("remarks": ")" + std::string(101, 'x') + "\""),
         "headers[1].remarks: longer than 100 characters"},
        {file(R"("date": "2026-02-29")"), "headers[1].date: no such date"},
        {file(R"("date": "2.3.2026")"), "headers[1].date: must be a text YYYY-MM-DD"},
        {file(R"("customer": 40000)"), "headers[1].customer: out of range -32768 to 32767"},
        {file(R"("document_id": "7")"), "headers[1].document_id: must be a whole number"},
        {file(R"("colour": "red")"), "headers[1].colour: unknown field"},
        {file(R"("number": "x")", R"({"quantity": 1.5})"),
         "headers[1].lines[1].quantity: must be a whole number"},
        {file(R"("number": "x")", R"({"units": 0.0005})"),
         "headers[1].lines[1].units: must be whole thousandths within 32 bits"},
        {file(R"("number": "x")", R"({"article": [11]})"),
         "headers[1].lines[1].article: must be [first part, second part]"},
        {file(R"("number": "x")", R"({"article": [11, 70000]})"),
         "headers[1].lines[1].article[1]: must be a 16-bit whole number"},
        {file(R"("number": "x")", R"({"text": ")" + std::string(121, 'y') + "\"}"),
         "headers[1].lines[1].text: longer than 120 characters"},
        {R"({"header": []})", "document file.header: unknown field"},
        {R"({"headers": {}})", "headers: must be a list"},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE(bad.text);
        EXPECT_NE(VsLoadDocuments(Write("bad.json", bad.text).c_str()), 0);
        EXPECT_EQ(VsLastError(), bad.error);
        EXPECT_EQ(StoreBytes(), before);
    }
    EXPECT_NE(VsLoadDocuments(Write("broken.json", R"({"headers": [)").c_str()), 0);
    EXPECT_EQ(std::string(VsLastError()).rfind("document file: ", 0), 0u) << VsLastError();
    EXPECT_NE(VsLoadDocuments(Path("missing.json").c_str()), 0);
    EXPECT_NE(std::string(VsLastError()).find("cannot be opened"), std::string::npos);
    EXPECT_EQ(StoreBytes(), before);

    // The same file without its faults loads.
    ASSERT_EQ(VsLoadDocuments(Write("good.json", file(R"("number": "x")")).c_str()), 0)
        << VsLastError();
    EXPECT_EQ(VsHeaderCount(), 2);
    EXPECT_EQ(VsLineCount(0), 1);
    EXPECT_EQ(VsLineCount(1), 1);
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
