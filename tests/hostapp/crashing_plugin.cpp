// A plug-in whose start reads through a null pointer, for the host program's
// crash report (build/testbed/crashing-plugin/Quendrix.dll).
#include <cstdint>

#include "host/host_records.h"

int32_t* volatile nowhere = nullptr;

extern "C" int32_t HOST_STDCALL CrashingStart(void*, char*) {
    return *nowhere;
}
extern "C" int32_t HOST_STDCALL CrashingInstall(int32_t) {
    return 0;
}
extern "C" int32_t HOST_STDCALL CrashingIdle() {
    return 0;
}
