// The replay host: a VELDAN.dll of its own that plays Quendrix.dll a
// recording of the call trace (docs/trace-format.md). For each recorded
// session it loads the plug-in afresh, rebuilds the host memory the
// recording names, makes each recorded call of the host into the plug-in,
// answers each call the plug-in makes with the recorded result and effects,
// and compares each with the recording: the operation, the argument slots,
// what the plug-in hands over and what it wrote into host memory. It stops at
// the first divergence and says where. Test equipment: never shipped.
#pragma once

#ifdef REPLAY_BUILDING_HOST
#define REPLAY_API __declspec(dllexport)
#else
#define REPLAY_API __declspec(dllimport)
#endif

// What ReplayRecording returns (and the driver exits with).
enum ReplayOutcome {
    kReplayIdentical = 0,
    kReplayDiverged = 1,
    kReplayUnreadable = 2,  // the recording cannot be read, or holds none
    kReplayNoPlugin = 3,    // the plug-in cannot be loaded
};

// Replays every session of the recording (a trace file) against the plug-in
// at plugin_path, writing what it finds to standard output: "identical", or
// the first divergence (the call's number and operation, what was recorded
// and what came, bytes side by side).
extern "C" REPLAY_API int ReplayRecording(const wchar_t* recording, const wchar_t* plugin_path);
