// Many generated orders and WZs, each compared through the stand-in host and
// checked against a small model of the deduction rule written from its
// description: per WZ article line, the matching order lines in order give
// what they hold until the WZ line is covered; a WZ line whose article was on
// no order line is marked "? ", one left uncovered "!<whole units> ". A
// return (a negative line) first takes back what earlier lines of the WZ
// were marked over the order; the rest goes to the first open line of its
// article or, with all of them used up, brings the first of them back.
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "reconcile/document_comparison.h"
#include "reconcile_scenario.h"

namespace reconcile_test {
namespace {

struct ModelLine {
    int16_t article;
    int16_t variant;
    int64_t quantity;
    std::string text;
    bool gone = false;
};

struct Expected {
    std::vector<ModelLine> order_left;
    std::vector<std::string> wz_texts;
    bool header_cleared = false;
    int line_updates = 0;   // order lines that kept a rest
    int lines_handled = 0;  // order lines that took part in a deduction
    int marked = 0;
};

Expected Model(std::vector<ModelLine> order, const std::vector<ModelLine>& wz) {
    Expected out;
    std::vector<int64_t> over(order.size(), 0);  // per article, on its first order line
    for (const ModelLine& w : wz) {
        std::string text = w.text;
        const auto first = std::find_if(order.begin(), order.end(), [&](const ModelLine& o) {
            return o.article != 0 && o.article == w.article && o.variant == w.variant;
        });
        if (w.article != 0 && first == order.end()) {
            text = "? " + text;  // the order never held the article
        } else if (w.article != 0) {
            int64_t& marked_over = over[static_cast<size_t>(first - order.begin())];
            int64_t uncovered = w.quantity;
            // A return first takes back what earlier lines were marked over.
            const int64_t back = uncovered < 0 ? std::min(marked_over, -uncovered) : 0;
            marked_over -= back;
            uncovered += back;
            bool matched = false;
            for (ModelLine& o : order) {
                if (back != 0 && uncovered == 0)
                    break;
                if (uncovered == 0 && matched)
                    break;
                if (o.gone || o.article == 0 || o.article != w.article || o.variant != w.variant)
                    continue;
                matched = true;
                ++out.lines_handled;
                if (o.quantity > uncovered) {
                    o.quantity -= uncovered;
                    uncovered = 0;
                    ++out.line_updates;
                } else {
                    uncovered -= o.quantity;
                    o.gone = true;
                }
            }
            // Every line of the article used up: a return brings the first back.
            if (!matched && uncovered < 0) {
                first->gone = false;
                first->quantity = -uncovered;
                uncovered = 0;
                ++out.lines_handled;
                ++out.line_updates;
            }
            if (uncovered > 0) {
                text = "!" + std::to_string(uncovered / 1000) + " " + text;
                marked_over += uncovered;
            }
        }
        if (text != w.text)
            ++out.marked;
        out.wz_texts.push_back(text.substr(0, 120));
    }
    out.header_cleared = true;
    for (const ModelLine& o : order) {
        if (o.gone)
            continue;
        out.order_left.push_back(o);
        if (o.article != 0)
            out.header_cleared = false;
    }
    return out;
}

class Generator {
  public:
    explicit Generator(uint32_t seed) : random_(seed) {}

    int Below(int n) { return std::uniform_int_distribution<int>(0, n - 1)(random_); }

    std::vector<ModelLine> Lines(const char* prefix, int max_count) {
        std::vector<ModelLine> lines;
        const int count = Below(max_count + 1);
        for (int i = 0; i < count; ++i) {
            ModelLine line;
            line.article = static_cast<int16_t>(Below(10) == 0 ? 0 : 1 + Below(3));
            line.variant = static_cast<int16_t>(1 + Below(2));
            line.quantity = Quantity();
            line.text = Below(20) == 0 ? std::string(119, 'a' + static_cast<char>(Below(26)))
                                       : prefix + std::to_string(i);
            lines.push_back(line);
        }
        return lines;
    }

  private:
    int64_t Quantity() {
        static const int64_t kEdges[] = {0, 500, 1000, 2999, 3000, 5000, -2000};
        if (Below(3) == 0)
            return kEdges[Below(7)];
        return std::uniform_int_distribution<int64_t>(-3000, 12000)(random_);
    }

    std::mt19937 random_;
};

DocumentItem ToRecord(const ModelLine& line) {
    return Patterned(MakeLine(line.text.c_str(), static_cast<int32_t>(line.quantity), line.article,
                              line.variant));
}

class DeductionModel : public HostScenario {};

TEST_F(DeductionModel, GeneratedOrdersAndWzsMatchTheModel) {
    Generator generate(20240315);
    for (int n = 0; n < 400 && !HasFailure(); ++n) {
        SCOPED_TRACE("case " + std::to_string(n));
        VsReset();
        // Every record and line array the host hands out ends at a page that
        // may not be touched: a step past one ends the test.
        VsSetStrict(1);
        const std::vector<ModelLine> order = generate.Lines("Z", 8);
        const std::vector<ModelLine> wz_model = generate.Lines("W", 6);
        const Expected expected = Model(order, wz_model);

        const int before = generate.Below(3);
        for (int i = 0; i < before; ++i) {
            const DocumentHeader other = Patterned(MakeOrder(500 + i, 1, "inne"));
            VsAddHeader(&other);
        }
        const DocumentHeader header = Patterned(MakeOrder(700, 1, "ZK/700", "model"));
        const int position = VsAddHeader(&header);
        for (const ModelLine& line : order) {
            const DocumentItem record = ToRecord(line);
            VsAddLine(700, &record);
        }
        std::vector<DocumentItem> wz;
        for (const ModelLine& line : wz_model)
            wz.push_back(ToRecord(line));
        auto pointers = Pointers(wz);
        char remarks[101];

        ASSERT_EQ(
            PorownajDokumentyZeSoba(700, pointers.data(), static_cast<int32_t>(wz.size()), remarks),
            1);

        const std::vector<DocumentItem> stored = StoredLines(700);
        ASSERT_EQ(stored.size(), expected.order_left.size());
        for (size_t i = 0; i < stored.size(); ++i) {
            const ModelLine& left = expected.order_left[i];
            EXPECT_EQ(stored[i].article_key_first, left.article) << "order line " << i;
            EXPECT_EQ(stored[i].article_key_second, left.variant) << "order line " << i;
            EXPECT_EQ(stored[i].quantity, left.quantity) << "order line " << i;
            EXPECT_EQ(Text(stored[i].text), left.text) << "order line " << i;
        }
        for (size_t i = 0; i < wz.size(); ++i) {
            EXPECT_EQ(Text(wz[i].text, sizeof wz[i].text), expected.wz_texts[i]) << "WZ line " << i;
            EXPECT_EQ(wz[i].value_150, wz_model[i].article != 0 ? 0.0 : 9.5) << "WZ line " << i;
            EXPECT_EQ(wz[i].quantity, wz_model[i].quantity) << "WZ line " << i;
        }
        const DocumentHeader after = StoredHeader(position);
        if (expected.header_cleared)
            EXPECT_TRUE(VsCleared(after));
        else
            EXPECT_EQ(after.document_id, 700);
        EXPECT_EQ(Text(remarks), "model");
        EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLine), expected.line_updates);
        EXPECT_EQ(VsCallCount(kOrdinalHostUpdateLines), expected.lines_handled);
        EXPECT_EQ(VsCallCount(kOrdinalHostCopyText), expected.marked);
        EXPECT_EQ(Unreturned(), "");
    }
}

}  // namespace
}  // namespace reconcile_test
