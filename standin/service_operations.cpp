// The host's services: texts, dates, the heap, settings, the interface version,
// the selection list and the exception translator.
//
// Failure values under fault injection: HostRealloc null with the block left
// as it was; HostProfileValue a nonzero status with nothing read or written.
// HostCopyText, HostFormatDate, HostConvertText, HostFree,
// HostInterfaceVersion, HostSelectionCount and HostSelectionEntries have no
// failure value: an injected fault only counts the call.
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "host/mazovia_text.h"
#include "standin/standin_state.h"

namespace veldan {
namespace {

constexpr int16_t kProfileAbsent = 1;
constexpr int16_t kProfileUnreadable = 2;
constexpr int16_t kProfileFailed = 3;

void HeapError(const char* what, const void* block) {
    ++S().heap_errors;
    fprintf(stderr, "VELDAN: %s %p, a block the host did not hand out (or freed already)\n", what,
            block);
    fflush(stderr);
}

std::string DefaultProfilePath() {
    return LibraryFolder() + "veldan.ini";
}

std::string ProfilePath() {
    const std::string& path = S().profile_path;
    return path.empty() ? DefaultProfilePath() : path;
}

std::string Trim(const std::string& text) {
    size_t begin = 0, end = text.size();
    while (begin < end && isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (tolower(static_cast<unsigned char>(a[i])) != tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

// Section and key names compare without regard to case, as in the system's own
// settings files. Returns the line index of the key, or -1; section_end gets
// the index after the section's last line, or -1 when there is no section.
int FindKey(const std::vector<std::string>& lines, const std::string& section,
            const std::string& key, int& section_end) {
    section_end = -1;
    bool inside = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (!line.empty() && line.front() == '[') {
            const size_t close = line.find(']');
            inside =
                close != std::string::npos && SameName(Trim(line.substr(1, close - 1)), section);
            if (inside)
                section_end = static_cast<int>(i) + 1;
            continue;
        }
        if (!inside)
            continue;
        if (!line.empty() && line.front() != ';')
            section_end = static_cast<int>(i) + 1;
        const size_t equals = line.find('=');
        if (equals != std::string::npos && SameName(Trim(line.substr(0, equals)), key))
            return static_cast<int>(i);
    }
    return -1;
}

// Writes the whole file anew beside the old one and then moves it over it, so a
// crash in between leaves either the old or the new settings, never half.
bool WriteLinesAtomically(const std::string& path, const std::vector<std::string>& lines) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        for (const std::string& line : lines)
            out << line << "\r\n";
        out.flush();
        if (!out)
            return false;
    }
    return MoveFileOver(temporary, path);
}

}  // namespace

}  // namespace veldan

using namespace veldan;

extern "C" char* HOST_STDCALL HostCopyText(char* dest, const char* src, uint16_t limit) {
    return Operation<kOrdinalHostCopyText>(VS_ARGUMENTS, [&](auto call) {
        if (!dest)
            return dest;
        size_t n = 0;
        if (src)
            while (n < limit && src[n])
                ++n;
        memmove(dest, src ? src : "", n);
        dest[n] = 0;
        if (S().variation.copy_zero_fill)
            memset(dest + n, 0, limit - n + 1);  // the n characters and the terminator
        const int32_t result = call.Open(static_cast<int32_t>(reinterpret_cast<uintptr_t>(dest)),
                                         static_cast<int32_t>(n));
        return reinterpret_cast<char*>(static_cast<uintptr_t>(static_cast<uint32_t>(result)));
    });
}

// The host keeps a date as a 32-bit yyyymmdd number at the front of the date
// field, and shows it as DD.MM.YYYY. Zero, the date of a cleared record, shows
// as an empty text.
extern "C" int32_t HOST_STDCALL HostFormatDate(char* dest, const void* date) {
    return Operation<kOrdinalHostFormatDate>(VS_ARGUMENTS, [&](auto call) {
        if (!dest)
            return call.Open(0, 0);
        dest[0] = 0;
        if (!date)
            return call.Open(0, 0);
        int32_t value;
        memcpy(&value, date, sizeof value);
        if (value <= 0)
            return call.Open(0, 0);
        const int year = value / 10000, month = value / 100 % 100, day = value % 100;
        if (year > 9999)
            return call.Open(0, 0);
        char text[16];
        snprintf(text, sizeof text, "%02d.%02d.%04d", day, month, year);
        memcpy(dest, text, strlen(text) + 1);
        const auto length = static_cast<int32_t>(strlen(dest));
        return call.Open(length, length);
    });
}

extern "C" int32_t HOST_STDCALL HostConvertText(char* dest, const char* src, int32_t from,
                                                int32_t to) {
    return Operation<kOrdinalHostConvertText>(VS_ARGUMENTS, [&](auto call) {
        if (!dest || !src)
            return call.Open(0, 0);
        const size_t length = strlen(src);
        memmove(dest, src, length + 1);
        if (from == kTextHost && to == kTextSystem) {
            for (size_t i = 0; i < length; ++i)
                dest[i] = static_cast<char>(mazovia::ToWindows1250(static_cast<uint8_t>(dest[i])));
        }
        return call.Open(1, static_cast<int32_t>(length));
    });
}

