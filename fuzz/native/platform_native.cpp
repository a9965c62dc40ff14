// frame/platform.h in the native build: the system's answers from
// NativeSystem (native_door.h), files in memory, and the thread's stack and
// the readable memory as the native system reports them.
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "frame/platform.h"
#include "fuzz/native/native_door.h"

namespace {

// A file the plug-in holds open: the path it appends to.
struct OpenFile {
    SystemText path;
};

// The host library's module: the stand-in is linked in, so it is always
// "loaded"; any non-null handle serves.
char host_module;
char plugin_module;

template <typename Unit>
uint32_t CopyTerminated(const SystemText& text, Unit* buffer, uint32_t size) {
    const uint32_t length = static_cast<uint32_t>(text.size());
    const uint32_t copied = length < size ? length : size - 1;
    for (uint32_t i = 0; i < copied; ++i) {
        const auto unit = static_cast<uint32_t>(text[i]);
        buffer[i] = static_cast<Unit>(sizeof(Unit) == 1 && unit > 0x7F ? '?' : unit);
    }
    buffer[copied] = 0;
    return copied;
}

const SystemText* ProfileValue(const wchar_t* file, const wchar_t* section, const wchar_t* key) {
    System().profile_path = file;
    const auto& profile = System().profile;
    const auto in_section = profile.find(section);
    if (in_section == profile.end())
        return nullptr;
    const auto value = in_section->second.find(key);
    return value == in_section->second.end() ? nullptr : &value->second;
}

}  // namespace

SystemText SystemTextFromUtf8(const std::string& utf8) {
    SystemText text;
    for (size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<uint8_t>(utf8[i]);
        const size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
        uint32_t c = extra ? lead & (0x3F >> extra) : lead;
        for (size_t k = 1; k <= extra && i + k < utf8.size(); ++k)
            c = (c << 6) | (static_cast<uint8_t>(utf8[i + k]) & 0x3F);
        i += extra + 1;
        // What is no character comes through as the unit it makes, a
        // surrogate alone included: a system path may hold any units.
        if (c > 0x10FFFF) {
            text += static_cast<wchar_t>(c & 0xFFFF);
        } else if (c >= 0x10000) {
            text += static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            text += static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            text += static_cast<wchar_t>(c);
        }
    }
    return text;
}

NativeSystem& System() {
    static NativeSystem* system = new NativeSystem;
    return *system;
}

void NativeSystemReset() {
    System() = NativeSystem{};
}

void* PlatformReplaceSystemCall(const char*, void*) {
    return nullptr;
}

void* PlatformSystemFunction(const char*) {
    return nullptr;
}

void* PlatformFindModule(const char* name) {
    return name != nullptr && strcmp(name, "VELDAN") == 0 ? &host_module : nullptr;
}

uint32_t PlatformModuleFileName(void* module, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    buffer[0] = 0;
    return module == &plugin_module ? CopyTerminated(System().module_path, buffer, size) : 0;
}

void* PlatformLookupOrdinal(void*, uint16_t) {
    return nullptr;  // the host operations are linked in, never looked up
}

int PlatformMessageBox(const char*, const char*, uint32_t) {
    return 0;  // the box could not be shown
}

HostTranslatorFunction PlatformInstallTranslator(HostTranslatorFunction) {
    return nullptr;  // no runtime offers a translator setter here
}

uint32_t PlatformEntropy() {
    return 0x5EED5EEDu;  // the same in every run, for reproducible runs
}

void PlatformFailFast() {
    abort();
}

void PlatformModuleExtent(void* module, uintptr_t* start, uintptr_t* end) {
    *start = *end = 0;
    (void)module;
}

// The native door's process has no creation time to tell it from another:
// the identifier alone.
void PlatformProcessMark(uint32_t* id, uint64_t* created) {
    *id = static_cast<uint32_t>(getpid());
    *created = 0;
}

uint32_t PlatformMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

uint32_t PlatformThreadId() {
    return static_cast<uint32_t>(syscall(SYS_gettid));
}

uintptr_t PlatformStackBase() {
    pthread_attr_t attributes;
    void* low = nullptr;
    size_t size = 0;
    if (pthread_getattr_np(pthread_self(), &attributes) != 0)
        return 0;
    pthread_attr_getstack(&attributes, &low, &size);
    pthread_attr_destroy(&attributes);
    return reinterpret_cast<uintptr_t>(low) + size;
}

