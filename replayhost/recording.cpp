#include "replayhost/recording.h"

#include <cstdlib>
#include <cstring>
#include <sstream>

namespace replay {
namespace {

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

bool Hex(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 8)
        return false;
    char* end = nullptr;
    value = static_cast<uint32_t>(std::strtoul(text.c_str(), &end, 16));
    return *end == 0;
}

bool Decimal(const std::string& text, uint32_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    return true;
}

bool IsSlotKind(char c) {
    return c == '=' || c == '-' || c == '*' || c == '&' || c == '!';
}

bool ParseSlot(const std::string& text, Slot& slot) {
    if (text.size() != 9 || !IsSlotKind(text[0]))
        return false;
    slot.kind = text[0];
    return Hex(text.substr(1), slot.value);
}

// Changes from the words at and after first.
bool ParseChanges(const std::vector<std::string>& words, size_t first, std::vector<Change>& out) {
    uint32_t position = 0;
    for (size_t i = first; i < words.size(); ++i) {
        const std::string& word = words[i];
        Change change;
        change.offset = position;
        if (word[0] == '+') {
            if (!Decimal(word.substr(1), position))
                return false;
            continue;
        }
        if (IsSlotKind(word[0])) {
            Slot slot;
            if (!ParseSlot(word, slot))
                return false;
            change.word = slot.kind;
            for (int b = 0; b < 4; ++b)
                change.bytes.push_back(static_cast<uint8_t>(slot.value >> (8 * b)));
        } else {
            if (word.size() % 2 != 0)
                return false;
            for (size_t b = 0; b < word.size(); b += 2) {
                uint32_t byte;
                if (!Hex(word.substr(b, 2), byte))
                    return false;
                change.bytes.push_back(static_cast<uint8_t>(byte));
            }
        }
        position += static_cast<uint32_t>(change.bytes.size());
        out.push_back(std::move(change));
    }
    return true;
}

bool ParsePlace(const std::string& text, Detail& detail) {
    if (text == "r") {
        detail.place = -1;
        return true;
    }
    std::string number = text;
    if (number.size() > 2 && number.compare(number.size() - 2, 2, ".0") == 0) {
        detail.through_first_word = true;
        number.resize(number.size() - 2);
    }
    uint32_t place;
    if (!Decimal(number, place) || place > 12)
        return false;
    detail.place = static_cast<int>(place);
    return true;
}

bool ParseHead(const std::vector<std::string>& w, Head& head) {
    const std::string& kind = w[0];
    if (w.size() < 2 || !Decimal(w[1], head.sequence))
        return false;
    size_t slots = 0;
    if (kind == "@host" || kind == "@entry") {
        head.kind = kind == "@host" ? HeadKind::kHost : HeadKind::kEntry;
        if (w.size() < 4 || !Decimal(w[2], head.ordinal))
            return false;
        head.name = w[3];
        slots = 4;
    } else if (kind == "@hostfn" || kind == "@callback") {
        head.kind = kind == "@hostfn" ? HeadKind::kHostFunction : HeadKind::kCallback;
        if (w.size() < 4 || !ParseSlot(w[2], head.target))
            return false;
        head.name = w[3];
        slots = 4;
    } else if (kind == "@return") {
        head.kind = HeadKind::kReturn;
        slots = 2;
    } else if (kind == "@left") {
        head.kind = HeadKind::kLeft;
        return w.size() == 2;
    } else {
        return false;
    }
    for (size_t i = slots; i < w.size(); ++i) {
        Slot slot;
        if (!ParseSlot(w[i], slot))
            return false;
        head.slots.push_back(slot);
    }
    return true;
}

bool ParseDetail(const std::vector<std::string>& w, Detail& detail) {
    const std::string& kind = w[0];
    if (kind == "@new") {
        detail.kind = DetailKind::kNew;
        if (w.size() != 4)
            return false;
        detail.block_kind = w[3];
        return Hex(w[1], detail.address) && Decimal(w[2], detail.size);
    }
    if (kind == "@heap") {
        detail.kind = DetailKind::kHeap;
        return (w.size() == 3 || (w.size() == 4 && Hex(w[3], detail.old))) &&
               Hex(w[1], detail.address) && Decimal(w[2], detail.size);
    }
    if (kind == "@drop") {
        detail.kind = DetailKind::kDrop;
        return w.size() == 2 && Hex(w[1], detail.address);
    }
    if (kind == "@set" || kind == "@wrote") {
        detail.kind = kind == "@set" ? DetailKind::kSet : DetailKind::kWrote;
        return w.size() >= 2 && Hex(w[1], detail.address) && ParseChanges(w, 2, detail.changes);
    }
    if (kind == "@in" || kind == "@out") {
        detail.kind = kind == "@in" ? DetailKind::kIn : DetailKind::kOut;
        return w.size() >= 3 && ParsePlace(w[1], detail) && Decimal(w[2], detail.size) &&
               ParseChanges(w, 3, detail.changes);
    }
    return false;
}

}  // namespace

bool ReadRecording(const std::string& bytes, std::vector<Session>& sessions, std::string& why) {
    static const std::string kVersionLine = kRecordingVersionLine;
    std::istringstream in(bytes);
    std::string line;
    std::string readable;
    Session* session = nullptr;
    bool recorded = false;  // the lines belong to a session with the recording on
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const std::string where = "line " + std::to_string(number) + ": ";
        if (line.compare(0, kVersionLine.size(), kVersionLine) == 0) {
            uint32_t version;
            if (!Decimal(line.substr(kVersionLine.size()), version)) {
                why = where + "an unreadable version line";
                return false;
            }
            if (version > static_cast<uint32_t>(kReadableVersion)) {
                why = where + "a recording of version " + std::to_string(version) +
                      ", newer than this replay reads (" + std::to_string(kReadableVersion) +
                      "): replay it with a newer replay";
                return false;
            }
            sessions.push_back({static_cast<int>(version), "", {}});
            session = &sessions.back();
            recorded = true;
            continue;
        }
        if (line.compare(0, 9, "Quendrix ") == 0) {  // a header line
            if (recorded && session != nullptr && session->header.empty())
                session->header = line;
            else
                recorded = false;  // a session of the trace alone
            continue;
        }
        if (!recorded)
            continue;
        if (line.empty() || line[0] != '@') {
            readable = line;
            continue;
        }
        const std::vector<std::string> words = Words(line);
        Head head;
        head.line = number;
        if (ParseHead(words, head)) {
            head.readable = readable;
            readable.clear();
            session->heads.push_back(std::move(head));
            continue;
        }
        Detail detail;
        if (session->heads.empty() || !ParseDetail(words, detail)) {
            why = where + "an unreadable line: " + line.substr(0, 80);
            return false;
        }
        session->heads.back().details.push_back(std::move(detail));
    }
    if (sessions.empty()) {
        why = "the file holds no recording (the trace needs Record=1 beside Enabled=1)";
        return false;
    }
    return true;
}

}  // namespace replay