// The host heap moves a block it grows or shrinks, so a caller that keeps
// using the old address is caught (in strict mode at once). Only a large block
// grows in place, into a reserve as long as the block was when it last moved,
// as a real heap's large blocks do: a list that grows by a fixed step then
// costs amortised constant time per entry instead of a copy of the whole list
// at every step. Strict mode moves every block at every change.
extern "C" void* HOST_CDECL HostRealloc(void* block, uint32_t size) {
    return Operation<kOrdinalHostRealloc>(VS_ARGUMENTS, [&](auto call) -> void* {
        constexpr size_t kGrowsInPlaceFrom = 64 * 1024;
        if (call.fail)
            return nullptr;
        State& s = S();
        if (block && !s.heap_blocks.count(block)) {
            HeapError("HostRealloc of", block);
            return nullptr;
        }
        if (block && AllocatedSize(block) >= kGrowsInPlaceFrom && ResizeInPlace(block, size))
            return block;
        const size_t reserve = block && size >= kGrowsInPlaceFrom ? size : 0;
        void* moved = Allocate(size, "HostRealloc block", reserve);
        if (!moved)
            return nullptr;
        if (block) {
            memcpy(moved, block, std::min<size_t>(size, AllocatedSize(block)));
            s.heap_blocks.erase(block);
        }
        s.heap_blocks.emplace(moved, OwnedBlock(moved));
        return moved;
    });
}

extern "C" void HOST_CDECL HostFree(void* block) {
    Operation<kOrdinalHostFree>(VS_ARGUMENTS, [&](auto) {
        if (block && !S().heap_blocks.erase(block))
            HeapError("HostFree of", block);
    });
}

// Settings live in an INI-style file: [section] lines and key=value lines.
// Operation 1 reads the value with the format as a scanf format into the
// arguments; operation 2 writes the arguments printed with the format.
namespace {

int16_t ProfileValue(int16_t operation, const char* section, const char* key, const char* format,
                     va_list args) {
    if (!section || !key || !format)
        return kProfileFailed;
    const std::string path = ProfilePath();
    std::vector<std::string> lines = ReadLines(path);
    int section_end = -1;
    const int found = FindKey(lines, section, key, section_end);
    if (operation == kProfileRead) {
        if (found < 0)
            return kProfileAbsent;
        const std::string& line = lines[found];
        const std::string value = Trim(line.substr(line.find('=') + 1));
        return vsscanf(value.c_str(), format, args) >= 1 ? 0 : kProfileUnreadable;
    }
    if (operation != kProfileWrite)
        return kProfileFailed;
    char value[1024];
    vsnprintf(value, sizeof value, format, args);
    const std::string entry = std::string(key) + "=" + value;
    if (found >= 0) {
        // The key keeps the spelling it already has in the file.
        const std::string& line = lines[found];
        lines[found] = Trim(line.substr(0, line.find('='))) + "=" + value;
    } else if (section_end >= 0) {
        lines.insert(lines.begin() + section_end, entry);
    } else {
        if (!lines.empty() && !Trim(lines.back()).empty())
            lines.push_back("");
        lines.push_back("[" + std::string(section) + "]");
        lines.push_back(entry);
    }
    return WriteLinesAtomically(path, lines) ? 0 : kProfileFailed;
}

}  // namespace

extern "C" uint32_t HOST_CDECL StandinProfileValue(int16_t operation, const char* section,
                                                   const char* key, const char* format,
                                                   va_list args)
    VELDAN_SHORT_RESULT(HostProfileValue, CDECL, 20);
extern "C" uint32_t HOST_CDECL StandinProfileValue(int16_t operation, const char* section,
                                                   const char* key, const char* format,
                                                   va_list args) {
    return Operation<kOrdinalHostProfileValue>(VS_ARGUMENTS, [&](auto call) {
        if (call.fail)
            return call.Short(kProfileFailed);
        return call.Short(ProfileValue(operation, section, key, format, args));
    });
}

extern "C" int32_t HOST_STDCALL HostInterfaceVersion(void) {
    return Operation<kOrdinalHostInterfaceVersion>(VS_ARGUMENTS,
                                                   [&](auto) { return S().interface_version; });
}

extern "C" int32_t* HOST_STDCALL HostSelectionCount(void) {
    return Operation<kOrdinalHostSelectionCount>(VS_ARGUMENTS,
                                                 [&](auto) { return &S().selection_count; });
}

extern "C" SelectionEntry** HOST_STDCALL HostSelectionEntries(void) {
    return Operation<kOrdinalHostSelectionEntries>(VS_ARGUMENTS, [&](auto) {
        return static_cast<SelectionEntry**>(S().selection_entries.get());
    });
}

// Only logged: the runtime calls it with a fault's code and pointers.
extern "C" void HOST_CDECL HostExceptionTranslator(unsigned int /*code*/,
                                                   _EXCEPTION_POINTERS* /*pointers*/) {
    Operation<HOST_EXCEPTION_TRANSLATOR_ORDINAL>(VS_ARGUMENTS, [&](auto) {});
}

VS_API void VsSetProfilePath(const char* path) {
    S().profile_path = path ? path : "";
}
