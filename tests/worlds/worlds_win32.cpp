// The worlds' plug-in under Wine: Quendrix.dll loaded afresh for every world,
// as the host loads it, from a folder of this process's own with or without
// a Quendrix.ini that switches the journal on; every reference given back
// afterwards, so that the next world's load starts from the DLL's initial
// data. Children are this program run again.
#include <windows.h>

#include "tests/support/child_process.h"
#include "tests/support/plugin_library.h"
#include "tests/worlds/world.h"

namespace worlds {
namespace {

// The two folders, made at the first world and removed with the process.
struct Folders {
    std::string journal_on, journal_off;
    Folders() {
        journal_on = test_host::MakeTemporaryFolder();
        journal_off = test_host::MakeTemporaryFolder();
        for (const std::string& folder : {journal_on, journal_off})
            CopyFileA(test_host::BesideProgram("Quendrix.dll").c_str(),
                      (folder + "Quendrix.dll").c_str(), FALSE);
        test_host::WriteBytes(journal_on + "Quendrix.ini", "[Journal]\r\nEnabled=1\r\n");
    }
    ~Folders() {
        test_host::RemoveFolder(journal_on);
        test_host::RemoveFolder(journal_off);
    }
};

Folders& TheFolders() {
    static Folders folders;
    return folders;
}

std::string loaded_from;

template <typename Entry>
Entry Find(HMODULE module, int ordinal) {
    return reinterpret_cast<Entry>(
        reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

}  // namespace

PluginEntries LoadWorldPlugin(bool journal) {
    const Folders& folders = TheFolders();
    loaded_from = journal ? folders.journal_on : folders.journal_off;
    DeleteFileA((loaded_from + "Quendrix-journal.csv").c_str());
    const HMODULE module = LoadLibraryA((loaded_from + "Quendrix.dll").c_str());
    PluginEntries entries;
    entries.start = Find<decltype(entries.start)>(module, test_host::kStartOrdinal);
    entries.install = Find<decltype(entries.install)>(module, test_host::kInstallOrdinal);
    return entries;
}

std::string UnloadWorldPlugin() {
    const std::string path = loaded_from + "Quendrix.dll";
    while (HMODULE module = GetModuleHandleA(path.c_str()))
        FreeLibrary(module);
    const std::string journal = loaded_from + "Quendrix-journal.csv";
    const std::string bytes = test_host::ReadBytes(journal);
    DeleteFileA(journal.c_str());
    return bytes;
}

void AdaptToThisHost(World&) {}

std::string HostDateText(int32_t yyyymmdd) {
    char text[64] = {};
    test_host::Direct().HostFormatDate(text, &yyyymmdd);
    return text;
}

std::string TemporaryFile(const std::string& name) {
    char directory[MAX_PATH] = {};
    GetTempPathA(sizeof directory, directory);
    return directory + std::string("quendrix-") + std::to_string(GetCurrentProcessId()) + "-" +
           name;
}

ChildRun RunChild(const std::vector<std::string>& arguments) {
    const test_host::ChildResult result = test_host::RunChildProcess(arguments);
    // A process ended by a fault ends with the exception's code.
    const auto code = static_cast<int>(result.exit_code);
    return {code, code != 0 && code != kWorldFails, result.output};
}

}  // namespace worlds
