#include "frame/call_trace.h"

#include <atomic>

#include "frame/call_recording.h"
#include "frame/host_binding.h"
#include "frame/host_entries.h"
#include "frame/module_attach.h"
#include "frame/platform.h"
#include "frame/text_builder.h"
#include "frame/trace_file.h"
#include "frame/version.h"
#include "host/host_api.h"

namespace {

// ------------------------------------------------------------------ descriptions

// Each operation's shape from its declared type, and its parameter list as
// written, for the names: both from the one list of host operations.
#define HOST_TRACE_SHAPE(name, ordinal, convention, bytes, result, params) \
    ShapeOf<result params>::value,
constexpr CallShape kHostShapes[] = {HOST_OPERATIONS(HOST_TRACE_SHAPE)};
#undef HOST_TRACE_SHAPE
#define HOST_TRACE_PARAMS(name, ordinal, convention, bytes, result, params) #params,
constexpr const char* kHostParameters[] = {HOST_OPERATIONS(HOST_TRACE_PARAMS)};
#undef HOST_TRACE_PARAMS
static_assert(sizeof(kHostShapes) / sizeof(kHostShapes[0]) == kHostEntryCount);

// A text is shown up to this many bytes, or up to the 16-bit length that
// follows it among the arguments (HostCopyText's limit).
constexpr uint32_t kTextLimit = 256;
constexpr size_t kLineSize = 4096;

// ------------------------------------------------------------------ composing

// The name of parameter index in a parameter list as written: the last word of
// its part between the commas.
void AddParameterName(TextBuilder& line, const char* parameters, int index) {
    const char* at = parameters;
    if (*at == '(')
        ++at;
    for (int i = 0; i < index && *at != 0; ++at)
        if (*at == ',')
            ++i;
    const char* end = at;
    while (*end != 0 && *end != ',' && *end != ')')
        ++end;
    const char* start = end;
    // Parameter names are ASCII; the C runtime's isalnum would ask the locale.
    const auto in_name = [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    };
    while (start > at && in_name(start[-1]))
        --start;
    line.Add("%.*s=", static_cast<int>(end - start), start);
}

// A Mazovia text as UTF-8 between quotes, read no further than limit bytes and
// only where the memory is readable.
void AddText(TextBuilder& line, const char* text, uint32_t limit) {
    line.Add("0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(text)));
    if (text == nullptr)
        return;
    const uint32_t readable = PlatformReadableSize(text, limit);
    line.Add(" \"");
    const auto i = static_cast<uint32_t>(AddMazovia(line, text, readable, MazoviaStyle::kTrace));
    line.Add("\"");
    if (i == readable && i < limit)
        line.Add("(unreadable after %u bytes)", static_cast<unsigned>(i));
    else if (i == limit && limit != 0)
        line.Add("(cut at %u bytes)", static_cast<unsigned>(limit));
}

void AddValue(TextBuilder& line, Shown shown, uint32_t value, uint32_t text_limit) {
    switch (shown) {
        case Shown::kNone:
            break;
        case Shown::kSigned:
        case Shown::kCountOrText:  // a count unless the caller knows otherwise (AddResult)
            line.Add("%d", static_cast<int>(static_cast<int32_t>(value)));
            break;
        case Shown::kUnsigned:
            line.Add("%u", static_cast<unsigned>(value));
            break;
        case Shown::kSigned16:
            line.Add("%d", static_cast<int>(static_cast<int16_t>(value & 0xFFFFu)));
            break;
        case Shown::kUnsigned16:
            line.Add("%u", static_cast<unsigned>(value & 0xFFFFu));
            break;
        case Shown::kPointer:
            line.Add("0x%08X", static_cast<unsigned>(value));
            break;
        case Shown::kText:
            AddText(line, reinterpret_cast<const char*>(static_cast<uintptr_t>(value)), text_limit);
            break;
    }
}

void AddArguments(TextBuilder& line, const CallShape& shape, const char* parameters,
                  const uint32_t* args) {
    line.Add("(");
    for (int i = 0; i < shape.count; ++i) {
        if (i > 0)
            line.Add(", ");
        AddParameterName(line, parameters, i);
        uint32_t limit = kTextLimit;
        if (i + 1 < shape.count && shape.arguments[i + 1] == Shown::kUnsigned16)
            limit = args[i + 1] & 0xFFFFu;
        AddValue(line, shape.arguments[i], args[i], limit);
    }
    if (shape.variadic)
        line.Add(shape.count > 0 ? ", ..." : "...");
    line.Add(")");
}

// ------------------------------------------------------------------ the lines

// Sequence numbers, unique over the file's threads; 0 means "not traced".
uint32_t NextSequence() {
    std::atomic_ref<uint32_t> last(Trace.last_sequence);
    uint32_t sequence = ++last;
    while (sequence == 0)
        sequence = ++last;
    return sequence;
}

void PointEntriesAtThunks() {
    for (size_t i = 0; i < kHostEntryCount; ++i) {
        if (HostEntryTargets[i] == HostEntryTraceThunks[i])
            continue;
        HostEntryTraced[i] = HostEntryTargets[i];
        // Another thread may call the entry now: the word it then finds
        // leads to the thunk only once the thunk's target is in place.
        __atomic_store_n(&HostEntryTargets[i], HostEntryTraceThunks[i], __ATOMIC_RELEASE);
    }
}

void PointEntriesBack() {
    for (size_t i = 0; i < kHostEntryCount; ++i)
        if (HostEntryTargets[i] == HostEntryTraceThunks[i])
            HostEntryTargets[i] = HostEntryTraced[i];
}

// Ends the line and appends it in one write, so that the lines of several
// threads never mix. A write that fails switches the trace off.
void Write(TextBuilder& line) {
    // The line ends whatever it holds: what does not fit before its end is cut.
    if (!line.Room(2))
        line.Truncate(line.size - 3);
    line.AddBytes("\r\n", 2);
    if (!AppendTraceText(line.text, static_cast<uint32_t>(line.length)))
        StopCallTrace();
}

// With the recording on, the recording writes the line with its own; a
// failed write switches the trace off once the recording is done with it.
template <typename Record>
void WriteOrRecord(TextBuilder& line, Record record) {
    if (!RecordingOn())
        Write(line);
    else if (!record())
        StopCallTrace();
}

void AddPrefix(TextBuilder& line, uint32_t sequence, int depth, char direction) {
    line.Add("%06u %5u %2d %c ", static_cast<unsigned>(sequence),
             static_cast<unsigned>(PlatformThreadId()), depth, direction);
}

// ------------------------------------------------------------------ calls per stack
// A call is marked by its place on the stack; one that begins at or above an
// open call's mark shows that call was left without a return (a long jump, an
// exception), and it is dropped. Marks are compared, and memory at them read,
// only among calls of one stack: each stack has a slot of its own, whose
// stack word is the one other threads read.

std::atomic_ref<uintptr_t> SlotStack(StackCalls& calls) {
    return std::atomic_ref<uintptr_t>(calls.stack);
}

// A call left without its return: one that began at or above the new call's
// place, or a call of a host operation whose return slot no longer holds the
// trace's return path (the host jumped out of it and used the stack since).
// The return slot is read only where it lies between the new call and the
// bottom of this stack: in use, whichever thread had the stack before.
bool Left(const OpenCall& open, uintptr_t mark) {
    if (open.mark <= mark || open.mark >= PlatformStackBase())
        return true;
    return open.kind == CallKind::kHostOperation &&
           *reinterpret_cast<void* const*>(open.mark) !=
               reinterpret_cast<void*>(HostEntryTraceReturn);
}

// The calling stack's slot; with claim, a free one when it has none. Null
// when every slot is taken: the stack's calls are then not traced.
StackCalls* CallsOfThisStack(bool claim) {
    const uintptr_t stack = PlatformStackBase();
    for (StackCalls& calls : Trace.stacks)
        if (SlotStack(calls).load() == stack)
            return &calls;
    for (StackCalls& calls : Trace.stacks) {
        uintptr_t free = 0;
        if (claim && SlotStack(calls).load() == 0 &&
            SlotStack(calls).compare_exchange_strong(free, stack)) {
            calls.depth = 0;
            return &calls;
        }
    }
    return nullptr;
}

// A call begins at mark: its depth, 1 for a call no other encloses, or 0 when
// it cannot be recorded (and is not traced).
int OpenAt(StackCalls& calls, uintptr_t mark, const OpenCall& call) {
    // A call into the host that was left takes the call into the plug-in that
    // made it along: the host jumped to a frame of its own above it.
    bool into_host_left = false;
    while (calls.depth > 0) {
        const OpenCall& open = calls.open[calls.depth - 1];
        if (!into_host_left && !Left(open, mark))
            break;
        --calls.depth;
        if (RecordingOn())
            RecordLeft(open.sequence, open.kind);
        into_host_left = open.kind != CallKind::kIncoming;
    }
    if (calls.depth >= kTraceNesting)
        return 0;
    calls.open[calls.depth] = call;
    calls.open[calls.depth].mark = mark;
    return ++calls.depth;
}

// The call at position at ends, with any left inside it; the slot is given up
// when no call of the stack is open. Returns the call's depth.
int CloseAt(StackCalls& calls, int at) {
    calls.depth = at;
    if (at == 0)
        SlotStack(calls).store(0);
    return at + 1;
}

// The place in calls of the open call of a host operation whose stack ends at
// stack_after once it returns; -1 for none.
int Returning(const StackCalls& calls, uintptr_t stack_after) {
    for (int i = calls.depth - 1; i >= 0; --i) {
        const OpenCall& open = calls.open[i];
        const HostEntryDescriptor& entry = kHostEntries[open.index];
        const uint32_t removed =
            entry.convention == HostConvention::kStdcall ? entry.argument_bytes : 0;
        if (open.return_address != nullptr && open.mark + 4 + removed == stack_after)
            return i;
    }
    return -1;
}

// That call, looked for in the calling stack's slot first, then in every
// other; false when there is none.
bool FindReturning(uintptr_t stack_after, StackCalls*& found, int& at) {
    StackCalls* const own = CallsOfThisStack(false);
    if (own != nullptr && (at = Returning(*own, stack_after)) >= 0) {
        found = own;
        return true;
    }
    for (StackCalls& calls : Trace.stacks)
        if (&calls != own && SlotStack(calls).load() != 0 &&
            (at = Returning(calls, stack_after)) >= 0) {
            found = &calls;
            return true;
        }
    return false;
}

}  // namespace

// ------------------------------------------------------------------ switching

bool StartCallTrace(const wchar_t* path, bool record) {
    if (CallTraceOn())
        return true;
    bool empty = false;
    void* file = PlatformOpenAppend(path, &empty);
    if (file == nullptr || !SetTraceFile(file)) {
        PlatformClose(file);
        return file != nullptr;
    }
    char text[kLineSize];
    TextBuilder line(text, sizeof text);
    if (!empty)
        line.Add("\r\n");
    if (record) {
        StartRecording();
        line.Add("%s%d\r\n", kRecordingVersionLine, kRecordingVersion);
    }
    const PlatformTime now = PlatformLocalTime();
    line.Add("Quendrix " QUENDRIX_VERSION_TEXT " call trace, %04u-%02u-%02u %02u:%02u:%02u, ",
             now.year, now.month, now.day, now.hour, now.minute, now.second);
    wchar_t module[kModulePathSize];
    PlatformModuleFileNameW(Attach.PluginModuleHandle, module, kModulePathSize);
    line.AddUtf16(module);
    if (record) {
        // Which process, which load of the plug-in in it and which start in
        // that load: the replay carries the plug-in's state from one session
        // to the next where the host did.
        uint32_t process = 0;
        uint64_t created = 0;
        PlatformProcessMark(&process, &created);
        if (Trace.load_mark == 0)
            Trace.load_mark = uint64_t{PlatformEntropy()} << 32 | PlatformEntropy() | 1;
        line.Add("\r\n%s %08X-%016llX %016llX %u", kSessionLineKind, static_cast<unsigned>(process),
                 static_cast<unsigned long long>(created),
                 static_cast<unsigned long long>(Trace.load_mark),
                 static_cast<unsigned>(Trace.starts));
    }
    Write(line);
    if (!CallTraceOn())
        return false;
    PointEntriesAtThunks();
    return true;
}

void StopCallTrace() {
    // What the recording still holds goes into the file before it closes.
    if (CallTraceOn())
        EndRecording();
    void* const file = UnsetTraceFile();
    if (file == nullptr)
        return;
    PointEntriesBack();
    CloseBetweenWrites(file);
    StopRecording();
}

void CountStart() {
    ++Trace.starts;
}

void EndCallsOfEndingThread() {
    if (!CallTraceOn())
        return;
    StackCalls* calls = CallsOfThisStack(false);
    if (calls == nullptr)
        return;
    while (calls->depth > 0) {
        const OpenCall& open = calls->open[--calls->depth];
        if (RecordingOn())
            RecordLeft(open.sequence, open.kind);
    }
    SlotStack(*calls).store(0);
}

bool CallTraceOn() {
    return TraceFileOpen();
}

// ------------------------------------------------------------------ host calls

namespace {

// The call of host entry index with its argument slots, and its return; false,
// with nothing written, for an index past the list.
bool AddHostCall(TextBuilder& line, size_t index, const uint32_t* args) {
    if (index >= kHostEntryCount)
        return false;
    line.Add("%s #%u ", kHostEntries[index].name,
             static_cast<unsigned>(kHostEntries[index].ordinal));
    AddArguments(line, kHostShapes[index], kHostParameters[index], args);
    return true;
}

bool AddHostReturn(TextBuilder& line, size_t index, uint32_t eax) {
    if (index >= kHostEntryCount)
        return false;
    line.Add("%s #%u", kHostEntries[index].name,
             static_cast<unsigned>(kHostEntries[index].ordinal));
    if (kHostShapes[index].result != Shown::kNone) {
        line.Add(" = ");
        AddValue(line, kHostShapes[index].result, eax, kTextLimit);
    }
    return true;
}

}  // namespace

size_t FormatHostCall(char* text, size_t size, size_t index, const uint32_t* args) {
    TextBuilder line(text, size);
    return AddHostCall(line, index, args) ? line.length : 0;
}

size_t FormatHostReturn(char* text, size_t size, size_t index, uint32_t eax) {
    TextBuilder line(text, size);
    return AddHostReturn(line, index, eax) ? line.length : 0;
}

extern "C" void* HostTraceEnter(uint32_t index, void** return_slot) {
    // An entry that is not bound yet is bound here, before its call: left to
    // its binding routine, the host function would take the thunk's place in
    // the target word, and a call of the same entry made from inside this one
    // (in an event the host raises) would not be traced.
    if (HostEntryTraced[index] == HostEntryBinders[index]) {
        BindHostEntry(kHostEntries[index].ordinal, &HostEntryTargets[index]);
        HostEntryTraced[index] = HostEntryTargets[index];
        HostEntryTargets[index] = HostEntryTraceThunks[index];
    }
    void* const target = HostEntryTraced[index];
    StackCalls* calls = CallTraceOn() ? CallsOfThisStack(true) : nullptr;
    if (calls == nullptr)
        return target;
    const uint32_t sequence = NextSequence();
    const int depth = OpenAt(*calls, reinterpret_cast<uintptr_t>(return_slot),
                             {0, sequence, index, *return_slot, CallKind::kHostOperation});
    if (depth == 0) {
        if (calls->depth == 0)
            SlotStack(*calls).store(0);
        return target;
    }
    // The call returns through HostEntryTraceReturn, which writes its line.
    *return_slot = reinterpret_cast<void*>(HostEntryTraceReturn);
    char text[kLineSize];
    TextBuilder line(text, sizeof text);
    AddPrefix(line, sequence, depth, '>');
    const auto* args = reinterpret_cast<const uint32_t*>(return_slot + 1);
    AddHostCall(line, index, args);
    WriteOrRecord(line, [&] { return RecordHostCall(line, sequence, index, args); });
    return target;
}

extern "C" void* HostTraceLeave(uint32_t eax, uint32_t /*edx*/, uintptr_t stack_after) {
    // The returning call is the host call whose stack, its return address and
    // what the operation's convention removes, ended where the stack now
    // ends; any open after it were left inside it. It is looked for in every
    // slot: the call returns on the stack it was made on, but perhaps on
    // another thread (a fiber the host moved), under another slot's turn.
    StackCalls* calls = nullptr;
    int at = -1;
    if (!FindReturning(stack_after, calls, at))
        PlatformFailFast();  // a return through the trace that no open call made
    const OpenCall call = calls->open[at];
    const int depth = CloseAt(*calls, at);
    char text[kLineSize];
    TextBuilder line(text, sizeof text);
    AddPrefix(line, call.sequence, depth, '<');
    AddHostReturn(line, call.index, eax);
    if (CallTraceOn())
        WriteOrRecord(line, [&] { return RecordHostReturn(line, call.sequence, call.index, eax); });
    return call.return_address;
}

// ------------------------------------------------------------------ calls into the plug-in

namespace {

// The name of a call into the plug-in, with the ordinal of an entry point;
// a host function's type with its address.
void AddIncomingName(TextBuilder& line, const IncomingCall& call, const void* target) {
    line.Add("%s", call.name);
    if (call.ordinal != 0)
        line.Add(" #%u", static_cast<unsigned>(call.ordinal));
    if (call.kind == CallKind::kHostFunction && target != nullptr)
        line.Add(" 0x%08X", static_cast<unsigned>(reinterpret_cast<uintptr_t>(target)));
}

// A row callback's result is the row count when the row asked for (its first
// argument, 16 bits) is -1, and the row's text otherwise.
void AddResult(TextBuilder& line, const CallShape& shape, uint32_t value, const uint32_t* args) {
    if (shape.result == Shown::kCountOrText && static_cast<int16_t>(args[0] & 0xFFFFu) != -1)
        AddText(line, reinterpret_cast<const char*>(static_cast<uintptr_t>(value)), kTextLimit);
    else
        AddValue(line, shape.result, value, kTextLimit);
}

}  // namespace

uint32_t TraceIncomingCall(const IncomingCall& call, const uint32_t* args, const void* target) {
    if (!CallTraceOn())
        return 0;
    const uint32_t sequence = NextSequence();
    // The arguments lie in the caller's frame: they mark the call's place.
    StackCalls* calls = CallsOfThisStack(true);
    const int depth = calls == nullptr ? 0
                                       : OpenAt(*calls, reinterpret_cast<uintptr_t>(args),
                                                {0, sequence, 0, nullptr, call.kind});
    char text[kLineSize];
    TextBuilder line(text, sizeof text);
    AddPrefix(line, sequence, depth, '>');
    AddIncomingName(line, call, target);
    line.Add(" ");
    AddArguments(line, call.shape, call.parameters, args);
    WriteOrRecord(line, [&] { return RecordIncomingCall(line, sequence, call, target, args); });
    return sequence;
}

int32_t TraceIncomingReturn(const IncomingCall& call, uint32_t sequence, int32_t result,
                            const uint32_t* args, int handed, uint32_t handed_size) {
    if (sequence == 0)
        return result;
    StackCalls* calls = CallsOfThisStack(false);
    int depth = 0;
    for (int at = calls != nullptr ? calls->depth - 1 : -1; at >= 0 && depth == 0; --at)
        if (calls->open[at].mark == reinterpret_cast<uintptr_t>(args))
            depth = CloseAt(*calls, at);
    if (!CallTraceOn())
        return result;
    char text[kLineSize];
    TextBuilder line(text, sizeof text);
    AddPrefix(line, sequence, depth, '<');
    AddIncomingName(line, call, nullptr);
    line.Add(" = ");
    AddResult(line, call.shape, static_cast<uint32_t>(result), args);
    if (handed >= 0 && handed < call.shape.count) {
        line.Add(", ");
        AddParameterName(line, call.parameters, handed);
        AddText(line, reinterpret_cast<const char*>(static_cast<uintptr_t>(args[handed])),
                handed_size);
    }
    WriteOrRecord(line, [&] {
        return RecordIncomingReturn(line, sequence, call, args, static_cast<uint32_t>(result));
    });
    return result;
}
