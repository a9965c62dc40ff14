// Quendrix.dll loaded as the host loads it: from beside the program, next to
// the stand-in VELDAN.dll, its entries found by ordinal.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "host/host_api.h"

namespace test_host {

using StartEntry = int32_t(__stdcall*)(void* context, char* text_buffer);
using InstallEntry = int32_t(__stdcall*)(int32_t flag);
using IdleEntry = int32_t(__stdcall*)(void);

inline constexpr int kStartOrdinal = kOrdinalPluginStart;
inline constexpr int kInstallOrdinal = kOrdinalPluginInstall;
inline constexpr int kIdleOrdinal = kOrdinalPluginIdle;

struct Plugin {
    HMODULE module = nullptr;
    StartEntry start = nullptr;
    InstallEntry install = nullptr;
    IdleEntry idle = nullptr;
};

// The stand-in's export of a host operation, called directly as a caller that
// binds it itself would; null when the library lacks it.
template <typename Function>
Function HostOperation(int32_t ordinal) {
    return reinterpret_cast<Function>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("VELDAN.dll"), MAKEINTRESOURCEA(ordinal))));
}

// Every host operation as the stand-in exports it, called directly: a member
// of each operation's own name and type, null where the library lacks it.
struct DirectHost {
#define TEST_HOST_DIRECT_OPERATION(name, ordinal, convention, bytes, result, params) \
    decltype(&::name) name = HostOperation<decltype(&::name)>(ordinal);
    HOST_OPERATIONS(TEST_HOST_DIRECT_OPERATION)
#undef TEST_HOST_DIRECT_OPERATION
};
// Looked up once, in the stand-in the program loaded.
const DirectHost& Direct();

// Whatever could be found: a null module or entry where it could not.
Plugin LoadPlugin();
// False (with why) unless the DLL loaded with its start and install entries.
bool LoadPlugin(Plugin& plugin, std::string& why);

// The plug-in at path (loaded again, where it is already).
Plugin LoadPluginFrom(const std::wstring& path);

// A copy of the program's Quendrix.dll in folder, loaded from there: the
// plug-in then reads its settings file (Quendrix.ini) from that folder. The
// copy's module differs from any other copy's.
Plugin LoadPluginCopy(const std::string& folder);

// A new, empty folder under the system's temporary folder (ending in a
// backslash), and its removal with the files directly in it.
std::string MakeTemporaryFolder();
void RemoveFolder(const std::string& folder);

// The one context the host hands over for the whole run; its address is all
// the plug-in keeps of it.
void* HostContext();

// The host's start-up step, the one every test and the benchmark take: start
// with the host's context, then install; false (with why) when the plug-in
// refused either.
bool StartAndInstall(const Plugin& plugin, std::string& why);

}  // namespace test_host
