// The native build's door to the system (frame/platform.h natively): what
// platform_win32.cpp asks of Windows, played in memory, so that the plug-in's
// portable code runs in a native test program under the sanitizers. The
// controls below set what the system would answer and read what the plug-in
// wrote; they are test equipment, never part of the plug-in.
#pragma once

#include <map>
#include <string>

// The "system's" Unicode texts: UTF-16 units, one in each wchar_t, as the
// plug-in's code handles them on Windows.
using SystemText = std::wstring;
SystemText SystemTextFromUtf8(const std::string& utf8);

struct NativeSystem {
    // What GetModuleFileNameW gives for the plug-in's module; the ANSI path
    // is the same with every unit above 0x7F as '?'.
    SystemText module_path = L"C:\\Quendrix\\Quendrix.dll";
    // The settings file, whatever path the plug-in reads it by: section, key
    // and value as the profile functions find them (names compared as
    // written); and the path last read.
    std::map<SystemText, std::map<SystemText, SystemText>> profile;
    SystemText profile_path;
    // The files the plug-in appended to, by path, and whether opening one
    // fails.
    std::map<SystemText, std::string> files;
    bool files_fail = false;
};

// The one system of the process; NativeSystemReset puts back the defaults and
// closes nothing the plug-in still holds (its handles stay valid).
NativeSystem& System();
void NativeSystemReset();

// The plug-in's module handle, as the system would hand it to its entry:
// QuendrixDllEntry(NativePluginModule(), kProcessAttach, nullptr) attaches it.
void* NativePluginModule();
