// The call trace's file, which any thread of the host may write to: one
// write at a time, each whole, and the turns that keep them apart. The trace
// (frame/call_trace.h) opens and closes it; the trace's lines and the
// recording's (frame/call_recording.h) go into it here.
#pragma once

#include <cstdint>

// ------------------------------------------------------------------ its state
// One part of the frame's state (frame/frame_state.h): the file, from a start
// with the trace on to the stop or the library's free, and the thread writing
// to it (0: none), both read and written atomically.
struct TraceFileState {
    void* file = nullptr;
    uint32_t writing = 0;
};
extern TraceFileState& TraceFile;

// Whether the trace has a file.
bool TraceFileOpen();
// Makes file the trace's file; false, with file not taken, when the trace has
// one already.
bool SetTraceFile(void* file);
// Takes the trace's file away, so that no write reaches it from now on, and
// returns it; null when there was none.
void* UnsetTraceFile();
// Closes a file taken away once no thread writes to it any more: appends of
// two threads to one handle may land at the same end of the file (Wine's
// do), and a handle closed under a write may already be another file's. A
// turn given up leaves it open instead.
void CloseBetweenWrites(void* file);

// Appends text (whole lines) to the trace's file in one write, one thread's
// at a time; false when it could not be written. True without a file.
bool AppendTraceText(const char* text, uint32_t length);

// One thread at a time: waits until another thread's turn on word ends, then
// holds it for the scope, the word holding the thread's identifier. The
// trace's writes take turns on TraceFile.writing, the recording's boundaries
// on a word of its own.
//
// Diagnostics may never hang the host. A turn the calling thread finds its
// own was left held by a non-local exit out of the trace's own work (a host
// that intercepts the system's functions and leaves one by a long jump, an
// exception its translator made of a fault): no turn is ever taken twice on
// one thread, so the work that held it is gone, and the thread takes the turn
// over (taken_over). One that another thread holds longer than the trace's
// work can take is given up: the scope does not hold the turn (held false),
// and its work is left undone.
struct TraceTurn {
    uint32_t& word;
    bool held = false;
    bool taken_over = false;
    explicit TraceTurn(uint32_t& taken);
    ~TraceTurn();
    TraceTurn(const TraceTurn&) = delete;
    TraceTurn& operator=(const TraceTurn&) = delete;
};
// How long a thread waits for another's turn, in milliseconds.
inline constexpr uint32_t kLongestTurnWait = 10000;
