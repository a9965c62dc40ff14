// The call trace's recording as a file (docs/trace-format.md): its version,
// the line kinds added since the first, and the limits that the recorder
// (frame/call_recording.cpp) writes by and the replay (replayhost/) reads by.
// Declarations only: no code of the plug-in's stands behind them, and the
// replay, which is no part of the plug-in, takes them from here too.
#pragma once

#include <cstdint>

// The format's version, on the line that begins each session of a trace with
// the recording on. A line kind added, or the meaning of one changed, raises
// it; the replay reads every version up to its own.
inline constexpr int kRecordingVersion = 1;
inline constexpr char kRecordingVersionLine[] = "Quendrix recording ";

// The regions a call hands over (@in, @out) are kept under the address their
// slot recorded, one of kRecordedRegions places each (the address modulo
// their number); a region larger than kLargestRecordedRegion is always
// written whole.
inline constexpr int kRecordedRegions = 251;
inline constexpr uint32_t kLargestRecordedRegion = 4096;
