#include "frame/frame_state.h"

#include <memory>

#include "frame/host_entries.h"
#include "frame/platform.h"

constinit FrameState Frame;

// Each module's name for its part.
#define FRAME_STATE_REFERENCE(type, name) constinit type& name = Frame.name;
FRAME_STATE_PARTS(FRAME_STATE_REFERENCE)
#undef FRAME_STATE_REFERENCE

void ResetFrameState() {
    PlatformClose(Frame.TraceFile.file);
    StopRecording();
    std::construct_at(&Frame);
    for (size_t i = 0; i < kHostEntryCount; ++i) {
        HostEntryTargets[i] = HostEntryBinders[i];
        HostEntryTraced[i] = nullptr;
    }
}
