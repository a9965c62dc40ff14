#include "replayhost/recording.h"

#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "host/host_records.h"

namespace replay {
namespace {

// Why a line cannot be read; thrown within the reader, caught where the line
// is known.
struct Unreadable {
    std::string why;
};

[[noreturn]] void Refuse(const std::string& why) {
    throw Unreadable{why};
}

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    size_t at = 0;
    while (at < line.size()) {
        const size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string::npos)
            break;
        const size_t end = line.find_first_of(" \t", start);
        words.push_back(
            line.substr(start, end == std::string::npos ? std::string::npos : end - start));
        at = end == std::string::npos ? line.size() : end;
    }
    return words;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Up to 8 hex digits, nothing else.
bool Hex(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 8)
        return false;
    value = 0;
    for (char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0)
            return false;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return true;
}

// Decimal digits of a value of at most most.
bool Decimal(const std::string& text, uint32_t& value, uint64_t most = UINT32_MAX) {
    if (text.empty() || text.size() > 10)
        return false;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (number > most)
        return false;
    value = static_cast<uint32_t>(number);
    return true;
}

bool IsSlotKind(char c) {
    return c == kSlotValue || c == kSlotValue16 || c == kSlotHostMemory || c == kSlotPluginMemory ||
           c == kSlotPluginFunction;
}

bool ParseSlot(const std::string& text, Slot& slot) {
    if (text.size() != 9 || !IsSlotKind(text[0]))
        return false;
    slot.kind = text[0];
    return Hex(text.substr(1), slot.value);
}

// Changes from the words at and after first, none reaching past the largest
// block.
void ParseChanges(const std::vector<std::string>& words, size_t first, std::vector<Change>& out) {
    uint64_t position = 0;
    for (size_t i = first; i < words.size(); ++i) {
        const std::string& word = words[i];
        Change change;
        if (word[0] == kOffsetMark) {
            uint32_t offset;
            if (!Decimal(word.substr(1), offset, kLargestRecordedBlock))
                Refuse("an offset that is no number or lies beyond the largest block: " + word);
            position = offset;
            continue;
        }
        change.offset = static_cast<uint32_t>(position);
        if (IsSlotKind(word[0])) {
            Slot slot;
            if (!ParseSlot(word, slot))
                Refuse("an unreadable word: " + word.substr(0, 16));
            change.word = slot.kind;
            for (int b = 0; b < 4; ++b)
                change.bytes.push_back(static_cast<uint8_t>(slot.value >> (8 * b)));
        } else {
            if (word.size() % 2 != 0)
                Refuse("bytes of an odd number of hex digits");
            change.bytes.reserve(word.size() / 2);
            for (size_t b = 0; b < word.size(); b += 2) {
                const int high = HexDigit(word[b]);
                const int low = HexDigit(word[b + 1]);
                if (high < 0 || low < 0)
                    Refuse("bytes that are no hex digits");
                change.bytes.push_back(static_cast<uint8_t>(high << 4 | low));
            }
        }
        position += change.bytes.size();
        if (position > kLargestRecordedBlock)
            Refuse("bytes beyond the largest block");
        out.push_back(std::move(change));
    }
}

void ParsePlace(const std::string& text, Detail& detail) {
    if (text == kResultPlace) {
        detail.place = -1;
        return;
    }
    std::string number = text;
    const size_t suffix = sizeof kFirstWordPlace - 1;
    if (number.size() > suffix &&
        number.compare(number.size() - suffix, suffix, kFirstWordPlace) == 0) {
        detail.through_first_word = true;
        number.resize(number.size() - suffix);
    }
    uint32_t place;
    if (!Decimal(number, place, kMostSlots - 1))
        Refuse("an unreadable place: " + text.substr(0, 16));
    detail.place = static_cast<int>(place);
}

BlockKind KindNamed(const std::string& name) {
    for (size_t i = 0; i < std::size(kBlockKindNames); ++i)
        if (name == kBlockKindNames[i])
            return static_cast<BlockKind>(i);
    Refuse("an unknown kind of block: " + name.substr(0, 16));
}

// A block's size: tokens and code have none, every other kind at most the
// largest block.
uint32_t BlockSize(const std::string& text, BlockKind kind) {
    uint32_t size;
    if (!Decimal(text, size) || size > kLargestRecordedBlock)
        Refuse("a block's size that is no number or larger than " +
               std::to_string(kLargestRecordedBlock) + " bytes: " + text.substr(0, 16));
    if ((kind == BlockKind::kToken || kind == BlockKind::kCode) != (size == 0))
        Refuse("a handle or function of the host's with a size, or a block without one");
    return size;
}

