// The replay host: a VELDAN.dll of its own that plays Quendrix.dll a
// recording of the call trace (docs/trace-format.md). For each process of
// the host the recording holds, it loads the plug-in and keeps it loaded from
// one session to the next as long as the host did (the plug-in's state goes
// over with it), rebuilds the host memory the recording names, makes each
// recorded call of the host into the plug-in, answers each call the plug-in
// makes with the recorded result and effects (and, at the plug-in's import
// table, what the system answered it), and compares each with the
// recording: the operation, the argument slots, what the plug-in hands over
// and what it wrote into host memory. It stops at the first divergence and
// says where. Test equipment: never shipped.
#pragma once

#include <cstdint>

#ifdef REPLAY_BUILDING_HOST
#define REPLAY_API __declspec(dllexport)
#else
#define REPLAY_API __declspec(dllimport)
#endif

// What ReplayRecording returns (and the driver exits with, 4 being its own
// for a wrong command line).
enum ReplayOutcome {
    kReplayIdentical = 0,
    kReplayDiverged = 1,
    // The recording cannot be read, breaks a rule of the format, or breaks
    // off (the host's program ended in the middle, or the file was cut): the
    // line is named, and for one that breaks off, whether everything before
    // replayed identical.
    kReplayDamaged = 2,
    kReplayNoPlugin = 3,  // the plug-in cannot be loaded
    // A session continues a load of the plug-in whose earlier sessions the
    // file does not hold (the recording was off in between, or they are in
    // another file): the plug-in's state cannot be carried over.
    kReplaySessionMissing = 5,
    kReplayFault = 6,  // a fault of the replay itself, never the plug-in's
};

// Replays every session of the recording (a trace file) against the plug-in
// at plugin_path, writing what it finds to standard output: "identical" for
// each session, or the first divergence (the call's number and operation,
// what was recorded and what came, bytes side by side).
extern "C" REPLAY_API int ReplayRecording(const wchar_t* recording, const wchar_t* plugin_path);
// The same, with what it finds written into output (at most size bytes with
// the terminator) instead.
extern "C" REPLAY_API int ReplayRecordingInto(const wchar_t* recording, const wchar_t* plugin_path,
                                              char* output, uint32_t size);
