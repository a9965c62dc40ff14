#include "frame/module_attach.h"

#include <cstring>

#include "frame/platform.h"

int32_t AttachToHost(void* module, uint32_t reason) {
    if (reason != kProcessAttach)
        return 1;
    Attach.PluginModuleHandle = module;
    PlatformModuleFileName(module, Attach.PluginModulePath, kModulePathSize);
    // The host library is already loaded (the plug-in imports from it); it is
    // looked for, never loaded here.
    if (Attach.HostLibraryHandle == nullptr)
        Attach.HostLibraryHandle = PlatformFindModule("VELDAN");
    return 1;
}

char* CopyFeatureText(char* buffer) {
    static_assert(sizeof(FeatureText.bytes) == 61);
    std::memcpy(buffer, FeatureText.bytes, sizeof(FeatureText.bytes));
    return buffer;
}