// A head line; false when the line is no head.
bool ParseHead(const std::vector<std::string>& w, Head& head) {
    const std::string& kind = w[0];
    size_t slots = 0;
    if (kind == kHostLineKind || kind == kEntryLineKind) {
        head.kind = kind == kHostLineKind ? HeadKind::kHost : HeadKind::kEntry;
        slots = 4;
    } else if (kind == kHostFunctionLineKind || kind == kCallbackLineKind) {
        head.kind = kind == kHostFunctionLineKind ? HeadKind::kHostFunction : HeadKind::kCallback;
        slots = 4;
    } else if (kind == kReturnLineKind) {
        head.kind = HeadKind::kReturn;
        slots = 2;
    } else if (kind == kLeftLineKind) {
        head.kind = HeadKind::kLeft;
        slots = 2;
    } else if (kind == kLostLineKind) {
        head.kind = HeadKind::kLost;
        if (w.size() != 1)
            Refuse("a lost boundary's line with more on it");
        return true;
    } else {
        return false;
    }
    if (w.size() < slots || !Decimal(w[1], head.sequence))
        Refuse("a call's line without its number");
    if (head.kind == HeadKind::kHost || head.kind == HeadKind::kEntry) {
        if (!Decimal(w[2], head.ordinal, 65535))
            Refuse("an ordinal that is no number below 65536: " + w[2].substr(0, 16));
        head.name = w[3].substr(0, 64);
    } else if (head.kind == HeadKind::kHostFunction || head.kind == HeadKind::kCallback) {
        if (!ParseSlot(w[2], head.target))
            Refuse("an unreadable function: " + w[2].substr(0, 16));
        head.name = w[3].substr(0, 64);
    }
    const size_t most = head.kind == HeadKind::kReturn ? 1
                        : head.kind == HeadKind::kLeft ? 0
                                                       : kMostSlots;
    if (w.size() - slots > most)
        Refuse("a call's line with more slots than a call has");
    for (size_t i = slots; i < w.size(); ++i) {
        Slot slot;
        if (!ParseSlot(w[i], slot))
            Refuse("an unreadable slot: " + w[i].substr(0, 16));
        head.slots.push_back(slot);
    }
    return true;
}

void ParseDetail(const std::vector<std::string>& w, Detail& detail) {
    const std::string& kind = w[0];
    if (kind == kNewLineKind) {
        detail.kind = DetailKind::kNew;
        if (w.size() != 4 || !Hex(w[1], detail.address))
            Refuse("an unreadable new block");
        detail.block_kind = KindNamed(w[3]);
        detail.size = BlockSize(w[2], detail.block_kind);
    } else if (kind == kHeapLineKind) {
        detail.kind = DetailKind::kHeap;
        if ((w.size() != 3 && (w.size() != 4 || !Hex(w[3], detail.old))) ||
            !Hex(w[1], detail.address))
            Refuse("an unreadable block of the host's heap");
        detail.block_kind = BlockKind::kHeap;
        detail.size = BlockSize(w[2], BlockKind::kHeap);
    } else if (kind == kDropLineKind) {
        detail.kind = DetailKind::kDrop;
        if (w.size() != 2 || !Hex(w[1], detail.address))
            Refuse("an unreadable dropped block");
    } else if (kind == kSetLineKind || kind == kWroteLineKind) {
        detail.kind = kind == kSetLineKind ? DetailKind::kSet : DetailKind::kWrote;
        if (w.size() < 2 || !Hex(w[1], detail.address))
            Refuse("changes of an unreadable block");
        ParseChanges(w, 2, detail.changes);
    } else if (kind == kInLineKind || kind == kOutLineKind) {
        detail.kind = kind == kInLineKind ? DetailKind::kIn : DetailKind::kOut;
        if (w.size() < 3)
            Refuse("a region without its size");
        ParsePlace(w[1], detail);
        if (!Decimal(w[2], detail.size, kLargestRecordedBlock))
            Refuse("a region's size that is no number or larger than " +
                   std::to_string(kLargestRecordedBlock) + " bytes");
        ParseChanges(w, 3, detail.changes);
    } else {
        Refuse("an unknown line: " + kind.substr(0, 16));
    }
}

