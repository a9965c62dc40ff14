// What the replay makes of a recording, the file a shop sends (the reader of
// replayhost/recording.cpp): any bytes. A recording read keeps to the
// format's limits, every block, change and call within what the replay may
// hold; one refused says why, and where a line is to blame names a line the
// file has; reading it twice gives the same.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/targets/fuzz_check.h"
#include "replayhost/recording.h"

namespace {

using replay::DetailKind;

bool Sized(DetailKind kind) {
    return kind == DetailKind::kNew || kind == DetailKind::kHeap || kind == DetailKind::kIn ||
           kind == DetailKind::kOut;
}

void CheckSession(const replay::Session& session, int lines) {
    Require(session.version >= 1 && session.version <= replay::kReadableVersion,
            "a session of a version the replay reads");
    Require(session.line >= 1 && session.line <= lines, "a session begins at a line of the file");
    for (const replay::Head& head : session.heads) {
        Require(head.line >= session.line && head.line <= lines, "a boundary at a line of its own");
        Require(head.slots.size() <= static_cast<size_t>(kMostSlots),
                "no more slots than a call has");
        for (const replay::Detail& detail : head.details) {
            Require(!Sized(detail.kind) || detail.size <= kLargestRecordedBlock,
                    "no block larger than the replay holds");
            for (const replay::Change& change : detail.changes) {
                const uint64_t end =
                    uint64_t{change.offset} + (change.word != 0 ? 4 : change.bytes.size());
                Require(end <= kLargestRecordedBlock, "a change within the largest block");
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::vector<replay::Session> sessions;
    std::string why;
    const bool read = replay::ReadRecording(bytes, sessions, why);
    const int lines = static_cast<int>(std::count(bytes.begin(), bytes.end(), '\n')) + 1;
    if (!read) {
        Require(!why.empty(), "a recording refused says why");
        if (why.rfind("line ", 0) == 0)
            Require(atoi(why.c_str() + 5) >= 1 && atoi(why.c_str() + 5) <= lines,
                    "the line to blame is one of the file's");
    }
    for (const replay::Session& session : sessions)
        CheckSession(session, lines);
    std::vector<replay::Session> again;
    std::string why_again;
    Require(replay::ReadRecording(bytes, again, why_again) == read && why_again == why &&
                again.size() == sessions.size(),
            "a recording read twice reads the same");
    return 0;
}
