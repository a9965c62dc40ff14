// Scripted stand-ins for the system calls the plug-in makes, put into the
// plug-in's table of system calls (PlatformReplaceSystemCall, frame/platform.h)
// of the plug-in's code linked into the program under test. Only the
// plug-in's calls see them; the test's own calls reach the system.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// The program's own module handle.
void* ProgramModule();

// Scripts MessageBoxA, GetModuleFileNameA and GetProcAddress of the plug-in.
void InstallSystemHooks();
// Gives every system call of the plug-in back to the system.
void RemoveSystemHooks();

// ---- MessageBoxA: every box shown, and the answers given in turn.
struct ShownBox {
    std::string text;  // the exact bytes, up to the terminator
    std::string caption;
    uint32_t style;
    bool has_owner;
};
inline constexpr int kAnswerAbort = 3, kAnswerRetry = 4, kAnswerIgnore = 5;
void QueueAnswers(std::initializer_list<int> answers);  // an unexpected box fails the test
const std::vector<ShownBox>& ShownBoxes();

// ---- GetModuleFileNameA for one module; other modules get the real answer.
enum class ModuleNameMode {
    kReal,
    kFixed,                  // the given path, as the system reports it
    kFail,                   // returns 0
    kTruncatedUnterminated,  // fills the whole buffer, no terminator, returns the size
};
void ScriptModuleName(void* module, ModuleNameMode mode, const std::string& path = "");
uint32_t LastModuleNameSize();  // the size argument of the latest scripted call

// ---- GetProcAddress by ordinal on one module: every ordinal looked up.
void WatchLookups(void* module);
const std::vector<uint16_t>& Lookups();

// ---- WriteFile: the write-th write of the plug-in from now on (1 the next)
// writes only the first half of its bytes and fails; the others are written.
// 0 makes none fail.
void FailWriteHalfWay(int write);
int WritesSinceArmed();