void ParseAnswer(const std::vector<std::string>& w, SystemAnswer& answer) {
    if (w.size() != 3 && !(w.size() == 4 && w[1] == kSystemBind))
        Refuse("an unreadable answer of the system");
    const std::string& kind = w[1];
    if (kind == kSystemBind) {
        answer.kind = AnswerKind::kBind;
        if (w.size() != 4 || !Decimal(w[2], answer.ordinal, 65535) ||
            (w[3] != kSystemBindFound && w[3] != kSystemBindMissing))
            Refuse("an unreadable binding of a host entry");
        answer.found = w[3] == kSystemBindFound;
    } else if (kind == kSystemModule) {
        answer.kind = AnswerKind::kModule;
        answer.found = w[2] != kSystemModuleUnknown;
        if (answer.found) {
            // The path as the plug-in keeps it: at most 300 bytes.
            if (w[2].size() % 2 != 0 || w[2].size() > 600)
                Refuse("a module path of an odd number of hex digits or longer than 300 bytes");
            for (size_t b = 0; b < w[2].size(); b += 2) {
                const int high = HexDigit(w[2][b]);
                const int low = HexDigit(w[2][b + 1]);
                if (high < 0 || low < 0 || (high == 0 && low == 0))
                    Refuse("a module path that is no hex digits, or holds a zero byte");
                answer.bytes.push_back(static_cast<char>(high << 4 | low));
            }
        }
    } else if (kind == kSystemButton || kind == kSystemJournal) {
        answer.kind = kind == kSystemButton ? AnswerKind::kButton : AnswerKind::kJournal;
        uint32_t value;
        if (!Decimal(w[2], value, kind == kSystemButton ? 255 : 1))
            Refuse("an unreadable answer: " + w[2].substr(0, 16));
        answer.value = static_cast<int32_t>(value);
    } else if (kind == kSystemUnopened) {
        answer.kind = AnswerKind::kUnopened;
        // A path as the plug-in keeps it: at most 300 units, none zero.
        if (w[2].empty() || w[2].size() % 4 != 0 || w[2].size() > 1200)
            Refuse("a journal's path not of four hex digits a unit, or longer than 300 units");
        for (size_t u = 0; u < w[2].size(); u += 4) {
            uint32_t unit = 0;
            for (size_t d = u; d < u + 4; ++d) {
                const int digit = HexDigit(w[2][d]);
                if (digit < 0)
                    Refuse("a journal's path that is no hex digits");
                unit = unit << 4 | static_cast<uint32_t>(digit);
            }
            if (unit == 0)
                Refuse("a journal's path that holds a zero unit");
            answer.path.push_back(static_cast<wchar_t>(unit));
        }
    } else {
        Refuse("an unknown answer of the system: " + kind.substr(0, 16));
    }
}

// A process's or a load's mark: hex digits and dashes, at most 40.
bool Mark(const std::string& text) {
    if (text.empty() || text.size() > 40)
        return false;
    for (char c : text)
        if (c != '-' && HexDigit(c) < 0)
            return false;
    return true;
}

void ParseSessionLine(const std::vector<std::string>& w, Session& session) {
    if (session.version < 2 || session.named || !session.heads.empty() || w.size() != 4 ||
        !Mark(w[1]) || !Mark(w[2]) || !Decimal(w[3], session.start) || session.start == 0)
        Refuse("a session line out of place, or unreadable");
    session.named = true;
    session.process = w[1];
    session.load = w[2];
}

std::string CallText(const Head& head) {
    char number[12];
    std::snprintf(number, sizeof number, "%06u", static_cast<unsigned>(head.sequence));
    return std::string("call ") + number + " " + head.name;
}

// The calls a session has open, innermost last: their numbers and names.
struct OpenCalls {
    struct Call {
        uint32_t sequence;
        std::string text;
    };
    std::vector<Call> calls;

    void Add(const Head& head) {
        switch (head.kind) {
            case HeadKind::kHost:
            case HeadKind::kHostFunction:
            case HeadKind::kEntry:
            case HeadKind::kCallback:
                if (calls.size() >= static_cast<size_t>(kRecordedNesting))
                    Refuse("calls nested deeper than " + std::to_string(kRecordedNesting));
                calls.push_back({head.sequence, CallText(head)});
                break;
            case HeadKind::kReturn:
            case HeadKind::kLeft:
                // A call that ends (or was left) ends those open inside it.
                for (size_t i = calls.size(); i-- > 0;)
                    if (calls[i].sequence == head.sequence) {
                        calls.resize(i);
                        break;
                    }
                break;
            case HeadKind::kLost:
                break;
        }
    }
};

