#include "frame/frame_state.h"

#include <memory>

#include "frame/call_recording.h"
#include "frame/platform.h"

constinit FrameState Frame;

void ResetFrameState() {
    PlatformClose(Frame.Trace.file);
    StopRecording();
    std::construct_at(&Frame);
    for (size_t i = 0; i < kHostEntryCount; ++i) {
        HostEntryTargets[i] = HostEntryBinders[i];
        HostEntryTraced[i] = nullptr;
    }
}
