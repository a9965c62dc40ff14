// The fallback rules and the return routines, without any host library.
#include <gtest/gtest.h>

#include <set>
#include <string_view>

#include "frame/host_binding.h"
#include "register_call.h"

namespace {

constexpr RegisterSet kSeed = {0x1111A0A0, 0x2222B1B1, 0x3333C2C2, 0x4444D3D3,      0x5555E4E4,
                               0x6666F5F5, 0x77770606, 0,          kArithmeticFlags};

// Calls a do-nothing routine with words arguments and checks that it returns
// 0, removes removed_words of them and leaves every other register alone.
void ExpectZeroReturn(void* routine, uint32_t words, uint32_t removed_words) {
    uint32_t args[16];
    for (uint32_t i = 0; i < 16; ++i)
        args[i] = 0xA5000000 + i;
    RegisterSet at_call{}, after{};
    EXPECT_EQ(CallWithRegisters(routine, args, words, &kSeed, &at_call, &after), 0u);
    ExpectCallerKept(kSeed, at_call, after, 4 * removed_words);
}

}  // namespace

// The rule reads an ordinal's digits, so these tests write ordinals as numbers
// on purpose.
TEST(FallbackRule, LastTwoDigitsNameTheMember) {
    struct Case {
        uint32_t ordinal;
        int member;
    };
    const Case cases[] = {
        {32008, 2},  {50516, 4}, {50704, 1},  {32699, 0},  {52030, -1}, {21260, -1},
        {20000, 0},  {20004, 1}, {20056, 14}, {20057, -1}, {20001, -1}, {20003, -1},
        {20098, -1}, {20099, 0}, {52256, 14}, {52028, 7},  {52300, 0},  {21286, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ordinal);
        EXPECT_EQ(FallbackMember(c.ordinal), c.member);
        EXPECT_EQ(ChooseFallback(c.ordinal), c.member < 0 ? nullptr : ZeroFallback[c.member]);
    }
}

TEST(FallbackRule, EveryEntryFallsBackOnlyToAMemberThatFitsItsCalls) {
    std::set<uint32_t> refitted;
    for (const HostEntryDescriptor& entry : kHostEntries) {
        SCOPED_TRACE(entry.name);
        const int digit_member = FallbackMember(entry.ordinal);
        const int member = EntryFallbackMember(entry);
        if (digit_member < 0) {
            EXPECT_EQ(member, -1);
            continue;
        }
        ASSERT_GE(member, 0);
        if (entry.convention == HostConvention::kCdecl)
            EXPECT_EQ(member, 0);
        else
            EXPECT_EQ(4 * member, entry.argument_bytes);
        if (member != digit_member)
            refitted.insert(entry.ordinal);
    }
    // Exactly the ordinals of host/host_operations.h whose digits name a
    // member other than the one their arguments need (none for a cdecl call).
    std::set<uint32_t> misnamed;
#define HOST_MISNAMED(name, ordinal, convention, bytes, result, params)                      \
    if (const int named = FallbackMember(ordinal);                                           \
        named >= 0 && named != (std::string_view(#convention) == "CDECL" ? 0 : (bytes) / 4)) \
        misnamed.insert(ordinal);
    HOST_OPERATIONS(HOST_MISNAMED)
#undef HOST_MISNAMED
    EXPECT_FALSE(misnamed.empty());
    EXPECT_EQ(refitted, misnamed);
}

TEST(ReturnRoutines, EveryMemberReturnsZeroAndRemovesItsArguments) {
    std::set<void*> addresses;
    for (uint32_t n = 0; n < kZeroFallbackMembers; ++n) {
        SCOPED_TRACE(n);
        // Member 0 serves caller-cleans calls with any number of arguments.
        ExpectZeroReturn(ZeroFallback[n], n == 0 ? 5 : n, n);
        addresses.insert(ZeroFallback[n]);
    }
    EXPECT_EQ(addresses.size(), static_cast<size_t>(kZeroFallbackMembers));
}

TEST(EntryTables, AssemblyAndDescriptorsDescribeTheSameEntries) {
    ASSERT_EQ(HostEntryCountInAssembly, kHostEntryCount);
    std::set<void*> binders;
    for (size_t i = 0; i < kHostEntryCount; ++i) {
        EXPECT_EQ(HostEntryTargets[i], HostEntryBinders[i]) << kHostEntries[i].name;
        EXPECT_EQ(EntryState(i), HostEntryState::kUnbound);
        binders.insert(HostEntryBinders[i]);
    }
    EXPECT_EQ(binders.size(), kHostEntryCount);
    EXPECT_EQ(kHostEntries[static_cast<size_t>(HostEntryId::HostConvertText)].ordinal, 52158);
}
