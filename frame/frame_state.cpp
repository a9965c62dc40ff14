#include "frame/frame_state.h"

#include <memory>

#include "frame/host_entries.h"
#include "frame/platform.h"

constinit FrameState Frame;

// Each module's name for its part.
constinit AttachState& Attach = Frame.Attach;
constinit BindingState& Binding = Frame.Binding;
constinit CompatibilityState& Compatibility = Frame.Compatibility;
constinit DiagnosticsState& Diagnostics = Frame.Diagnostics;
constinit TraceFileState& TraceFile = Frame.TraceFile;
constinit CallTraceState& Trace = Frame.Trace;
constinit RecordingState& Recording = Frame.Recording;

void ResetFrameState() {
    PlatformClose(Frame.TraceFile.file);
    StopRecording();
    std::construct_at(&Frame);
    for (size_t i = 0; i < kHostEntryCount; ++i) {
        HostEntryTargets[i] = HostEntryBinders[i];
        HostEntryTraced[i] = nullptr;
    }
}
