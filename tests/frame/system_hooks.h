// Scripted stand-ins for the system calls the plug-in makes, put in place by
// patching the import address table of the program under test (the plug-in's
// code is linked into it, so its calls go through that table).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// Replaces the import of library!function in module's import address table;
// returns the address it held, or null when module does not import it.
void* PatchImport(void* module, const char* library, const char* function, void* replacement);

// The program's own module handle.
void* ProgramModule();

// Patches MessageBoxA, GetModuleFileNameA and GetProcAddress of the program.
void InstallSystemHooks();

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
