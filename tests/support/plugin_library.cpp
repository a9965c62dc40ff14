#include "tests/support/plugin_library.h"

#include "tests/support/child_process.h"

namespace test_host {

const DirectHost& Direct() {
    static const DirectHost host;
    return host;
}
namespace {

template <typename Entry>
Entry Find(HMODULE module, int ordinal) {
    return reinterpret_cast<Entry>(
        reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

Plugin Loaded(HMODULE module) {
    Plugin plugin;
    plugin.module = module;
    if (plugin.module == nullptr)
        return plugin;
    plugin.start = Find<StartEntry>(plugin.module, kStartOrdinal);
    plugin.install = Find<InstallEntry>(plugin.module, kInstallOrdinal);
    plugin.idle = Find<IdleEntry>(plugin.module, kIdleOrdinal);
    return plugin;
}

Plugin Loaded(const char* file) {
    return Loaded(LoadLibraryA(file));
}

}  // namespace

Plugin LoadPlugin() {
    return Loaded("Quendrix.dll");
}

Plugin LoadPluginFrom(const std::wstring& path) {
    return Loaded(LoadLibraryW(path.c_str()));
}

Plugin LoadPluginCopy(const std::string& folder) {
    const std::string original = BesideProgram("Quendrix.dll");
    const std::string copy = folder + "Quendrix.dll";
    if (!CopyFileA(original.c_str(), copy.c_str(), FALSE))
        return Plugin{};
    return Loaded(copy.c_str());
}

std::string MakeTemporaryFolder() {
    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    char path[MAX_PATH] = {};
    GetTempFileNameA(directory, "qdx", 0, path);
    DeleteFileA(path);
    CreateDirectoryA(path, nullptr);
    return std::string(path) + "\\";
}

void RemoveFolder(const std::string& folder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
                DeleteFileA((folder + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

bool LoadPlugin(Plugin& plugin, std::string& why) {
    plugin = LoadPlugin();
    if (plugin.module == nullptr) {
        why = "Quendrix.dll cannot be loaded";
        return false;
    }
    if (plugin.start == nullptr || plugin.install == nullptr) {
        why = "Quendrix.dll lacks entry 30001 or 30008";
        return false;
    }
    return true;
}

void* HostContext() {
    static int context = 0;
    return &context;
}

bool StartAndInstall(const Plugin& plugin, std::string& why) {
    if (plugin.start == nullptr || plugin.install == nullptr) {
        why = "the plug-in was not loaded";
        return false;
    }
    char text[64] = {};
    if (plugin.start(HostContext(), text) != 0) {
        why = "the plug-in refused the host";
        return false;
    }
    if (plugin.install(0) != 0) {
        why = "the plug-in could not install its hooks";
        return false;
    }
    return true;
}

}  // namespace test_host