uint32_t PlatformModuleFileNameW(void* module, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    buffer[0] = 0;
    const SystemText& path = System().module_path;
    // As platform_win32.cpp: a path cut at the buffer's size is no path.
    if (module != &plugin_module || path.empty() || path.size() >= size)
        return 0;
    return CopyTerminated(path, buffer, size);
}

void PlatformProfileText(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                         const wchar_t* fallback, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return;
    const SystemText* value = ProfileValue(file, section, key);
    CopyTerminated(value ? *value : SystemText(fallback ? fallback : L""), buffer, size);
}

int32_t PlatformProfileNumber(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                              int32_t fallback) {
    const SystemText* value = ProfileValue(file, section, key);
    if (value == nullptr)
        return fallback;
    // The leading digits, with a sign, as the profile functions read them;
    // 32-bit arithmetic that wraps, never undefined.
    uint32_t number = 0;
    size_t i = !value->empty() && ((*value)[0] == L'-' || (*value)[0] == L'+') ? 1 : 0;
    for (; i < value->size() && (*value)[i] >= L'0' && (*value)[i] <= L'9'; ++i)
        number = number * 10 + static_cast<uint32_t>((*value)[i] - L'0');
    return static_cast<int32_t>(!value->empty() && (*value)[0] == L'-' ? 0u - number : number);
}

// As GetFullPathNameW for the paths the plug-in makes (always from a full
// folder): "." and ".." folded, / read as \, a trailing dot or space of the
// last name dropped. A path that would not fit, or climbs above its root, is
// no path.
uint32_t PlatformFullPath(const wchar_t* path, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    buffer[0] = 0;
    if (path == nullptr)
        return 0;
    SystemText full;
    size_t root = 0;
    for (const wchar_t* at = path; *at != 0;) {
        const wchar_t* end = at;
        while (*end != 0 && *end != L'\\' && *end != L'/')
            ++end;
        const SystemText name(at, end);
        if (full.empty() && at == path) {
            full = name;
            root = full.size();
        } else if (name == L"..") {
            const size_t cut = full.rfind(L'\\');
            if (cut == SystemText::npos || cut < root)
                return 0;
            full.resize(cut);
        } else if (!name.empty() && name != L".") {
            full += L'\\';
            full += name;
        }
        at = *end != 0 ? end + 1 : end;
    }
    while (full.size() > root && (full.back() == L'.' || full.back() == L' '))
        full.pop_back();
    if (full.size() >= size)
        return 0;
    return CopyTerminated(full, buffer, size);
}

// Case ignored for the letters the native door knows, ASCII's.
bool PlatformSamePath(const wchar_t* a, const wchar_t* b) {
    const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? c - L'a' + L'A' : c; };
    for (; *a != 0 || *b != 0; ++a, ++b)
        if (upper(*a) != upper(*b))
            return false;
    return true;
}

void* PlatformOpenAppend(const wchar_t* path, bool* empty) {
    if (path == nullptr || System().files_fail)
        return nullptr;
    std::string& bytes = System().files[path];
    if (empty != nullptr)
        *empty = bytes.empty();
    return new OpenFile{path};
}

bool PlatformAppend(void* file, const void* bytes, uint32_t size) {
    if (file == nullptr)
        return false;
    System().files[static_cast<OpenFile*>(file)->path].append(static_cast<const char*>(bytes),
                                                              size);
    return true;
}

void PlatformClose(void* file) {
    delete static_cast<OpenFile*>(file);
}

void PlatformYield() {
    sched_yield();
}

PlatformTime PlatformLocalTime() {
    return {2026, 12, 7, 12, 29, 46, 0};  // fixed, for reproducible runs
}

uint32_t PlatformReadableSize(const void* address, uint32_t size) {
    // Read through the kernel, page by page: an unreadable page fails the
    // call instead of faulting, and no sanitizer sees the read.
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto start = reinterpret_cast<uintptr_t>(address);
    uintptr_t at = start;
    std::vector<char> scratch(page);
    while (at - start < size) {
        const uintptr_t chunk = page - at % page;
        iovec local{scratch.data(), chunk};
        iovec remote{reinterpret_cast<void*>(at), chunk};
        if (process_vm_readv(getpid(), &local, 1, &remote, 1, 0) != static_cast<ssize_t>(chunk))
            break;
        at += chunk;
    }
    const uintptr_t readable = at - start;
    return readable < size ? static_cast<uint32_t>(readable) : size;
}

// The plug-in's own module, as the attach step records it.
void* NativePluginModule() {
    return &plugin_module;
}
