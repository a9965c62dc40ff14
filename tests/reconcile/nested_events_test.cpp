// The guard against nested events: which events count as raised from inside
// the active run, also after a host left a run without returning through it.
#include <gtest/gtest.h>

#include <csetjmp>
#include <thread>
#include <vector>

#include "reconcile/nested_events.h"

namespace {

EventGuard guard;
std::jmp_buf host_loop;
std::vector<bool> nested;  // of each event, in order

// An event whose handling raises inner more, one inside the other, and then
// leaves for the host's loop by a long jump when jump is set.
__attribute__((noinline)) void Event(int inner, bool jump) {
    const bool handled = HandleUnlessNested(guard, [&] {
        nested.push_back(false);
        if (inner > 0)
            Event(inner - 1, false);
        if (jump)
            std::longjmp(host_loop, 1);
    });
    if (!handled)
        nested.push_back(true);
}

// An event raised from deeper in the stack than the host's loop, after other
// calls have used the stack there.
__attribute__((noinline)) void DeeperEvent() {
    volatile char used[4096];
    for (volatile char& c : used)
        c = 0x5A;
    Event(0, false);
    used[0] = 0;  // no tail call: the event comes from below this frame
}

std::vector<bool> Events(void (*raise)()) {
    nested.clear();
    if (setjmp(host_loop) == 0)
        raise();
    return nested;
}

}  // namespace

TEST(NestedEvents, OnlyEventsFromInsideTheActiveRunAreNested) {
    using Seen = std::vector<bool>;
    EXPECT_EQ(Events([] { Event(1, false); }), (Seen{false, true}));
    // Left by a long jump: the next event, from the loop, from deeper down or
    // from another thread, is a new run.
    EXPECT_EQ(Events([] { Event(1, true); }), (Seen{false, true}));
    EXPECT_EQ(Events([] { Event(1, false); }), (Seen{false, true}));
    Events([] { Event(0, true); });
    EXPECT_EQ(Events(DeeperEvent), Seen{false});
    Events([] { Event(0, true); });
    EXPECT_EQ(Events([] { std::thread([] { Event(1, false); }).join(); }), (Seen{false, true}));
    EXPECT_EQ(guard.run, nullptr);
}
