#include "frame/plugin_entry.h"

#include "frame/compatibility.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "host/host_api.h"
#include "host/mazovia_text.h"
#include "reconcile/table_hooks.h"

namespace {

// The import table's slot of the host's translator. A direct reference to
// HostExceptionTranslator would give the import library's jump in front of it;
// the runtime is handed the host's function itself, as the loader bound it.
extern "C" HostTranslatorFunction HostTranslatorSlot __asm__("__imp__HostExceptionTranslator");

}  // namespace

int32_t StopPlugin() {
    InstallTableHooks(0);
    RemoveOrderCommand();
    return 0;
}

extern "C" int32_t HOST_STDCALL PluginStart(void* context, char* text_buffer) {
    if (context == nullptr)
        return StopPlugin();
    if (text_buffer != nullptr)
        CopyFeatureText(text_buffer);
    // The translator belongs to the calling thread and the host may start us
    // from another thread than last time, so it is set at every start.
    PlatformInstallTranslator(HostTranslatorSlot);
    return CheckHostCompatibility();
}

extern "C" int32_t HOST_STDCALL PluginInstall(int32_t flag) {
    if (flag != 0) {
        ShowIncompatibility();
        return 0;
    }
    if (InstallTableHooks(1) != 0) {
        // A half-done installation (table 44 hooked, 45 refused) is undone at
        // once, so no hook of ours runs on a host we cannot serve.
        InstallTableHooks(0);
        HostShowText("Program wymaga nowszej wtyczki!"_mz);
        return -1;
    }
    AddOrderCommand();
    ShowInstallNotice();
    return 0;
}

extern "C" int32_t HOST_STDCALL PluginIdle(void) {
    return 0;
}
