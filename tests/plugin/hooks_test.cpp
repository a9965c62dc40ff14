// The chaining contract of both hooks, seen from the host's own hooks behind
// them, and installing and removing them more than once.
#include <cstring>

#include "plugin_host.h"

namespace {

class Chaining : public PluginHost {};

std::vector<uint32_t> LastArguments(int32_t table) {
    const uint32_t* args = VsHostHookLastArguments(table);
    return std::vector<uint32_t>(args, args + 11);
}

}  // namespace

TEST_F(Chaining, UnhandledEventsReachTheHostsHooksIntact) {
    StartAndInstall();
    const int calls = VsTotalCalls();

    // Line table: another event; then event 239 with a key other than 806.
    // The 16-bit arguments arrive with garbage above them and go on widened
    // with zeros; every other slot goes on as it came.
    VsSetHostHookResult(45, -123456);
    const uint32_t other[11] = {240,        0xABCDFFFF, 0xFFFFFFFF, 0x80000000, 5,         6,
                                0x7FFFFFFF, 8,          9,          0x12348001, 0xDEADBEEF};
    EXPECT_EQ(VsRaiseEvent(45, other), -123456);
    EXPECT_EQ(VsHostHookEvents(45), 1);
    EXPECT_EQ(LastArguments(45), (std::vector<uint32_t>{240, 65535, 0xFFFFFFFF, 0x80000000, 5, 6,
                                                        0x7FFFFFFF, 8, 9, 0x8001, 0xDEADBEEF}));

    const uint32_t key805[11] = {239, 805, 1, 2, 3, 4, 5, 6, 7, 65535, 11};
    VsSetHostHookResult(45, 0x7FFFABCD);
    EXPECT_EQ(VsRaiseEvent(45, key805), 0x7FFFABCD);
    EXPECT_EQ(LastArguments(45), std::vector<uint32_t>(key805, key805 + 11));

    // Header table: another event, and the stored-header event with nothing
    // pending; a key of 65535 stays 65535.
    VsSetHostHookResult(44, 77);
    const uint32_t header_other[11] = {17153, 65535, 3, 4, 5, 6, 7, 8, 9, 0xFFFF, 0xFFFFFFFF};
    EXPECT_EQ(VsRaiseEvent(44, header_other), 77);
    EXPECT_EQ(LastArguments(44), std::vector<uint32_t>(header_other, header_other + 11));
    const uint32_t stored[11] = {17152, 0xFFFF0320, 0, 0, 0, 0, 0, 0, 0, 0x00010002, 1};
    EXPECT_EQ(VsRaiseEvent(44, stored), 77);
    EXPECT_EQ(LastArguments(44), (std::vector<uint32_t>{17152, 800, 0, 0, 0, 0, 0, 0, 0, 2, 1}));
    EXPECT_EQ(VsHostHookEvents(44), 2);

    EXPECT_EQ(VsTotalCalls(), calls) << "none of these events asks anything of the host";
    EXPECT_EQ(DialogCount(), 1) << "only the install notice";
}

TEST_F(Chaining, InstallingTwiceAndRemovingTwice) {
    const auto [headers, lines, host_header_hook, host_line_hook] = TableHooks();

    StartAndInstall();
    const TableEventHook our_header_hook = headers->hook;
    const TableEventHook our_line_hook = lines->hook;
    EXPECT_EQ(install_(0), 0);
    EXPECT_EQ(headers->hook, our_header_hook);
    EXPECT_EQ(lines->hook, our_line_hook);

    // One event reaches the host's hook once: nothing is chained twice.
    const uint32_t event[11] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    VsRaiseEvent(44, event);
    VsRaiseEvent(45, event);
    EXPECT_EQ(VsHostHookEvents(44), 1);
    EXPECT_EQ(VsHostHookEvents(45), 1);

    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(headers->hook, host_header_hook);
    EXPECT_EQ(lines->hook, host_line_hook);
    EXPECT_EQ(Stop(), 0);
    EXPECT_EQ(headers->hook, host_header_hook);
    EXPECT_EQ(lines->hook, host_line_hook);

    // Installed again after the stop: the host's hooks are chained again.
    EXPECT_EQ(install_(0), 0);
    EXPECT_EQ(headers->hook, our_header_hook);
    VsRaiseEvent(44, event);
    EXPECT_EQ(VsHostHookEvents(44), 2);
    Stop();
    EXPECT_EQ(headers->hook, host_header_hook);
}

TEST_F(Chaining, EmptyHostSlotEndsTheEventInsteadOfCrashing) {
    HostTable* lines = VsTable(45);
    const TableEventHook host_line_hook = lines->hook;
    lines->hook = nullptr;
    StartAndInstall();
    ASSERT_NE(lines->hook, nullptr);
    const uint32_t event[11] = {240, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(VsRaiseEvent(45, event), 0);
    Stop();
    EXPECT_EQ(lines->hook, nullptr) << "what was there is put back";
    lines->hook = host_line_hook;
}
