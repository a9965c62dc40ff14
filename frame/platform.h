// The plug-in's only door to the operating system.
//
// The few system services the plug-in needs are reached through these
// functions, all implemented in platform_win32.cpp; no other file of the
// plug-in includes a Windows header. Module handles are opaque pointers here.
// Each Windows function they call goes through one table, where a test may
// put a function of its own in its place (PlatformReplaceSystemCall).
// What else ties the plug-in to 32-bit x86 and this compiler is named where it
// stands: the host entries in host_entries.S (i386 assembly), the host's
// calling conventions in host/host_records.h, the module's real entry point
// and the import slot of the host's exception translator in plugin_entry.cpp,
// and the stack canary that -fstack-protector expects in stack_guard.cpp.
#pragma once

#include <cstdint>

#include "host/host_api.h"

// ---------------------------------------------------------------- the system calls
// The Windows functions the plug-in calls, each through a slot of one table,
// which is both the indirection to the system and the place where a test
// makes a call fail: the slot holds a replacement, or nothing, and then the
// system's own function is called. Only tests fill it.

// Puts replacement, a function of the same type as the Windows function of
// that name, into its slot (null: the system's own again); returns what the
// slot held (null: the system's own). A null name empties every slot. An
// unknown name changes nothing and returns null.
void* PlatformReplaceSystemCall(const char* name, void* replacement);
// The system's own function of that name, for a replacement that calls
// through to it; null for a name the plug-in does not call.
void* PlatformSystemFunction(const char* name);

// ---------------------------------------------------------------- services
// A module already loaded in the process, by name; null when it is not loaded.
// Never loads anything.
void* PlatformFindModule(const char* name);

// The file path of a module, written into buffer and always zero-terminated
// within size bytes, also when the system truncates it. Returns the length of
// the text written, 0 when the path cannot be obtained (buffer then holds "").
uint32_t PlatformModuleFileName(void* module, char* buffer, uint32_t size);

// The export of a module with the given ordinal; null when the module lacks it
// or module is null.
void* PlatformLookupOrdinal(void* module, uint16_t ordinal);

// A system message box without owner window; returns the button chosen, or 0
// when the box could not be shown.
int PlatformMessageBox(const char* text, const char* caption, uint32_t style);

// Installs a structured-exception translator of the C runtime for the calling
// thread; returns the one installed before, or null when the runtime offers no
// translator setter.
HostTranslatorFunction PlatformInstallTranslator(HostTranslatorFunction translator);

// A value that differs from process to process and from one load to the next,
// from what the system offers without loading anything: its clocks, the
// process and thread identifiers, and addresses that address-space layout
// randomisation places anew at every start.
uint32_t PlatformEntropy();

// Ends the process at once with the system's code for a stack buffer overrun,
// running nothing of the process's own on the way out.
[[noreturn]] void PlatformFailFast();

// Where a loaded module lies in memory: from its handle to the end of its
// image, as its headers say. Both 0 for a null module.
void PlatformModuleExtent(void* module, uintptr_t* start, uintptr_t* end);

// What tells the process apart from any other, also from one that had its
// identifier before: the identifier and the time it was created (0 where
// the system does not say).
void PlatformProcessMark(uint32_t* id, uint64_t* created);

uint32_t PlatformThreadId();
// The highest address of the calling thread's stack, just past its first frame.
uintptr_t PlatformStackBase();

// ---------------------------------------------------------------- diagnostics
// Only the field diagnostics (call trace and comparison journal) use these.
// Their files are found and named by the system's Unicode paths: a folder
// whose name has letters outside the system's ANSI code page has no ANSI name.

// The module's file path, zero-terminated; 0 (with buffer "") when it cannot
// be obtained or does not fit into size characters with its terminator.
uint32_t PlatformModuleFileNameW(void* module, wchar_t* buffer, uint32_t size);

// A value of an INI file, read with the system's profile functions. The text
// is always zero-terminated within size characters; fallback where the file,
// the section or the key is missing.
void PlatformProfileText(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                         const wchar_t* fallback, wchar_t* buffer, uint32_t size);
int32_t PlatformProfileNumber(const wchar_t* file, const wchar_t* section, const wchar_t* key,
                              int32_t fallback);

// A path made full as the system makes one: from the current folder when it
// is relative, "." and ".." resolved, '/' as a backslash, repeated separators and
// the dots and spaces that end a name dropped. 0 (with buffer "") when it
// cannot be or does not fit into size characters with its terminator.
uint32_t PlatformFullPath(const wchar_t* path, wchar_t* buffer, uint32_t size);
// Whether two full paths name one file as the system compares names: letter
// case aside.
bool PlatformSamePath(const wchar_t* a, const wchar_t* b);

// A file opened for appending, created when missing; null when it cannot be.
// empty tells whether it held nothing yet.
void* PlatformOpenAppend(const wchar_t* path, bool* empty);
// Appends size bytes in one write; false unless all of them were written.
bool PlatformAppend(void* file, const void* bytes, uint32_t size);
void PlatformClose(void* file);

// Gives the rest of the calling thread's time slice to another thread.
void PlatformYield();
// Milliseconds since the system started, wrapping after 49 days: for spans.
uint32_t PlatformMilliseconds();

struct PlatformTime {
    uint16_t year, month, day, hour, minute, second, millisecond;
};
PlatformTime PlatformLocalTime();

// How many of the size bytes from address on can be read without a fault: the
// memory is committed and neither no-access nor a guard page.
uint32_t PlatformReadableSize(const void* address, uint32_t size);
