// The call trace: every call between the host and the plug-in, one line at the
// call and one at its return, in a text file (UTF-8) for the support team.
//
// Calls into the host are traced by pointing the entries' target words at
// per-entry trace thunks (frame/host_entries.S); switched off, the target words
// hold what they held before, and a bound call is one indirect jump again.
// Calls from the host into the plug-in are traced by the entry points
// themselves and by traced twins of the functions the plug-in hands the host
// (AS_HANDED below), handed over in their place while the trace is on. Each
// call is shown as its declared type says. The trace knows nothing of what
// the plug-in does: what it shows comes from the types in host/ and from the
// descriptions its callers give. Its only call of the host is the binding of
// an entry that is first called while the trace is on; nothing reads memory
// whose size is unknown without checking that it is readable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "frame/frame_state.h"  // CallKind
#include "host/host_memory.h"
#include "host/host_records.h"
#include "host/mazovia_text.h"

// Opens (appends to) the trace file and switches the trace on; its first line
// names the plug-in, its version and its module's path. With record, the
// recording (frame/call_recording.h) is switched on too, and its version
// line comes first. False, with the trace off, when the file cannot be
// written. Already on: true, the file and the recording kept as they are.
//
// Any thread may make traced calls: sequence numbers are unique in the file,
// each thread has its own depth, and every line is written whole in one
// write, one thread's at a time.
bool StartCallTrace(const wchar_t* path, bool record = false);
// Switches the trace off and closes its file, once no thread writes to it
// any more. Also done by a failed write.
void StopCallTrace();
bool CallTraceOn();

// ------------------------------------------------------------------ how calls are shown
// How a value is shown: numbers in decimal, 16-bit values as 16-bit, handles
// and pointers in hex, texts the callee reads (const char*) as their text, and
// a row callback's result (RowCountOrText) as the count or the text it is.
enum class Shown : uint8_t {
    kNone,
    kSigned,
    kUnsigned,
    kSigned16,
    kUnsigned16,
    kPointer,
    kText,
    kCountOrText,
};

template <typename T>
constexpr Shown ShownAs() {
    if constexpr (std::is_void_v<T>)
        return Shown::kNone;
    else if constexpr (std::is_same_v<T, RowCountOrText>)
        return Shown::kCountOrText;
    else if constexpr (std::is_same_v<T, const char*>)
        return Shown::kText;
    else if constexpr (std::is_pointer_v<T>)
        return Shown::kPointer;
    else if constexpr (std::is_same_v<T, int16_t>)
        return Shown::kSigned16;
    else if constexpr (std::is_same_v<T, uint16_t>)
        return Shown::kUnsigned16;
    else if constexpr (std::is_signed_v<T>)
        return Shown::kSigned;
    else
        return Shown::kUnsigned;
}

inline constexpr int kMostArguments = 12;

// A call's shape: how its result and each argument slot are shown.
struct CallShape {
    Shown result;
    uint8_t count;
    bool variadic;
    Shown arguments[kMostArguments];
};

// The shape of a declared function type, or of a pointer to a stdcall one.
template <typename F>
struct ShapeOf;
template <typename R, typename... A>
struct ShapeOf<R(A...)> {
    static_assert(sizeof...(A) <= kMostArguments);
    static constexpr CallShape value = {ShownAs<R>(), sizeof...(A), false, {ShownAs<A>()...}};
};
template <typename R, typename... A>
struct ShapeOf<R(A..., ...)> {
    static_assert(sizeof...(A) <= kMostArguments);
    static constexpr CallShape value = {ShownAs<R>(), sizeof...(A), true, {ShownAs<A>()...}};
};
template <typename R, typename... A>
struct ShapeOf<R(HOST_STDCALL*)(A...)> : ShapeOf<R(A...)> {};

// A call of the host into the plug-in, as the trace names, shows and records
// it; or, of kind kHostFunction, a call of the plug-in into a function of the
// host's that it found in host memory, named after its callback type.
struct IncomingCall {
    const char* name;
    uint16_t ordinal;  // an entry point's; 0 for a function handed to the host
    CallShape shape;
    const char* parameters;  // the parameter list as declared, for the names
    CallReach reach;         // what its arguments point to (host/host_memory.h)
    CallKind kind = CallKind::kIncoming;
};

