// Windows implementation of platform.h. It calls nothing of the plug-in's
// own: the door to the system is the bottom of the frame.
#include <windows.h>

#include "frame/platform.h"

void* PlatformFindModule(const char* name) {
    return reinterpret_cast<void*>(GetModuleHandleA(name));
}

uint32_t PlatformModuleFileName(void* module, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    DWORD length = GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
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
    FARPROC found = GetProcAddress(static_cast<HMODULE>(module), MAKEINTRESOURCEA(ordinal));
    return reinterpret_cast<void*>(found);
}

int PlatformMessageBox(const char* text, const char* caption, uint32_t style) {
    return MessageBoxA(nullptr, text, caption, style);
}

HostTranslatorFunction PlatformInstallTranslator(HostTranslatorFunction translator) {
    // msvcrt exports the setter only under its C++ name, and the import
    // libraries have no entry for it.
    using Setter = HostTranslatorFunction(__cdecl*)(HostTranslatorFunction);
    HMODULE runtime = GetModuleHandleA("msvcrt.dll");
    if (runtime == nullptr)
        return nullptr;
    auto setter = reinterpret_cast<Setter>(reinterpret_cast<void*>(GetProcAddress(
        runtime, "?_set_se_translator@@YAP6AXIPAU_EXCEPTION_POINTERS@@@ZP6AXI0@Z@Z")));
    if (setter == nullptr)
        return nullptr;
    return setter(translator);
}

uint32_t PlatformEntropy() {
    FILETIME time;
    GetSystemTimeAsFileTime(&time);
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    uint32_t value = time.dwLowDateTime ^ time.dwHighDateTime;
    value ^= (GetCurrentProcessId() << 16) ^ GetCurrentThreadId();
    value ^= GetTickCount();
    value ^= counter.LowPart ^ static_cast<uint32_t>(counter.HighPart);
    // Where the stack and this module lie; both move at every start.
    value ^= static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&counter));
    value ^= static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&PlatformEntropy)) << 7;
    return value;
}

void PlatformFailFast() {
    constexpr UINT kStackBufferOverrun = 0xC0000409;  // STATUS_STACK_BUFFER_OVERRUN
    TerminateProcess(GetCurrentProcess(), kStackBufferOverrun);
    __builtin_trap();  // not reached: the call does not return to its own process
}

uint32_t PlatformModuleFileNameW(void* module, wchar_t* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(module), buffer, size);
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
    const DWORD length = GetPrivateProfileStringW(section, key, fallback, buffer, size, file);
    buffer[length < size ? length : size - 1] = 0;
}

int32_t PlatformProfileNumber(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                              int32_t fallback) {
    return static_cast<int32_t>(GetPrivateProfileIntW(section, key, fallback, file));
}

void* PlatformOpenAppend(const wchar_t* path, bool* empty) {
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return nullptr;
    if (empty != nullptr) {
        LARGE_INTEGER size;
        *empty = GetFileSizeEx(file, &size) && size.QuadPart == 0;
    }
    return file;
}

bool PlatformAppend(void* file, const void* bytes, uint32_t size) {
    DWORD written = 0;
    return file != nullptr &&
           WriteFile(static_cast<HANDLE>(file), bytes, size, &written, nullptr) && written == size;
}

void PlatformClose(void* file) {
    if (file != nullptr)
        CloseHandle(static_cast<HANDLE>(file));
}

void PlatformYield() {
    Sleep(0);
}

uint32_t PlatformThreadId() {
    return GetCurrentThreadId();
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
    GetLocalTime(&now);
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
        if (VirtualQuery(reinterpret_cast<const void*>(at), &region, sizeof region) == 0 ||
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
