// Windows implementation of platform.h. It calls nothing of the plug-in's
// own: the door to the system is the bottom of the frame.
#include <windows.h>

#include "frame/platform.h"

namespace {

// ------------------------------------------------------------------ the system calls
// Every Windows function the plug-in calls, one line each. A call goes
// through the function's slot: a test's replacement when the slot holds one,
// otherwise the system's own. The slots are constant-initialised, so the
// table serves before the C runtime starts, at attach.
/* clang-format off */
#define PLATFORM_SYSTEM_CALLS(X) \
    X(CharUpperW) \
    X(CloseHandle) \
    X(CreateFileW) \
    X(GetCurrentProcess) \
    X(GetCurrentProcessId) \
    X(GetCurrentThreadId) \
    X(GetFileSizeEx) \
    X(GetFullPathNameW) \
    X(GetLocalTime) \
    X(GetModuleFileNameA) \
    X(GetModuleFileNameW) \
    X(GetModuleHandleA) \
    X(GetProcessTimes) \
    X(GetPrivateProfileIntW) \
    X(GetPrivateProfileStringW) \
    X(GetProcAddress) \
    X(GetSystemTimeAsFileTime) \
    X(GetTickCount) \
    X(MessageBoxA) \
    X(QueryPerformanceCounter) \
    X(Sleep) \
    X(TerminateProcess) \
    X(VirtualQuery) \
    X(WriteFile)
/* clang-format on */

#define PLATFORM_CALL_ID(name) kCall##name,
enum SystemCallId : int { PLATFORM_SYSTEM_CALLS(PLATFORM_CALL_ID) kSystemCallCount };
#undef PLATFORM_CALL_ID

#define PLATFORM_CALL_NAME(name) #name,
constexpr const char* kSystemCallNames[] = {PLATFORM_SYSTEM_CALLS(PLATFORM_CALL_NAME)};
#undef PLATFORM_CALL_NAME

void* replacements[kSystemCallCount] = {};

template <typename Function>
Function Own(SystemCallId id, Function own) {
    void* const replacement = replacements[id];
    return replacement != nullptr ? reinterpret_cast<Function>(replacement) : own;
}

// The function to call for a Windows function of that name.
#define SYSTEM(name) Own(kCall##name, &::name)

bool SameName(const char* a, const char* b) {
    while (*a != 0 && *a == *b)
        ++a, ++b;
    return *a == *b;
}

int FindSystemCall(const char* name) {
    for (int i = 0; name != nullptr && i < kSystemCallCount; ++i)
        if (SameName(kSystemCallNames[i], name))
            return i;
    return -1;
}

}  // namespace

void* PlatformReplaceSystemCall(const char* name, void* replacement) {
    if (name == nullptr) {
        for (void*& slot : replacements)
            slot = nullptr;
        return nullptr;
    }
    const int id = FindSystemCall(name);
    if (id < 0)
        return nullptr;
    void* const before = replacements[id];
    replacements[id] = replacement;
    return before;
}

void* PlatformSystemFunction(const char* name) {
#define PLATFORM_CALL_FUNCTION(name) reinterpret_cast<void*>(&::name),
    void* const own[] = {PLATFORM_SYSTEM_CALLS(PLATFORM_CALL_FUNCTION)};
#undef PLATFORM_CALL_FUNCTION
    const int id = FindSystemCall(name);
    return id < 0 ? nullptr : own[id];
}

void* PlatformFindModule(const char* name) {
    return reinterpret_cast<void*>(SYSTEM(GetModuleHandleA)(name));
}

uint32_t PlatformModuleFileName(void* module, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    DWORD length = SYSTEM(GetModuleFileNameA)(static_cast<HMODULE>(module), buffer, size);
    // Older systems leave a truncated path without its terminator and report
    // the full size; newer ones terminate it. Either way the text ends here.
    if (length >= size)
        length = size - 1;
    buffer[length] = 0;
    return length;
}

void* PlatformLookupOrdinal(void* module, uint16_t ordinal) {
    // A null module would make the lookup search the calling program itself.
    if (module == nullptr)
        return nullptr;
    FARPROC found = SYSTEM(GetProcAddress)(static_cast<HMODULE>(module), MAKEINTRESOURCEA(ordinal));
    return reinterpret_cast<void*>(found);
}

int PlatformMessageBox(const char* text, const char* caption, uint32_t style) {
    return SYSTEM(MessageBoxA)(nullptr, text, caption, style);
}

HostTranslatorFunction PlatformInstallTranslator(HostTranslatorFunction translator) {
    // msvcrt exports the setter only under its C++ name, and the import
    // libraries have no entry for it.
    using Setter = HostTranslatorFunction(__cdecl*)(HostTranslatorFunction);
    HMODULE runtime = SYSTEM(GetModuleHandleA)("msvcrt.dll");
    if (runtime == nullptr)
        return nullptr;
    auto setter = reinterpret_cast<Setter>(reinterpret_cast<void*>(SYSTEM(GetProcAddress)(
        runtime, "?_set_se_translator@@YAP6AXIPAU_EXCEPTION_POINTERS@@@ZP6AXI0@Z@Z")));
    if (setter == nullptr)
        return nullptr;
    return setter(translator);
}

uint32_t PlatformEntropy() {
    FILETIME time;
    SYSTEM(GetSystemTimeAsFileTime)(&time);
    LARGE_INTEGER counter;
    SYSTEM(QueryPerformanceCounter)(&counter);
    uint32_t value = time.dwLowDateTime ^ time.dwHighDateTime;
    value ^= (SYSTEM(GetCurrentProcessId)() << 16) ^ SYSTEM(GetCurrentThreadId)();
    value ^= SYSTEM(GetTickCount)();
    value ^= counter.LowPart ^ static_cast<uint32_t>(counter.HighPart);
    // Where the stack and this module lie; both move at every start.
    value ^= static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&counter));
    value ^= static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&PlatformEntropy)) << 7;
    return value;
}