// Not constexpr (nor defined): reaching it fails the build.
void ParameterNamesDoNotMatchTheType();

// The number of parameters a parameter list as written names: none for "()"
// and "(void)", otherwise one more than its commas.
consteval int CountParameters(const char* list) {
    int commas = 0;
    int letters = 0;
    for (const char* at = list; *at != 0; ++at) {
        commas += *at == ',' ? 1 : 0;
        letters += (*at >= 'a' && *at <= 'z') || (*at >= 'A' && *at <= 'Z') ? 1 : 0;
    }
    const bool void_list = list[0] == '(' && list[1] == 'v' && list[2] == 'o' && list[3] == 'i' &&
                           list[4] == 'd' && list[5] == ')' && list[6] == 0;
    return letters == 0 || void_list ? 0 : commas + 1;
}

// A description whose parameter list names as many parameters as its shape
// has; a mismatch does not compile.
consteval IncomingCall DescribeIncoming(const char* name, uint16_t ordinal, const CallShape& shape,
                                        const char* parameters, const CallReach& reach,
                                        CallKind kind = CallKind::kIncoming) {
    if (CountParameters(parameters) != shape.count || reach.count != shape.count)
        ParameterNamesDoNotMatchTheType();
    return {name, ordinal, shape, parameters, reach, kind};
}

// Writes the call's line; returns its sequence number, 0 while the trace is
// off. args holds the call's 32-bit argument slots; their place on the stack
// marks the call. target: the function called, for one handed to the host
// or a host function.
uint32_t TraceIncomingCall(const IncomingCall& call, const uint32_t* args,
                           const void* target = nullptr);
// Writes the return's line (nothing for sequence 0) and returns result. When
// handed is an argument's index, that argument is a buffer the call filled
// for the host: its text (at most handed_size bytes) follows the result.
int32_t TraceIncomingReturn(const IncomingCall& call, uint32_t sequence, int32_t result,
                            const uint32_t* args, int handed = -1, uint32_t handed_size = 0);

// ------------------------------------------------------------------ traced twins
// Whatever function the plug-in hands the host (a hook, a menu handler, a row
// callback) is handed as AS_HANDED(function): the function itself while the
// trace is off, its traced twin while it is on. The twin is made from the
// function's callback type, as host/host_records.h declares it in
// HOST_CALLBACKS, and named after the function; nothing else is written for it.

// Each callback type's shape and parameter names, from the one list. Two
// types whose slots are alike would be one type here: the list keeps them
// apart, or this does not compile.
template <typename Callback>
struct CallbackDeclaration;
#define CALL_TRACE_CALLBACK(name, result, params)                          \
    template <>                                                            \
    struct CallbackDeclaration<name> {                                     \
        static constexpr const char* type = #name;                         \
        static constexpr CallShape shape = ShapeOf<result params>::value;  \
        static constexpr const char* parameters = #params;                 \
        static constexpr CallReach reach = DescribedCallbackReach<name>(); \
    };
HOST_CALLBACKS(CALL_TRACE_CALLBACK)
#undef CALL_TRACE_CALLBACK

// A function's name as a template argument: a mazovia::Utf8Literal, named so
// and not through an alias template, whose arguments not every compiler
// deduces (clang 14 does not).
template <auto Function, mazovia::Utf8Literal Name>
struct TracedTwin;
template <typename... Slots, int32_t(HOST_STDCALL* Function)(Slots...), mazovia::Utf8Literal Name>
struct TracedTwin<Function, Name> {
    using Declaration = CallbackDeclaration<decltype(Function)>;
    static constexpr IncomingCall kCall = DescribeIncoming(
        Name.bytes, 0, Declaration::shape, Declaration::parameters, Declaration::reach);

    static int32_t HOST_STDCALL Call(Slots... slots) {
        static_assert(sizeof...(Slots) > 0);
        const uint32_t args[] = {static_cast<uint32_t>(slots)...};
        const uint32_t sequence = TraceIncomingCall(kCall, args, reinterpret_cast<void*>(&Call));
        return TraceIncomingReturn(kCall, sequence, Function(slots...), args);
    }
};

