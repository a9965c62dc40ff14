#include "tests/support/shop.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "host/mazovia_text.h"
#include "standin/veldan_control.h"
#include "tests/support/host_store.h"

namespace shop {

using test_host::AddHeader;
using test_host::AddLine;
using test_host::MakeHeader;
using test_host::MakeLine;
using test_host::StoredHeader;

namespace {

DocumentHeader Dated(DocumentHeader header, double gross) {
    test_host::SetIssueDate(header, kDate);
    header.gross_value = gross;
    return header;
}

void Add(const DocumentHeader& header, const std::vector<DocumentItem>& lines,
         DocumentItem (*line)(DocumentItem) = nullptr) {
    AddHeader(header);
    for (const DocumentItem& each : lines)
        AddLine(header.document_id, line != nullptr ? line(each) : each);
}

// A with the text line it ends with in the whole shop.
std::vector<DocumentItem> LinesOfA() {
    std::vector<DocumentItem> lines = ArticlesOfA();
    lines.push_back(MakeLine("Transport", 0, 0, 0));
    return lines;
}

std::vector<DocumentItem> LinesOfB() {
    return {MakeLine("Śruby M6"_mz, 2000, 1, 1), MakeLine("Nakrętki M6"_mz, 3000, 2, 1)};
}

}  // namespace

DocumentHeader OrderA(const std::string& remarks) {
    return MakeHeader(kOrderA, 11, kCustomer, "ZK 1/2024", remarks.c_str());
}

std::vector<DocumentItem> ArticlesOfA() {
    return {MakeLine("Śruby M6"_mz, 5000, 1, 1), MakeLine("Nakrętki M6"_mz, 3000, 2, 1),
            MakeLine("Podkładki"_mz, 2000, 4, 1)};
}

DocumentHeader OtherOrder() {
    return MakeHeader(kOtherOrder, 31, kOtherCustomer, "ZK 9/2024", "inny klient");
}

std::vector<DocumentItem> LinesOfOtherOrder() {
    return {MakeLine("Śruby M6"_mz, 9000, 1, 1)};
}

DocumentHeader Wz() {
    return MakeHeader(kWz, 0, kCustomer, "WZ 5/2024", "");
}

std::vector<DocumentItem> WzLines() {
    return {MakeLine("Śruby M6"_mz, 2000, 1, 1), MakeLine("Wkręty"_mz, 1000, 3, 1),
            MakeLine("Nakrętki M6"_mz, 4000, 2, 1), MakeLine("Dostawa kurierem", 0, 0, 0)};
}

void SeedOrderAndWz(const std::string& remarks_of_a, DocumentItem (*line)(DocumentItem)) {
    Add(OrderA(remarks_of_a), ArticlesOfA());
    Add(OtherOrder(), LinesOfOtherOrder());
    Add(Wz(), WzLines(), line);
}

void Seed(bool compared_before) {
    Add(Dated(OtherOrder(), 90000.0), LinesOfOtherOrder());

    DocumentHeader wz = Wz();
    if (compared_before) {
        wz.compared_marker = kComparedMarker;
        strcpy(wz.remarks, EarlierRemarks().c_str());
    }
    Add(wz, WzLines());

    for (int i = 0; i < kFillers; ++i) {
        char number[17];
        snprintf(number, sizeof number, "ZK %d/2023", i + 1);
        const int32_t id = kFirstFiller + i;
        Add(Dated(MakeHeader(id, 5000 + i, kCustomer, number, ""), 10000.0 * (i + 1)),
            {MakeLine("Kołki"_mz, 1000, 9, 1)});
    }

    Add(Dated(MakeHeader(kOrderB, 12, kCustomer, "ZK 2/2024", RemarksOf(kOrderB).c_str()), 0.0),
        LinesOfB());
    Add(Dated(OrderA(RemarksOf(kOrderA)), 0.0), LinesOfA());
}

void GiveFillersOddGrossValues() {
    // Set as bits: a double passed by value may go through the floating-point
    // unit, which would fault on the signalling NaN or make it quiet.
    const uint64_t odd_values[] = {0x7FF0000000000001ull, 0x7FF8000000000000ull,
                                   0x7FF0000000000000ull, 1, 0x7FEFFFFFFFFFFFFFull};
    for (size_t i = 0; i < std::size(odd_values); ++i) {
        const int position = VsFindHeader(kFirstFiller + static_cast<int32_t>(i));
        DocumentHeader filler = StoredHeader(position);
        memcpy(&filler.gross_value, &odd_values[i], sizeof odd_values[i]);
        VsPutHeader(position, &filler);
    }
}

std::vector<int32_t> Documents() {
    std::vector<int32_t> documents = {kOtherOrder, kWz, kOrderB, kOrderA};
    for (int i = 0; i < kFillers; ++i)
        documents.push_back(kFirstFiller + i);
    return documents;
}

std::string RemarksOf(int32_t order) {
    return order == kOrderA ? "Dostawa do magazynu B"_mz.c_str() : "Zamówienie B, pilne"_mz.c_str();
}

std::string EarlierRemarks() {
    return "Zamówienie ZK 8/2023"_mz.c_str();
}

std::vector<DocumentItem> LinesOfAAfterWz() {
    std::vector<DocumentItem> lines = LinesOfA();
    lines[0].quantity = 3000;        // 5 ordered, 2 delivered
    lines.erase(lines.begin() + 1);  // delivered in full (and more): cleared, not stored
    return lines;
}

std::vector<DocumentItem> WzLinesAfterComparison() {
    std::vector<DocumentItem> lines = WzLines();
    strcpy(lines[1].text, "? Wkręty"_mz);
    strcpy(lines[2].text, "!1 Nakrętki M6"_mz);
    return lines;
}

}  // namespace shop
