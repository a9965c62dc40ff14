// The shop the tests play, declared once: one customer with two orders that
// a WZ of theirs is compared with (A partly delivered by it, B used up by it),
// 31 more orders of the same customer so that the order list needs a second
// block, an order of another customer, and the WZ. A test of one road seeds
// the part it needs (SeedOrderAndWz); the reliability roads all of it (Seed),
// A the last header in storage order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_records.h"

namespace shop {

inline constexpr int16_t kCustomer = 7;
inline constexpr int16_t kOtherCustomer = 8;
inline constexpr int32_t kOrderA = 100;
inline constexpr int32_t kOrderB = 110;
inline constexpr int32_t kOtherOrder = 300;
inline constexpr int32_t kWz = 200;
inline constexpr int32_t kFirstFiller = 1000;
inline constexpr int kFillers = 31;
inline constexpr int kRowOfB = kFillers;      // rows follow storage order
inline constexpr int kRowOfA = kFillers + 1;  // the last row
inline constexpr int32_t kDate = 20240105;    // yyyymmdd, as the stand-in keeps dates

// The documents as the store keeps them (undated, gross 0). The lines carry
// no prices, so the host's recomputations after a change leave every value
// at 0 and a record's bytes say only what the plug-in did.
DocumentHeader OrderA(const std::string& remarks);  // "ZK 1/2024"
std::vector<DocumentItem> ArticlesOfA();            // its three article lines
DocumentHeader OtherOrder();                        // the other customer's "ZK 9/2024"
std::vector<DocumentItem> LinesOfOtherOrder();
DocumentHeader Wz();  // "WZ 5/2024", not compared yet
// A delivery in part, an article not on the order, one unit over the order
// and a text line without article.
std::vector<DocumentItem> WzLines();

// The part a road's test needs: A with its article lines and the remarks
// given, the other customer's order, and the WZ with its lines, each made
// what line makes of it.
void SeedOrderAndWz(const std::string& remarks_of_a, DocumentItem (*line)(DocumentItem) = nullptr);

// All of it, every order dated; with compared_before the WZ carries the
// marker 2000 and the remarks an earlier comparison gave it.
void Seed(bool compared_before = false);
// The first fillers' gross values made ones a host's records may hold and
// its floating-point settings may fault on: a signalling and a quiet NaN,
// infinity, a denormal and the largest double.
void GiveFillersOddGrossValues();
std::vector<int32_t> Documents();  // every document identifier of the shop
std::string RemarksOf(int32_t order);
std::string EarlierRemarks();  // the WZ's remarks when compared before

// The stored lines of A after the WZ was applied to it (B keeps no article
// line), and the WZ's lines as the comparison with either order marks them.
std::vector<DocumentItem> LinesOfAAfterWz();
std::vector<DocumentItem> WzLinesAfterComparison();

}  // namespace shop
