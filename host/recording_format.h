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
inline constexpr int kRecordingVersion = 2;
inline constexpr char kRecordingVersionLine[] = "Quendrix recording ";

// The regions a call hands over (@in, @out) are kept under the address their
// slot recorded, one of kRecordedRegions places each (the address modulo
// their number); a region larger than kLargestRecordedRegion is always
// written whole.
inline constexpr int kRecordedRegions = 251;
inline constexpr uint32_t kLargestRecordedRegion = 4096;

// Calls open at once (within one another): the trace follows no deeper, and
// a recording that nests deeper is damaged.
inline constexpr int kRecordedNesting = 64;

// What a replay keeps of the host's memory: a block of at most
// kLargestRecordedBlock bytes, and at most kMostRecordedBytes of blocks in one
// process of the host. A recording that names more is damaged.
inline constexpr uint32_t kLargestRecordedBlock = 16u << 20;
inline constexpr uint32_t kMostRecordedBytes = 256u << 20;

// ------------------------------------------------------------------ version 2
// After a session's header line, which process, which load of the plug-in in
// that process and which start in that load (counted from 1) it is:
//   @session PROCESS LOAD START
// PROCESS is the process's identifier and its creation time, LOAD a mark
// taken once in each load, both hexadecimal.
inline constexpr char kSessionLineKind[] = "@session";

// The answers that reach the plug-in through the system, not through the
// host's operations, in the order they came:
//   @system bind ORDINAL found|missing   a host entry looked up in the host's library
//   @system module BYTES|-               the plug-in's path, read for the missing-entry
//                                        dialog (its bytes in hex; - when it could not be)
//   @system button ANSWER                the button chosen in the missing-entry dialog
//   @system journal 0|1                  the comparison journal's switch, at the session's start
//   @system unopened UNITS               after a journal line: the journal was switched on with
//                                        a file it could not open or use, this one (its UTF-16
//                                        units in hex, four digits each), which the plug-in names
inline constexpr char kSystemLineKind[] = "@system";
inline constexpr char kSystemBind[] = "bind";
inline constexpr char kSystemBindFound[] = "found";
inline constexpr char kSystemBindMissing[] = "missing";
inline constexpr char kSystemModule[] = "module";
inline constexpr char kSystemModuleUnknown[] = "-";
inline constexpr char kSystemButton[] = "button";
inline constexpr char kSystemJournal[] = "journal";
inline constexpr char kSystemUnopened[] = "unopened";

// The lines of a boundary were lost (the host left the plug-in by a
// non-local exit while the recording wrote them): the recording forgets what
// it knew of the host's memory and goes on, each block declared anew.
inline constexpr char kLostLineKind[] = "@lost";
