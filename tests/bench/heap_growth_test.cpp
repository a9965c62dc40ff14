// The stand-in's heap as a list grows in fixed steps: small blocks move at
// every change, large ones grow in place into a reserve, strict mode moves
// every block. Contents are kept and new bytes read as zero throughout.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/host_api.h"
#include "standin/veldan_control.h"

namespace {

constexpr uint32_t kStep = 30 * 56;  // thirty order entries
constexpr uint32_t kInPlaceFrom = 64 * 1024;

struct Growth {
    int moves_below = 0;  // while the block was smaller than kInPlaceFrom
    int moves_above = 0;
    int steps = 0;
};

// Grows a block step by step to `size`, filling what each step gained and
// checking that nothing before was lost and that the gain came zeroed.
Growth GrowTo(uint32_t size) {
    Growth growth;
    unsigned char* block = nullptr;
    uint32_t length = 0;
    while (length < size) {
        const uint32_t grown = length + kStep;
        auto* moved = static_cast<unsigned char*>(HostRealloc(block, grown));
        EXPECT_NE(moved, nullptr);
        if (moved == nullptr)
            break;
        for (uint32_t i = 0; i < length; ++i)
            if (moved[i] != static_cast<unsigned char>(i * 7 + 1)) {
                ADD_FAILURE() << "byte " << i << " lost growing to " << grown;
                break;
            }
        for (uint32_t i = length; i < grown; ++i)
            if (moved[i] != 0) {
                ADD_FAILURE() << "byte " << i << " not zero growing to " << grown;
                break;
            }
        for (uint32_t i = length; i < grown; ++i)
            moved[i] = static_cast<unsigned char>(i * 7 + 1);
        if (block != nullptr && moved != block)
            ++(length < kInPlaceFrom ? growth.moves_below : growth.moves_above);
        block = moved;
        length = grown;
        ++growth.steps;
    }
    HostFree(block);
    return growth;
}

TEST(HeapGrowth, LargeBlocksGrowInPlaceSmallOnesMoveEveryTime) {
    VsReset();
    VsSetStrict(0);  // the suite may run strict by default
    const Growth growth = GrowTo(1024 * 1024);
    const int small_steps = (kInPlaceFrom + kStep - 1) / kStep;
    EXPECT_EQ(growth.moves_below, small_steps - 1) << "every change of a small block moves it";
    // Each move leaves room for as much again: from 64 KiB to 1 MiB that is
    // about four doublings, where moving at every step would be hundreds.
    EXPECT_GE(growth.moves_above, 1);
    EXPECT_LE(growth.moves_above, 6);
    EXPECT_EQ(VsOutstanding(kVsHeapBlocks), 0);
    EXPECT_EQ(VsHeapErrors(), 0);
}

TEST(HeapGrowth, ShrinkingAndRegrowingInPlaceShowsZeroNotOldBytes) {
    VsReset();
    VsSetStrict(0);
    auto* block = static_cast<unsigned char*>(HostRealloc(nullptr, 100 * 1024));
    block = static_cast<unsigned char*>(HostRealloc(block, 200 * 1024));  // moves, with reserve
    memset(block, 0xAB, 200 * 1024);
    auto* same = static_cast<unsigned char*>(HostRealloc(block, 150 * 1024));
    ASSERT_EQ(same, block) << "a large block shrinks in place";
    same = static_cast<unsigned char*>(HostRealloc(block, 300 * 1024));
    ASSERT_EQ(same, block) << "and grows again within its reserve";
    EXPECT_EQ(block[150 * 1024 - 1], 0xAB);
    for (uint32_t i = 150 * 1024; i < 300 * 1024; i += 4096)
        ASSERT_EQ(block[i], 0) << i;
    EXPECT_EQ(block[300 * 1024 - 1], 0);
    HostFree(block);
    EXPECT_EQ(VsHeapErrors(), 0);
}

TEST(HeapGrowth, StrictModeMovesEveryBlockAtEveryChange) {
    VsReset();
    VsSetStrict(1);
    const Growth growth = GrowTo(256 * 1024);
    EXPECT_EQ(growth.moves_below + growth.moves_above, growth.steps - 1);
    EXPECT_EQ(VsHeapErrors(), 0);
}

}  // namespace
