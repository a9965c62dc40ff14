// Windows implementation of platform.h, and the module's real entry point.
#include <windows.h>

#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/stack_guard.h"

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

// The runtime's own DLL entry. Weak, so that programs linking the plug-in's
// code without being a DLL (the tests) need not provide it.
extern "C" BOOL WINAPI DllMainCRTStartup(HINSTANCE, DWORD, LPVOID) __attribute__((weak));

// The DLL's real entry point: seeds the stack canary and records the module
// before the runtime is set up and before any static object is constructed,
// then hands over to the runtime. It carries no canary itself: it is running
// while the canary changes.
extern "C" __attribute__((no_stack_protector)) BOOL WINAPI QuendrixDllEntry(HINSTANCE instance,
                                                                            DWORD reason,
                                                                            LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH)
        SeedStackGuard(PlatformEntropy());
    AttachToHost(reinterpret_cast<void*>(instance), reason);
    if (DllMainCRTStartup == nullptr)
        return TRUE;
    return DllMainCRTStartup(instance, reason, reserved);
}

void PlatformProfileText(const char* file, const char* section, const char* key,
                         const char* fallback, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return;
    buffer[0] = 0;
    const DWORD length = GetPrivateProfileStringA(section, key, fallback, buffer, size, file);
    buffer[length < size ? length : size - 1] = 0;
}

int32_t PlatformProfileNumber(const char* file, const char* section, const char* key,
                              int32_t fallback) {
    return static_cast<int32_t>(GetPrivateProfileIntA(section, key, fallback, file));
}

void* PlatformOpenAppend(const char* path, bool* empty) {
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
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

uint32_t PlatformThreadId() {
    return GetCurrentThreadId();
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
