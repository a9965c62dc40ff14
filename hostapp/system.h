// What the host program needs of the system: the terminal, files, and
// loading the plug-in module by ordinals. The only part of the host program
// that includes windows.h.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_records.h"

namespace hostapp {

// ---------------------------------------------------------------- terminal
// Output goes out as UTF-8 bytes when it is redirected; to a console it goes
// as UTF-16, since the console would otherwise reinterpret the bytes in its
// own code page. Attributes only on a console: the SGR sequences of Render
// become the console's own text attributes there.
void InitTerminal();
bool StyledOutput();
void Out(std::string_view utf8);
void Err(std::string_view utf8);
// One line from standard input, without its line end; false at the end.
bool ReadLine(std::string& line);
// True when standard input is typed at a console (echoed by it), false when
// it comes from a pipe or a file.
bool InputIsConsole();

// The program's arguments as UTF-8, whatever the system's code page (document
// numbers such as "HŁ/112" come through whole); without the program's name.
std::vector<std::string> CommandLineArguments();

// ---------------------------------------------------------------- files
// Paths are UTF-8 and reach the system as UTF-16, so that letters outside the
// system's ANSI code page (pl/łódź.json on a Western system) work as typed.
// A UTF-8 path in the system's ANSI code page, for the stand-in's settings
// file, which it opens by an ANSI name; where the folder's name has letters
// outside the code page, by the folder's short name.
std::string SystemPath(const std::string& utf8);
std::string ExeDirectory();  // with its trailing backslash
bool FileExists(const std::string& path);
bool IsDirectory(const std::string& path);
// Whether the file at path can be replaced by a new one: its folder takes a
// new file and the file is not read-only. False with the reason (Polish).
bool CanReplace(const std::string& path, std::string& reason);
// Copies the file into folder (ending in a separator; made if missing) under
// its own name, replacing what is there. False with the reason (Polish).
bool CopyIntoFolder(const std::string& file, const std::string& folder, std::string& reason);

// ---------------------------------------------------------------- exit
// Leaves the exit code where tools/veldan-host.sh looks for it (the file
// that QUENDRIX_HOST_STATUS names), so that the script tells a run that
// ended from outside, whose Wine process ends with 0, from one that finished.
void ReportExit(int code);
// From now on a crash anywhere in the process (the plug-in, the stand-in, the
// program itself) ends it at once with code: said on standard error with the
// exception, its address and the module it fell in, and left for the script
// as ReportExit leaves it. Nothing is saved.
void ReportCrashes(int code);

// ---------------------------------------------------------------- plug-in
using StartEntry = int32_t(HOST_STDCALL*)(void* context, char* text_buffer);
using InstallEntry = int32_t(HOST_STDCALL*)(int32_t flag);
using IdleEntry = int32_t(HOST_STDCALL*)(void);

struct PluginModule {
    void* module = nullptr;
    StartEntry start = nullptr;      // ordinal 30001
    InstallEntry install = nullptr;  // ordinal 30008
    IdleEntry idle = nullptr;        // ordinal 30009
};

enum class LoadError { kNone, kMissing, kNotLoadable, kNotAPlugin };

// Loads the module as the host does and finds its three entries by ordinal.
// On failure detail says what went wrong and nothing stays loaded.
LoadError LoadPlugin(const std::string& path, PluginModule& plugin, std::string& detail);
void UnloadPlugin(PluginModule& plugin);

}  // namespace hostapp