template <auto Function, mazovia::Utf8Literal Name>
decltype(Function) AsHanded() {
    return CallTraceOn() ? TracedTwin<Function, Name>::Call : Function;
}

#define AS_HANDED(function) (AsHanded<function, #function>())

// A function of the host's that the plug-in found in host memory (the hook a
// table held before ours) is called as CallHost(function, arguments...):
// while the trace is on, its call and return are traced and recorded like
// those of a host operation; off, it is called directly.
template <typename Callback>
struct HostFunctionCall {
    using Declaration = CallbackDeclaration<Callback>;
    static constexpr IncomingCall kCall =
        DescribeIncoming(Declaration::type, 0, Declaration::shape, Declaration::parameters,
                         Declaration::reach, CallKind::kHostFunction);
};

template <typename Callback, typename... Slots>
int32_t CallHost(Callback function, Slots... slots) {
    if (!CallTraceOn())
        return function(slots...);
    const IncomingCall& call = HostFunctionCall<Callback>::kCall;
    const uint32_t args[] = {static_cast<uint32_t>(slots)...};
    const uint32_t sequence = TraceIncomingCall(call, args, reinterpret_cast<void*>(function));
    return TraceIncomingReturn(call, sequence, function(slots...), args);
}

// Appends text (whole lines) to the trace file in one write, one thread's at
// a time; false when it could not be written. The recording writes so.
bool AppendTraceText(const char* text, uint32_t length);

// One thread at a time: waits until another thread's turn on word ends, then
// holds it for the scope, the word holding the thread's identifier. The
// trace's writes take turns on Frame.Trace.writing, the recording's
// boundaries on Frame.Recording.turn.
//
// Diagnostics may never hang the host. A turn the calling thread finds its
// own was left held by a non-local exit out of the trace's own work (a host
// that intercepts the system's functions and leaves one by a long jump, an
// exception its translator made of a fault): no turn is ever taken twice on
// one thread, so the work that held it is gone, and the thread takes the turn
// over (taken_over). One that another thread holds longer than the trace's
// work can take is given up: the scope does not hold the turn (held false),
// and its work is left undone.
struct TraceTurn {
    uint32_t& word;
    bool held = false;
    bool taken_over = false;
    explicit TraceTurn(uint32_t& taken);
    ~TraceTurn();
    TraceTurn(const TraceTurn&) = delete;
    TraceTurn& operator=(const TraceTurn&) = delete;
};
// How long a thread waits for another's turn, in milliseconds.
inline constexpr uint32_t kLongestTurnWait = 10000;

// A thread ends: the calls it has open on its stack are left, and its slot
// goes (the module's thread-detach notification).
void EndCallsOfEndingThread();

// Its state, Frame.Trace, and the types of it are in frame/frame_state.h.

// The lines, as the trace writes them (without the line end), for the tests:
// the call of host entry index with its argument slots, and its return.
size_t FormatHostCall(char* line, size_t size, size_t index, const uint32_t* args);
size_t FormatHostReturn(char* line, size_t size, size_t index, uint32_t eax);

// Called by the trace thunks with every register of the caller kept. Enter:
// the call's line; return_slot is where the caller's return address lies,
// its arguments above it. Unless the call cannot be recorded, the return
// address is kept and the slot made to return through HostEntryTraceReturn.
// Returns the operation to continue into, with the caller's stack. Leave
// (from HostEntryTraceReturn, with the operation's result registers and
// where its stack ends after the return): the return's line; returns where
// the caller continues.
extern "C" void* HostTraceEnter(uint32_t index, void** return_slot);
extern "C" void* HostTraceLeave(uint32_t eax, uint32_t edx, uintptr_t stack_after);

// Defined in host_entries.S: each entry's trace thunk and the return path of
// traced calls. What a target word held before its thunk took its place is
// HostEntryTraced (frame/frame_state.h).
extern "C" {
extern void* const HostEntryTraceThunks[];
void HostEntryTraceReturn();
}
