// A plug-in that crashes when the host starts it: entry 30001 reads through a
// null pointer. Built as Quendrix.dll in a folder of the testbed of its own
// (build/testbed/crashing-plugin/), for the host program's crash report.
#include <cstdint>

#include "host/host_records.h"

namespace {

int32_t* volatile nowhere = nullptr;

}  // namespace

extern "C" int32_t HOST_STDCALL CrashingStart(void*, char*) {
    return *nowhere;
}

extern "C" int32_t HOST_STDCALL CrashingInstall(int32_t) {
    return 0;
}

extern "C" int32_t HOST_STDCALL CrashingIdle() {
    return 0;
}
