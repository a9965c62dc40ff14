// How a call between the host and the plug-in is described, for the call
// trace (frame/call_trace.h) and its recording (frame/call_recording.h): how
// its result and arguments are shown, from their declared types, and what
// they reach (host/host_memory.h). Declarations only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "host/host_memory.h"
#include "host/host_records.h"

// Which way a call goes: the host into the plug-in, the plug-in into a host
// operation, or into a function of the host's it found in host memory.
enum class CallKind : uint8_t { kIncoming, kHostOperation, kHostFunction };

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

// ------------------------------------------------------------------ callbacks
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
