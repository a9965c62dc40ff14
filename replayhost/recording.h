// A recording of the call trace, read: its sessions, each a list of boundaries
// (a head line and its detail lines), as docs/trace-format.md describes them.
// Every version up to kReadableVersion is read as it was written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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
    DetailKind kind;
    uint32_t address = 0;  // new, heap, drop, set, wrote
    uint32_t size = 0;     // new, heap, in, out
    std::string block_kind;
    uint32_t old = 0;  // heap: the block moved here
    int place = 0;     // in, out: the argument, -1 for the result
    bool through_first_word = false;
    std::vector<Change> changes;
};

enum class HeadKind { kHost, kHostFunction, kEntry, kCallback, kReturn, kLeft };

struct Head {
    HeadKind kind;
    uint32_t sequence = 0;
    uint32_t ordinal = 0;  // host, entry
    Slot target;           // hostfn (*code), callback (!function)
    std::string name;
    std::vector<Slot> slots;  // a return's result, when it has one
    std::vector<Detail> details;
    std::string readable;  // the trace's line of this boundary
    int line = 0;          // where it stands in the file, from 1
};

struct Session {
    int version = 0;
    std::string header;  // the trace's header line
    std::vector<Head> heads;
};

// The recorded sessions of a trace file; false, with why, when the file
// cannot be read, holds no recording, or holds one of a newer version.
bool ReadRecording(const std::string& bytes, std::vector<Session>& sessions, std::string& why);

}  // namespace replay
