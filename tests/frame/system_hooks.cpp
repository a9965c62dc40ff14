#include "system_hooks.h"

#include <windows.h>

#include <cstring>
#include <deque>

#include <gtest/gtest.h>

#include "frame/platform.h"

void* ProgramModule() {
    return reinterpret_cast<void*>(GetModuleHandleA(nullptr));
}

namespace {

using ModuleNameFunction = DWORD(WINAPI*)(HMODULE, LPSTR, DWORD);
using LookupFunction = FARPROC(WINAPI*)(HMODULE, LPCSTR);
using WriteFunction = BOOL(WINAPI*)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

template <typename Function>
Function SystemOwn(const char* name) {
    return reinterpret_cast<Function>(PlatformSystemFunction(name));
}

std::deque<int> answers;
std::vector<ShownBox> shown;

void* scripted_module = nullptr;
ModuleNameMode module_name_mode = ModuleNameMode::kReal;
std::string module_name_path;
uint32_t module_name_size = 0;

void* watched_module = nullptr;
std::vector<uint16_t> lookups;

int failing_write = 0;
int writes = 0;

int WINAPI FakeMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    shown.push_back({text ? text : "", caption ? caption : "", style, owner != nullptr});
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected message box: " << (text ? text : "");
        return kAnswerAbort;
    }
    const int answer = answers.front();
    answers.pop_front();
    return answer;
}

DWORD WINAPI FakeModuleName(HMODULE module, LPSTR buffer, DWORD size) {
    if (module_name_mode == ModuleNameMode::kReal || module != scripted_module)
        return SystemOwn<ModuleNameFunction>("GetModuleFileNameA")(module, buffer, size);
    module_name_size = size;
    switch (module_name_mode) {
        case ModuleNameMode::kFail:
            SetLastError(ERROR_INVALID_HANDLE);
            return 0;
        case ModuleNameMode::kTruncatedUnterminated:
            std::memset(buffer, 'x', size);
            return size;
        default: {
            const DWORD length = static_cast<DWORD>(module_name_path.size());
            if (length >= size) {  // the newer systems' truncation: terminated
                std::memcpy(buffer, module_name_path.data(), size - 1);
                buffer[size - 1] = 0;
                return size;
            }
            std::memcpy(buffer, module_name_path.c_str(), length + 1);
            return length;
        }
    }
}

FARPROC WINAPI FakeLookup(HMODULE module, LPCSTR name) {
    const auto value = reinterpret_cast<uintptr_t>(name);
    if (watched_module != nullptr && module == watched_module && value < 0x10000)
        lookups.push_back(static_cast<uint16_t>(value));
    return SystemOwn<LookupFunction>("GetProcAddress")(module, name);
}

BOOL WINAPI HalfWayWrite(HANDLE file, LPCVOID bytes, DWORD size, LPDWORD written,
                         LPOVERLAPPED overlapped) {
    const auto own = SystemOwn<WriteFunction>("WriteFile");
    if (++writes != failing_write)
        return own(file, bytes, size, written, overlapped);
    own(file, bytes, size / 2, written, overlapped);
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
}

void Replace(const char* name, void* function) {
    ASSERT_NE(PlatformSystemFunction(name), nullptr) << name << " is not a call of the plug-in";
    PlatformReplaceSystemCall(name, function);
}

}  // namespace

void InstallSystemHooks() {
    Replace("MessageBoxA", reinterpret_cast<void*>(&FakeMessageBox));
    Replace("GetModuleFileNameA", reinterpret_cast<void*>(&FakeModuleName));
    Replace("GetProcAddress", reinterpret_cast<void*>(&FakeLookup));
}

void RemoveSystemHooks() {
    PlatformReplaceSystemCall(nullptr, nullptr);
}

void QueueAnswers(std::initializer_list<int> list) {
    answers.insert(answers.end(), list.begin(), list.end());
}

const std::vector<ShownBox>& ShownBoxes() {
    return shown;
}

void ScriptModuleName(void* module, ModuleNameMode mode, const std::string& path) {
    scripted_module = module;
    module_name_mode = mode;
    module_name_path = path;
}

uint32_t LastModuleNameSize() {
    return module_name_size;
}

void WatchLookups(void* module) {
    watched_module = module;
    lookups.clear();
}

const std::vector<uint16_t>& Lookups() {
    return lookups;
}

void FailWriteHalfWay(int write) {
    failing_write = write;
    writes = 0;
    Replace("WriteFile", reinterpret_cast<void*>(&HalfWayWrite));
}

int WritesSinceArmed() {
    return writes;
}
