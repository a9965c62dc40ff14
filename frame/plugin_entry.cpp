#include "frame/plugin_entry.h"

#include "frame/call_trace.h"
#include "frame/compatibility.h"
#include "frame/diagnostics.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/plugin_messages.h"
#include "frame/stack_guard.h"
#include "host/host_api.h"
#include "reconcile/table_hooks.h"

namespace {

// The import table's slot of the host's translator. A direct reference to
// HostExceptionTranslator would give the import library's jump in front of it;
// the runtime is handed the host's function itself, as the loader bound it.
extern "C" HostTranslatorFunction HostTranslatorSlot __asm__("__imp__HostExceptionTranslator");

}  // namespace

// The runtime's own DLL entry. Weak, so that programs linking the plug-in's
// code without being a DLL (the tests) need not provide it.
extern "C" int32_t HOST_STDCALL DllMainCRTStartup(void* instance, uint32_t reason, void* reserved)
    __attribute__((weak));

// The DLL's real entry point (the linker's -e): seeds the stack canary and
// records the module before the runtime is set up and before any static
// object is constructed, then hands over to the runtime. It carries no canary
// itself: it is running while the canary changes.
extern "C" __attribute__((no_stack_protector)) int32_t HOST_STDCALL
QuendrixDllEntry(void* instance, uint32_t reason, void* reserved) {
    if (reason == kProcessAttach)
        SeedStackGuard(PlatformEntropy());
    AttachToHost(instance, reason);
    // Freed without the host's stop call, the plug-in closes its diagnostics
    // files. At the process's end (reserved set) the system closes them, and
    // a thread ended in the middle of a write is not waited for.
    if (reason == kProcessDetach && reserved == nullptr)
        StopDiagnostics();
    // A thread that ends inside calls the trace follows leaves them.
    if (reason == kThreadDetach)
        EndCallsOfEndingThread();
    if (DllMainCRTStartup == nullptr)
        return 1;
    return DllMainCRTStartup(instance, reason, reserved);
}

int32_t StopPlugin() {
    StopReconciliation();
    return 0;
}

namespace {

int32_t Start(void* context, char* text_buffer) {
    if (context == nullptr)
        return StopPlugin();
    if (text_buffer != nullptr)
        CopyFeatureText(text_buffer);
    // The translator belongs to the calling thread and the host may start us
    // from another thread than last time, so it is set at every start.
    PlatformInstallTranslator(HostTranslatorSlot);
    return CheckHostCompatibility();
}

int32_t Install(int32_t flag) {
    if (flag != 0) {
        ShowIncompatibility();
        return 0;
    }
    if (InstallTableHooks(1) != 0) {
        // A half-done installation (table 44 hooked, 45 refused) is undone at
        // once, so no hook of ours runs on a host we cannot serve.
        InstallTableHooks(0);
        ShowMessage(MessageId::kNewerPluginNeeded);
        return -1;
    }
    AddOrderCommand();
    ShowInstallNotice();
    return 0;
}

uint32_t Slot(const void* pointer) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer));
}

// The entry points as the trace shows them, each as its declared type says.
#define ENTRY_CALL(name, ordinal, parameters)                                      \
    DescribeIncoming(#name, ordinal, ShapeOf<decltype(&name)>::value, #parameters, \
                     EntryReach(ordinal))
constexpr IncomingCall kStartCall =
    ENTRY_CALL(PluginStart, kOrdinalPluginStart, (context, text_buffer));
constexpr IncomingCall kInstallCall = ENTRY_CALL(PluginInstall, kOrdinalPluginInstall, (flag));
constexpr IncomingCall kIdleCall = ENTRY_CALL(PluginIdle, kOrdinalPluginIdle, ());
#undef ENTRY_CALL

}  // namespace

extern "C" int32_t HOST_STDCALL PluginStart(void* context, char* text_buffer) {
    // The diagnostics settings come first, so that the trace sees this call.
    if (context != nullptr) {
        CountStart();
        ApplyDiagnosticsSettings();
    }
    const uint32_t args[2] = {Slot(context), Slot(text_buffer)};
    const uint32_t sequence = TraceIncomingCall(kStartCall, args);
    // Started, the trace shows the text handed over in the host's buffer.
    const int handed = context != nullptr && text_buffer != nullptr ? 1 : -1;
    const int32_t result = TraceIncomingReturn(kStartCall, sequence, Start(context, text_buffer),
                                               args, handed, sizeof(FeatureText.bytes));
    // Stopped, the plug-in leaves its trace file closed and complete.
    if (context == nullptr)
        StopDiagnostics();
    return result;
}

extern "C" int32_t HOST_STDCALL PluginInstall(int32_t flag) {
    const uint32_t args[1] = {static_cast<uint32_t>(flag)};
    const uint32_t sequence = TraceIncomingCall(kInstallCall, args);
    const int32_t result = Install(flag);
    // After the notice, the refusal or its report: a diagnostic that cannot
    // write says so.
    ShowUnopenedDiagnostics();
    return TraceIncomingReturn(kInstallCall, sequence, result, args);
}

extern "C" int32_t HOST_STDCALL PluginIdle(void) {
    const uint32_t args[1] = {0};  // none; its place marks the call
    const uint32_t sequence = TraceIncomingCall(kIdleCall, args);
    return TraceIncomingReturn(kIdleCall, sequence, 0, args);
}
