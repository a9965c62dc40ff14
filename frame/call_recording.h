// The recording level of the call trace: beside each line of the trace, every
// byte the plug-in reads of what the host handed it (the records the host
// delivered, the line arrays and lines, the selection list, what it wrote
// through out-parameters, every result) and every byte the plug-in hands over
// (its writes into host records and lines, the texts and buffers it passes),
// so that the replay (replayhost/) can play the plug-in the same calls again.
// docs/trace-format.md describes the lines.
//
// What each argument points to comes from host/host_memory.h; the recording
// knows nothing of what the plug-in does. It watches the blocks of host
// memory the plug-in may read and records, at each boundary between the host
// and the plug-in, what changed in them since the last: at a call of the
// plug-in into the host and at the plug-in's return, the plug-in's writes; at
// the host's return and its calls into the plug-in, the host's. A block or
// buffer that did not change is named, not repeated. It assumes what the
// host promises: one call into the plug-in at a time. Host memory is read
// only where the host handed it and after checking that it is readable.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame/call_description.h"
#include "frame/text_builder.h"
#include "host/host_memory.h"
#include "host/recording_format.h"

// ------------------------------------------------------------------ its state
// One part of the frame's state (frame/frame_state.h), from a start with the
// trace and the recording on to the stop, its memory the C runtime's heap:
// the host's memory the plug-in has been handed, each block with its bytes as
// last recorded while the plug-in may read it, and the plug-in's buffers
// handed over, each with its bytes as last recorded.
struct RecordedBlock {
    uint32_t address;
    uint32_t size;  // 0 for a token or code
    BlockKind kind;
    bool fresh;           // watched since this boundary: its bytes are the host's
    bool root;            // watched for itself, not only as reached from another block
    uint16_t fetched_by;  // a root that the next result of this operation (index + 1) replaces
    uint32_t owner;       // a root: the call into the plug-in whose return ends it (0: none)
    uint32_t count;       // an array: the entries the plug-in may read
    uint32_t visited;     // the walk that last reached it
    // Its bytes as last recorded (size bytes) while it is watched, recorded at
    // every boundary; null for a block not watched.
    uint8_t* copy;
};

// Kept under the address its slot recorded, and whether it lies behind the
// first word there (the value HostProfileValue reads into).
struct RecordedRegion {
    uint32_t address;  // 0: none
    bool through_first_word;
    uint32_t size;
    uint8_t* bytes;
};

// A call still running, as the recording keeps it: its sequence number and,
// for a call of the host, its argument slots (the callee may have taken them
// off the stack by its return) and the host blocks it gives back.
struct RecordedCall {
    uint32_t sequence;
    CallKind kind;
    uint32_t args[kMostSlots];
    uint32_t given_back[4];
};

struct RecordingState {
    bool on;
    uint32_t turn;  // the thread recording a boundary (0: none); the others wait
    RecordedBlock* blocks;
    uint32_t block_count;
    uint32_t block_capacity;
    uint32_t walk;
    RecordedRegion regions[kRecordedRegions];
    RecordedCall calls[kRecordedNesting];  // innermost last
    int call_depth;
    uintptr_t image_start;  // the plug-in's module, where its functions lie
    uintptr_t image_end;
    // The lines of the boundary being recorded, in the C runtime's heap.
    TextBuilder text = TextBuilder::Growing(65536);
    bool short_of_memory;
};
extern RecordingState& Recording;

// Switched on by the trace's start (it then writes the version line) and off
// by its stop: EndRecording writes what is still due while the file is open
// (the lines of answers since the last boundary, and every call still running
// as left: none will come back to a recording), StopRecording then gives
// back the recording's memory.
void StartRecording();
void EndRecording();
void StopRecording();
bool RecordingOn();

// The boundaries, each with the readable line the trace composed for it: the
// recording writes that line and its own in one write. False when the write
// failed (the trace is then to be stopped).
bool RecordHostCall(TextBuilder& readable, uint32_t sequence, size_t index, const uint32_t* args);
bool RecordHostReturn(TextBuilder& readable, uint32_t sequence, size_t index, uint32_t eax);
bool RecordIncomingCall(TextBuilder& readable, uint32_t sequence, const IncomingCall& call,
                        const void* target, const uint32_t* args);
bool RecordIncomingReturn(TextBuilder& readable, uint32_t sequence, const IncomingCall& call,
                          const uint32_t* args, uint32_t result);
// A call the trace found left without a return (a long jump of the host's):
// written with the next boundary.
void RecordLeft(uint32_t sequence, CallKind kind);

// What reached the plug-in through the system, not through the host's
// operations, written with the next boundary (docs/trace-format.md, @system):
// whether a host entry was found in the host's library, the plug-in's path
// as the missing-entry dialog read it (known: it could be read), the
// button chosen there, the journal's switch at a start.
void RecordBinding(uint32_t ordinal, bool found);
void RecordModulePath(const char* path, bool known);
void RecordButton(int answer);
void RecordJournalSwitch(bool on);
// The journal's file that could not be opened or used, after its switch.
void RecordUnopenedJournal(const wchar_t* path);