// A session at its end: it breaks off inside the calls still open.
void Close(Session* session, OpenCalls& open, int next_line) {
    if (session != nullptr && session->cut_line == 0 && !open.calls.empty()) {
        session->cut_line = next_line;
        session->cut_inside = open.calls.back().text;
    }
    open.calls.clear();
}

bool Read(const std::string& bytes, std::vector<Session>& sessions, std::string& why) {
    const std::string version_line = kRecordingVersionLine;
    std::string readable;
    Session* session = nullptr;
    bool recorded = false;  // the lines belong to a session with the recording on
    OpenCalls open;
    int number = 0;
    size_t at = 0;
    while (at < bytes.size()) {
        ++number;
        const size_t end = bytes.find('\n', at);
        if (end == std::string::npos) {
            // The file ends within a line: the line is not whole, and what
            // comes before it is all there is.
            if (recorded && session != nullptr) {
                Close(session, open, number);
                session->cut_line = number;
                session->cut_inside.clear();
            }
            break;
        }
        std::string line = bytes.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        try {
            if (line.compare(0, version_line.size(), version_line) == 0) {
                uint32_t version;
                // Versions count from 1: no recorder wrote a 0.
                if (!Decimal(line.substr(version_line.size()), version, 1000) || version == 0)
                    Refuse("an unreadable version line");
                if (version > static_cast<uint32_t>(kReadableVersion))
                    Refuse("a recording of version " + std::to_string(version) +
                           ", newer than this replay reads (" + std::to_string(kReadableVersion) +
                           "): replay it with a newer replay");
                Close(session, open, number);
                sessions.push_back({});
                session = &sessions.back();
                session->version = static_cast<int>(version);
                session->line = number;
                recorded = true;
                readable.clear();
                continue;
            }
            if (line.compare(0, 9, "Quendrix ") == 0) {  // a header line
                if (recorded && session != nullptr && session->header.empty()) {
                    session->header = line.substr(0, 400);
                } else {
                    Close(recorded ? session : nullptr, open, number);
                    recorded = false;  // a session of the trace alone
                }
                continue;
            }
            if (!recorded)
                continue;
            if (line.empty() || line[0] != '@') {
                readable = line.substr(0, 1000);
                continue;
            }
            const std::vector<std::string> words = Words(line);
            const bool later = words[0] == kSessionLineKind || words[0] == kSystemLineKind ||
                               words[0] == kLostLineKind;
            if (later && session->version < 2)
                Refuse("a line of version 2 in a recording of version " +
                       std::to_string(session->version));
            if (words[0] == kSessionLineKind) {
                ParseSessionLine(words, *session);
                continue;
            }
            if (words[0] == kSystemLineKind) {
                SystemAnswer answer;
                ParseAnswer(words, answer);
                session->answers.push_back(std::move(answer));
                continue;
            }
            Head head;
            head.line = number;
            if (ParseHead(words, head)) {
                head.readable = readable;
                readable.clear();
                if (head.kind == HeadKind::kEntry && head.ordinal == kOrdinalPluginStart &&
                    !head.slots.empty() && head.slots[0].value != 0)
                    ++session->starts;
                session->heads.push_back(std::move(head));
                open.Add(session->heads.back());
                continue;
            }
            if (session->heads.empty())
                Refuse("a detail line before any call");
            Detail detail;
            detail.line = number;
            ParseDetail(words, detail);
            session->heads.back().details.push_back(std::move(detail));
        } catch (const Unreadable& unreadable) {
            why = "line " + std::to_string(number) + ": " + unreadable.why;
            return false;
        } catch (const std::bad_alloc&) {
            why = "line " + std::to_string(number) +
                  ": the recording needs more memory than the replay has";
            return false;
        }
    }
    if (recorded)
        Close(session, open, number + 1);
    if (sessions.empty()) {
        why = "the file holds no recording (the trace needs Record=1 beside Enabled=1)";
        return false;
    }
    return true;
}

}  // namespace

bool ReadRecording(const std::string& bytes, std::vector<Session>& sessions, std::string& why) {
    sessions.clear();
    try {
        return Read(bytes, sessions, why);
    } catch (const std::bad_alloc&) {
        // Vectors of a session point into one another: none is kept.
        sessions.clear();
        why = "the recording needs more memory than the replay has";
        return false;
    }
}

}  // namespace replay
