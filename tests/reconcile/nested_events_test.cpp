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

// A run that opens a dialog a few kilobytes down its frames, which the host
// leaves by a long jump.
void DialogFarDown(int depth);
void (*volatile further_down)(int) = DialogFarDown;

__attribute__((noinline)) void DialogFarDown(int depth) {
    volatile char frame[1024];
    for (volatile char& c : frame)
        c = 0x5A;
    if (depth > 0) {
        further_down(depth - 1);
    } else {
        const DialogOfRun open(guard);
        std::longjmp(host_loop, 1);
    }
    frame[0] = 0;
}

__attribute__((noinline)) void EventWithDialog() {
    HandleUnlessNested(guard, [] {
        nested.push_back(false);
        DialogFarDown(3);
    });
}

__attribute__((noinline)) void EventAgainAboveTheDialog() {
    volatile char untouched[1024];
    untouched[0] = 0;
    Event(0, false);
    untouched[0] = untouched[1];  // no tail call: the event comes from below this frame
}

// The host leaves the dialog by a long jump and raises the event again at
// once, from a frame of its own a little deeper than the run's mark, which
// it leaves as it was.
std::vector<bool> DialogLeftAndEventRaisedAgain() {
    nested.clear();
    nested.reserve(4);
    if (setjmp(host_loop) == 0)
        EventWithDialog();
    else
        EventAgainAboveTheDialog();
    return nested;
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
    EXPECT_EQ(DialogLeftAndEventRaisedAgain(), (Seen{false, false})) << "not from the dialog";
    Events([] { Event(0, true); });
    EXPECT_EQ(Events([] { std::thread([] { Event(1, false); }).join(); }), (Seen{false, true}));
    EXPECT_EQ(guard.run, nullptr);
}
