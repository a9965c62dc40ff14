/* A host library for the binding tests: every host operation of the list is a
 * probe that records the registers, flags and first arguments it receives in
 * ProbeSaw, leaves every register but EAX as it found it, and returns
 * 0x50000000 + its ordinal with the stack as the operation's convention
 * demands (all but the text converter, below). Which ordinals it exports is chosen by its .def file. */
#include "host/host_operations.h"
#include "host/host_symbol.inc"

        .data
        .p2align 2
/* eax ebx ecx edx esi edi ebp esp eflags, ordinal, args[4], calls */
        .globl  _ProbeSaw
_ProbeSaw:
        .fill   15, 4, 0

.macro PROBE name, ordinal, convention, bytes
        .text
        .p2align 4
        HOST_SYMBOL \name, \convention, \bytes
        movl    %eax, _ProbeSaw + 0
        movl    %ebx, _ProbeSaw + 4
        movl    %ecx, _ProbeSaw + 8
        movl    %edx, _ProbeSaw + 12
        movl    %esi, _ProbeSaw + 16
        movl    %edi, _ProbeSaw + 20
        movl    %ebp, _ProbeSaw + 24
        movl    %esp, _ProbeSaw + 28
        pushfl
        popl    _ProbeSaw + 32
        movl    $\ordinal, _ProbeSaw + 36
        movl    4(%esp), %eax
        movl    %eax, _ProbeSaw + 40
        movl    8(%esp), %eax
        movl    %eax, _ProbeSaw + 44
        movl    12(%esp), %eax
        movl    %eax, _ProbeSaw + 48
        movl    16(%esp), %eax
        movl    %eax, _ProbeSaw + 52
        incl    _ProbeSaw + 56
        movl    $(0x50000000 + \ordinal), %eax
  .ifc \convention,STDCALL
    .if \bytes
        ret     $\bytes
    .else
        ret
    .endif
  .else
        ret
  .endif
.endm

/* The text converter serves the missing-entry dialog during other entries'
 * bindings; it is no probe, so that it does not count as their call. It
 * leaves the text as it is (the tests here do not read the dialog's bytes). */
.macro PROBE_OR_CONVERTER name, ordinal, convention, bytes
  .ifc \name,HostConvertText
        .text
        .globl  _HostConvertText@16
_HostConvertText@16:
        movl    $1, %eax
        ret     $16
  .else
        PROBE   \name, \ordinal, \convention, \bytes
  .endif
.endm

#define PROBE_OPERATION(name, ordinal, convention, bytes, result, params) \
        PROBE_OR_CONVERTER name, ordinal, convention, bytes;
        HOST_OPERATIONS(PROBE_OPERATION)

/* The exception translator the plug-in imports at load. */
        .text
        .globl  _ProbeTranslator
_ProbeTranslator:
        ret
