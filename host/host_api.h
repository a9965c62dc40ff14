// The host operations, callable under their own names and types.
//
// Each name is the forwarding entry of the binding layer, which binds itself to
// the host library's export of the same ordinal on its first call. Callers see
// plain functions.
#pragma once

#include <cstdarg>
#include <cstdint>

#include "host/host_operations.h"
#include "host/host_records.h"

#define HOST_CONVENTION_STDCALL HOST_STDCALL
#define HOST_CONVENTION_CDECL HOST_CDECL

#define HOST_DECLARE_OPERATION(name, ordinal, convention, bytes, result, params) \
    extern "C" result HOST_CONVENTION_##convention name params;
HOST_OPERATIONS(HOST_DECLARE_OPERATION)
#undef HOST_DECLARE_OPERATION

// HostProfileValue with the values after the format given directly: mode 1
// reads (into pointers), 2 writes. Returns the host's status, 0 on success.
inline int16_t ProfileValue(int16_t mode, const char* section, const char* key, const char* format,
                            ...) {
    va_list args;
    va_start(args, format);
    const int16_t status = HostProfileValue(mode, section, key, format, args);
    va_end(args);
    return status;
}

// The host's structured-exception translator, which the runtime calls with the
// fault code and the exception pointers. Imported by ordinal, not bound lazily.
struct _EXCEPTION_POINTERS;
typedef void(HOST_CDECL* HostTranslatorFunction)(unsigned int code, _EXCEPTION_POINTERS* pointers);
extern "C" void HOST_CDECL HostExceptionTranslator(unsigned int code,
                                                   _EXCEPTION_POINTERS* pointers);