void PlatformFailFast() {
    constexpr UINT kStackBufferOverrun = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN
    SYSTEM(TerminateProcess)(SYSTEM(GetCurrentProcess)(), kStackBufferOverrun);
    __builtin_trap();  // not reached: the call does not return to its own process
}

uint32_t PlatformModuleFileNameW(void* module, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    const DWORD length = SYSTEM(GetModuleFileNameW)(static_cast<HMODULE>(module), buffer, size);
    // A path cut at the buffer's size names another file, or a parent folder.
    if (length == 0 || length >= size) {
        buffer[0] = 0;
        return 0;
    }
    buffer[length] = 0;
    return length;
}

void PlatformProfileText(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                         const wchar_t* fallback, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return;
    buffer[0] = 0;
    const DWORD length =
        SYSTEM(GetPrivateProfileStringW)(section, key, fallback, buffer, size, file);
    buffer[length < size ? length : size - 1] = 0;
}

int32_t PlatformProfileNumber(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                              int32_t fallback) {
    return static_cast<int32_t>(SYSTEM(GetPrivateProfileIntW)(section, key, fallback, file));
}

uint32_t PlatformFullPath(const wchar_t* path, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    const DWORD length = SYSTEM(GetFullPathNameW)(path, size, buffer, nullptr);
    // Too small a buffer leaves it as it was and asks for more.
    if (length == 0 || length >= size) {
        buffer[0] = 0;
        return 0;
    }
    buffer[length] = 0;
    return length;
}

bool PlatformSamePath(const wchar_t* a, const wchar_t* b) {
    // One character at a time: the address's high word 0 makes it the
    // character itself, which comes back in upper case.
    const auto upper = [](wchar_t c) {
        return reinterpret_cast<uintptr_t>(
            SYSTEM(CharUpperW)(reinterpret_cast<LPWSTR>(static_cast<uintptr_t>(c))));
    };
    for (; *a != 0 || *b != 0; ++a, ++b)
        if (*a != *b && upper(*a) != upper(*b))
            return false;
    return true;
}

void* PlatformOpenAppend(const wchar_t* path, bool* empty) {
    HANDLE file = SYSTEM(CreateFileW)(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    if (empty != nullptr) {
        LARGE_INTEGER size;
        *empty = SYSTEM(GetFileSizeEx)(file, &size) && size.QuadPart == 0;
    }
    return file;
}

bool PlatformAppend(void* file, const void* bytes, uint32_t size) {
    DWORD written = 0;
    return file != nullptr &&
           SYSTEM(WriteFile)(static_cast<HANDLE>(file), bytes, size, &written, nullptr) &&
           written == size;
}

void PlatformClose(void* file) {
    if (file != nullptr)
        SYSTEM(CloseHandle)(static_cast<HANDLE>(file));
}

void PlatformYield() {
    SYSTEM(Sleep)(0);
}

uint32_t PlatformMilliseconds() {
    return SYSTEM(GetTickCount)();
}

void PlatformModuleExtent(void* module, uintptr_t* start, uintptr_t* end) {
    *start = *end = 0;
    if (module == nullptr)
        return;
    // A loaded module's headers lie at its handle: no system call needed.
    const auto* dos = static_cast<const IMAGE_DOS_HEADER*>(module);
    const auto* nt =
        reinterpret_cast<const IMAGE_NT_HEADERS*>(static_cast<const char*>(module) + dos->e_lfanew);
    *start = reinterpret_cast<uintptr_t>(module);
    *end = *start + nt->OptionalHeader.SizeOfImage;
}

void PlatformProcessMark(uint32_t* id, uint64_t* created) {
    *id = SYSTEM(GetCurrentProcessId)();
    FILETIME creation = {}, exit = {}, kernel = {}, user = {};
    SYSTEM(GetProcessTimes)(SYSTEM(GetCurrentProcess)(), &creation, &exit, &kernel, &user);
    *created = uint64_t{creation.dwHighDateTime} << 32 | creation.dwLowDateTime;
}

uint32_t PlatformThreadId() {
    return SYSTEM(GetCurrentThreadId)();
}

uintptr_t PlatformStackBase() {
    // NT_TIB's StackBase, read through FS as NtCurrentTeb would (whose
    // inline form the compiler takes for an access outside an array).
    static_assert(offsetof(NT_TIB, StackBase) == 4);
    uintptr_t base;
    asm("movl %%fs:4, %0" : "=r"(base));
    return base;
}

PlatformTime PlatformLocalTime() {
    SYSTEMTIME now;
    SYSTEM(GetLocalTime)(&now);
    return {now.wYear,   now.wMonth,  now.wDay,         now.wHour,
            now.wMinute, now.wSecond, now.wMilliseconds};
}

uint32_t PlatformReadableSize(const void* address, uint32_t size) {
    constexpr DWORD kReadable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY |
                                PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    const auto start = reinterpret_cast<uintptr_t>(address);
    uintptr_t at = start;
    while (at - start < size) {
        MEMORY_BASIC_INFORMATION region;
        if (SYSTEM(VirtualQuery)(reinterpret_cast<const void*>(at), &region, sizeof region) == 0 ||
            region.State != MEM_COMMIT || (region.Protect & kReadable) == 0 ||
            (region.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0)
            break;
        const uintptr_t end = reinterpret_cast<uintptr_t>(region.BaseAddress) + region.RegionSize;
        if (end <= at)
            break;
        at = end;
    }
    const uintptr_t readable = at - start;
    return readable < size ? static_cast<uint32_t>(readable) : size;
}
