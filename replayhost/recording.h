// A recording of the call trace, read: its sessions, each a list of boundaries
// (a head line and its detail lines), as docs/trace-format.md describes them.
// Every version up to kReadableVersion is read as it was written.
//
// A recording is a file from outside (a shop sends it), and read as such:
// every number is checked as it is read, no size goes beyond what the format
// allows (a block, a region, the calls open at once), and a line that breaks
// a rule ends the reading with the line's number. Nothing here calls the
// system, so that the reader can be built and tried anywhere.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_memory.h"  // BlockKind
#include "host/recording_format.h"

namespace replay {

inline constexpr int kReadableVersion = kRecordingVersion;

// A slot: its class ('=', '-', '*', '&', '!') and its 32-bit value.
struct Slot {
    char kind = '=';
    uint32_t value = 0;
};

// Bytes at an offset, or one 4-byte word of a class (word != 0).
struct Change {
    uint32_t offset = 0;
    char word = 0;
    std::vector<uint8_t> bytes;
};

enum class DetailKind { kNew, kHeap, kDrop, kSet, kWrote, kIn, kOut };

struct Detail {
    DetailKind kind = DetailKind::kNew;
    uint32_t address = 0;  // new, heap, drop, set, wrote
    uint32_t size = 0;     // new, heap, in, out: at most kLargestRecordedBlock
    BlockKind block_kind = BlockKind::kData;
    uint32_t old = 0;  // heap: the block moved here
    int place = 0;     // in, out: the argument, -1 for the result
    bool through_first_word = false;
    std::vector<Change> changes;  // each within the first kLargestRecordedBlock bytes
    int line = 0;
};

enum class HeadKind { kHost, kHostFunction, kEntry, kCallback, kReturn, kLeft, kLost };

struct Head {
    HeadKind kind = HeadKind::kHost;
    uint32_t sequence = 0;
    uint32_t ordinal = 0;  // host, entry
    Slot target;           // hostfn (*code), callback (!function)
    std::string name;
    std::vector<Slot> slots;  // at most kMostSlots; a return's result, when it has one
    std::vector<Detail> details;
    std::string readable;  // the trace's line of this boundary
    int line = 0;          // where it stands in the file, from 1
};

// An answer that reached the plug-in through the system (version 2).
enum class AnswerKind { kBind, kModule, kButton, kJournal, kUnopened };

struct SystemAnswer {
    AnswerKind kind = AnswerKind::kBind;
    uint32_t ordinal = 0;  // bind
    bool found = true;     // bind; module: false when the path could not be read
    int32_t value = 0;     // button, journal
    std::string bytes;     // module: the path as the plug-in read it
    std::wstring path;     // unopened: the journal's file
};

struct Session {
    int version = 0;
    int line = 0;        // its version line
    std::string header;  // the trace's header line
    // Version 2: the process, the load of the plug-in in it, and the start
    // in that load; and how many starts (entry 30001 with a context) it holds.
    bool named = false;
    std::string process;
    std::string load;
    uint32_t start = 0;
    uint32_t starts = 0;
    std::vector<Head> heads;
    std::vector<SystemAnswer> answers;
    // Nonzero when the session breaks off (the host's program ended, or the
    // file was cut): the line it breaks off at, within a line (cut_inside
    // empty) or inside the call cut_inside names.
    int cut_line = 0;
    std::string cut_inside;
};

// The recorded sessions of a trace file; false, with why ("line N: ..."
// where a line is to blame), when the file holds no recording, one of a
// newer version, or a line that breaks the format's rules.
bool ReadRecording(const std::string& bytes, std::vector<Session>& sessions, std::string& why);

}  // namespace replay
