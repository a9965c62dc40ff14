#include "tests/support/plugin_library.h"

namespace test_host {
namespace {

template <typename Entry>
Entry Find(HMODULE module, int ordinal) {
    return reinterpret_cast<Entry>(
        reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(ordinal))));
}

}  // namespace

Plugin LoadPlugin() {
    Plugin plugin;
    plugin.module = LoadLibraryA("Quendrix.dll");
    if (plugin.module == nullptr)
        return plugin;
    plugin.start = Find<StartEntry>(plugin.module, kStartOrdinal);
    plugin.install = Find<InstallEntry>(plugin.module, kInstallOrdinal);
    plugin.idle = Find<IdleEntry>(plugin.module, kIdleOrdinal);
    return plugin;
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

bool StartAndInstall(const Plugin& plugin, std::string& why) {
    if (plugin.start == nullptr || plugin.install == nullptr) {
        why = "the plug-in was not loaded";
        return false;
    }
    // The host hands over one context for the whole run; its address is all
    // the plug-in keeps of it.
    static int context = 0;
    char text[64] = {};
    if (plugin.start(&context, text) != 0) {
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
