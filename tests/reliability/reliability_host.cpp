#include "reliability_host.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <thread>

#include <gtest/gtest.h>

#include "standin/import_table.h"

namespace reliability {

namespace {

// The settings file of this process, removed when the process ends: there
// are a few test processes at a time.
struct SettingsFile {
    std::string path;
    ~SettingsFile() {
        if (!path.empty())
            DeleteFileA(path.c_str());
    }
} settings_file;

VsVariation variation_in_use{};

// The place of the road being played, while PlayAsGuest plays it.
const GuestPlace* road_place = nullptr;

// An older host, as the plug-in sees it through its import table: the
// entries its library lacks, and the user's buttons in the missing-entry
// dialog.
struct OlderHost {
    std::vector<int32_t> missing;
    std::vector<int> buttons;
    size_t dialogs = 0;
} older_host;

FARPROC WINAPI LookupInOlderHost(HMODULE module, LPCSTR name) {
    const bool lacked = IS_INTRESOURCE(name) && module == GetModuleHandleA("VELDAN.dll") &&
                        std::count(older_host.missing.begin(), older_host.missing.end(),
                                   static_cast<int32_t>(reinterpret_cast<uintptr_t>(name))) != 0;
    return lacked ? nullptr : GetProcAddress(module, name);
}

int WINAPI UserAtTheDialog(HWND, LPCSTR, LPCSTR, UINT) {
    const auto& buttons = older_host.buttons;
    const size_t at = std::min(older_host.dialogs++, buttons.size() - 1);
    return buttons.empty() ? IDABORT : buttons[at];
}

// The plug-in's import table, for an older host.
void AnswerAsOlderHost(HMODULE plugin, const GuestPlace& place) {
    if (place.missing.empty() && place.buttons.empty())
        return;
    older_host = {place.missing, place.buttons, 0};
    import_table::Replace(plugin, "kernel32.dll", "GetProcAddress",
                          reinterpret_cast<void*>(&LookupInOlderHost));
    import_table::Replace(plugin, "user32.dll", "MessageBoxA",
                          reinterpret_cast<void*>(&UserAtTheDialog));
}

}  // namespace

Plugin LoadForRoad() {
    Plugin plugin = LoadPlugin();
    const GuestPlace* place = road_place;
    using Before = GuestPlace::Before;
    if (place == nullptr || place->before == Before::kNothing || plugin.start == nullptr ||
        plugin.install == nullptr)
        return plugin;
    char text[64];
    plugin.start(test_host::HostContext(), text);
    plugin.install(0);
    if (place->before != Before::kStarted)
        plugin.start(nullptr, nullptr);
    if (place->before == Before::kUnloadedAndLoaded) {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(plugin.module, path, MAX_PATH);
        while (HMODULE loaded = GetModuleHandleW(path))
            FreeLibrary(loaded);
        plugin = test_host::LoadPluginFrom(path);
        AnswerAsOlderHost(plugin.module, *place);
    }
    VsClearLogs();
    return plugin;
}

void UseVariation(const VsVariation& variation) {
    variation_in_use = variation;
}

int HostEventsRaised(int32_t table) {
    return VsHostHookEvents(table) - VsNestedEvents(table);
}

std::string FreshHost(bool notice) {
    VsReset();
    VsSetStrict(1);
    VsSetVariation(&variation_in_use);
    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    char path[MAX_PATH] = {};
    snprintf(path, sizeof path, "%squendrix-reliability-%lu.ini", directory,
             static_cast<unsigned long>(GetCurrentProcessId()));
    DeleteFileA(path);
    const char* ask = road_place != nullptr && road_place->ask != nullptr ? road_place->ask : "1";
    if (!notice)
        test_host::WriteBytes(path, std::string("[Quendrix]\r\nPytaj=") + ask + "\r\n");
    VsSetProfilePath(path);
    settings_file.path = path;
    return path;
}

StoreImage ImageOfStore(const std::vector<int32_t>& documents) {
    StoreImage image;
    for (int i = 0; i < VsHeaderCount(); ++i)
        image.headers.push_back(Bytes(StoredHeader(i)));
    const std::string cleared(sizeof(DocumentItem), '\0');
    for (int32_t document : documents) {
        image.lines[document];  // present, if empty
        for (const DocumentItem& line : StoredLines(document))
            if (Bytes(line) != cleared)
                image.lines[document].push_back(Bytes(line));
    }
    return image;
}

GuardedBlock::GuardedBlock(size_t size) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    const size_t pages = (size + page - 1) / page;
    auto* base = static_cast<char*>(
        VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base == nullptr)
        return;
    DWORD previous = 0;
    VirtualProtect(base + pages * page, page, PAGE_NOACCESS, &previous);
    reservation_ = base;
    start_ = base + pages * page - size;
}

GuardedBlock::~GuardedBlock() {
    if (reservation_ != nullptr)
        VirtualFree(reservation_, 0, MEM_RELEASE);
}

// ------------------------------------------------------------------ the guest's place

