#include "system_hooks.h"

#include <windows.h>

#include <cstring>
#include <deque>

#include <gtest/gtest.h>

void* ProgramModule() {
    return reinterpret_cast<void*>(GetModuleHandleA(nullptr));
}

void* PatchImport(void* module, const char* library, const char* function, void* replacement) {
    auto* base = static_cast<uint8_t*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return nullptr;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        if (_stricmp(reinterpret_cast<const char*>(base + import->Name), library) != 0)
            continue;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + import->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL32(names->u1.Ordinal))
                continue;
            auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), function) != 0)
                continue;
            DWORD old_protection;
            VirtualProtect(&slots->u1.Function, sizeof(DWORD), PAGE_READWRITE, &old_protection);
            void* previous = reinterpret_cast<void*>(slots->u1.Function);
            slots->u1.Function = reinterpret_cast<DWORD>(replacement);
            VirtualProtect(&slots->u1.Function, sizeof(DWORD), old_protection, &old_protection);
            return previous;
        }
    }
    return nullptr;
}

namespace {

using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
using ModuleNameFunction = DWORD(WINAPI*)(HMODULE, LPSTR, DWORD);
using LookupFunction = FARPROC(WINAPI*)(HMODULE, LPCSTR);

ModuleNameFunction real_module_name = nullptr;
LookupFunction real_lookup = nullptr;

std::deque<int> answers;
std::vector<ShownBox> shown;

void* scripted_module = nullptr;
ModuleNameMode module_name_mode = ModuleNameMode::kReal;
std::string module_name_path;
uint32_t module_name_size = 0;

void* watched_module = nullptr;
std::vector<uint16_t> lookups;

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
        return real_module_name(module, buffer, size);
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
    return real_lookup(module, name);
}

}  // namespace

void InstallSystemHooks() {
    void* program = ProgramModule();
    ASSERT_NE(
        PatchImport(program, "user32.dll", "MessageBoxA", reinterpret_cast<void*>(&FakeMessageBox)),
        nullptr);
    real_module_name = reinterpret_cast<ModuleNameFunction>(PatchImport(
        program, "kernel32.dll", "GetModuleFileNameA", reinterpret_cast<void*>(&FakeModuleName)));
    ASSERT_NE(real_module_name, nullptr);
    real_lookup = reinterpret_cast<LookupFunction>(PatchImport(
        program, "kernel32.dll", "GetProcAddress", reinterpret_cast<void*>(&FakeLookup)));
    ASSERT_NE(real_lookup, nullptr);
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