namespace {

// The folder of a copy, made, with the subfolders that give the copy's path
// its length; ends in a backslash.
std::wstring GuestFolder(const GuestPlace& place) {
    wchar_t temporary[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temporary);
    std::wstring folder = std::wstring(temporary) + place.folder + L"-" +
                          std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const size_t file = std::wcslen(L"Quendrix.dll");
    while (place.path_length > folder.size() + file) {
        const size_t missing = place.path_length - folder.size() - file;
        // A last subfolder of at least two characters and its backslash.
        const size_t name = missing > 202 ? 150 : missing - 1;
        folder += std::wstring(name, L'q') + L"\\";
        CreateDirectoryW(folder.c_str(), nullptr);
    }
    return folder;
}

// Whether a file is there, and closed: no one else holds it open.
bool ClosedFile(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(file);
    return true;
}

}  // namespace

std::string PlayAsGuest(const GuestPlace& place, const std::function<void()>& road) {
    road_place = &place;
    struct Played {
        ~Played() { road_place = nullptr; }
    } played;
    if (place.folder == nullptr) {
        // Loaded here (and again by the road, as the host loads it), played
        // here or on another thread. Every reference is given back after, so
        // that the system unloads the DLL and its next load starts afresh.
        HMODULE loaded = LoadLibraryA("Quendrix.dll");
        AnswerAsOlderHost(loaded, place);
        if (place.other_thread)
            std::thread(road).join();
        else
            road();
        for (int i = 0; i < 100 && GetModuleHandleA("Quendrix.dll") != nullptr; ++i)
            FreeLibrary(GetModuleHandleA("Quendrix.dll"));
        if (loaded == nullptr)
            return "Quendrix.dll cannot be loaded\n";
        return GetModuleHandleA("Quendrix.dll") == nullptr ? "" : "Quendrix.dll stays loaded\n";
    }
    std::string wrong;
    const std::wstring folder = GuestFolder(place);
    const std::wstring dll = folder + L"Quendrix.dll";
    wchar_t program[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, program, MAX_PATH);
    std::wstring original = program;
    CopyFileW(
        original.replace(original.rfind(L'\\') + 1, std::wstring::npos, L"Quendrix.dll").c_str(),
        dll.c_str(), FALSE);
    HANDLE ini = CreateFileW((folder + L"Quendrix.ini").c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, 0, nullptr);
    const std::string settings =
        std::string("[Trace]\r\nEnabled=1\r\n") +
        (place.recording != nullptr ? "Record=1\r\n" : "") + "[Journal]\r\nEnabled=1\r\n" +
        (place.journal_file != nullptr ? "File=" + std::string(place.journal_file) + "\r\n" : "");
    DWORD written = 0;
    WriteFile(ini, settings.data(), static_cast<DWORD>(settings.size()), &written, nullptr);
    CloseHandle(ini);
    // The road's loads by name find this copy, already loaded.
    HMODULE copy = LoadLibraryW(dll.c_str());
    if (copy == nullptr)
        return "the copy cannot be loaded\n";
    AnswerAsOlderHost(copy, place);
    if (place.other_thread)
        std::thread(road).join();
    else
        road();
    while (HMODULE loaded = GetModuleHandleW(dll.c_str()))
        FreeLibrary(loaded);

    const std::wstring trace = folder + L"Quendrix-trace.txt";
    if (place.recording != nullptr) {
        const std::string kept = place.recording;
        CopyFileW(trace.c_str(), std::wstring(kept.begin(), kept.end()).c_str(), FALSE);
    }
    const std::wstring journal = folder + L"Quendrix-journal.csv";
    if (place.diagnostics_fit != ClosedFile(trace))
        wrong += "the trace is missing or open where its path fits, or there where it does not\n";
    if (GetFileAttributesW(journal.c_str()) != INVALID_FILE_ATTRIBUTES && !ClosedFile(journal))
        wrong += "the journal is still open after the library was freed\n";
    for (const std::wstring& file : {dll, folder + L"Quendrix.ini", trace, journal})
        DeleteFileW(file.c_str());
    // The folders, from the innermost out; nothing else may be in them.
    for (std::wstring at = folder; at.find(place.folder) != std::wstring::npos;) {
        if (!RemoveDirectoryW(at.c_str()))
            wrong += "a file in a folder above the copy's, or one left in its own\n";
        at.resize(at.find_last_of(L'\\', at.size() - 2) + 1);
    }
    return wrong;
}

// ------------------------------------------------------------------ children

std::vector<ChildResult> RunChildren(const std::vector<std::vector<std::string>>& argument_lists) {
    std::vector<std::vector<std::string>> commands;
    for (const std::vector<std::string>& arguments : argument_lists) {
        commands.push_back({kChildFlag});
        commands.back().insert(commands.back().end(), arguments.begin(), arguments.end());
    }
    return test_host::RunChildren(commands);
}

}  // namespace reliability

// Every reliability test program starts here: as a child with its arguments,
// or as a GoogleTest program.
int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], reliability::kChildFlag) == 0) {
        setvbuf(stdout, nullptr, _IONBF, 0);
        return reliability::RunChild(std::vector<std::string>(argv + 2, argv + argc));
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
