/* The host entries: target words, forwarding stubs and binding routines,
 * generated from the one list of host operations, and the ZeroFallback
 * routines. See frame/host_binding.h.
 *
 * A stub is the operation itself as far as the caller knows: it jumps through
 * its target word with the caller's stack and registers untouched. A binding
 * routine keeps every register and the flags, binds, and then continues into
 * the new target as if the caller had called it directly.
 */
#include "host/host_operations.h"
#include "host/host_symbol.inc"

        .set    host_entry_count, 0

/* The operation itself, under the symbol a C++ caller refers to. */
.macro HOST_STUB name, ordinal, convention, bytes
        .p2align 3
        HOST_SYMBOL \name, \convention, \bytes
        jmp     *host_target_\name
.endm

.macro HOST_TARGET name
host_target_\name:
        .long   host_bind_\name
        .set    host_entry_count, host_entry_count + 1
.endm

.macro HOST_BINDER_WORD name
        .long   host_bind_\name
.endm

.macro HOST_BIND name, ordinal
        .p2align 4
host_bind_\name:
        pushal
        pushfl
        /* The binder is ordinary compiled code: give it an aligned stack and
         * the direction flag its calling convention promises. */
        movl    %esp, %ebp
        andl    $-16, %esp
        subl    $8, %esp
        pushl   $host_target_\name
        pushl   $\ordinal
        cld
        call    _BindHostEntry
        movl    %ebp, %esp
        popfl
        popal
        jmp     *host_target_\name
.endm

/* Member 0 leaves the arguments to the caller; member n removes n words. */
.macro ZERO_RETURN label, n
        .p2align 3
\label\n:
        xorl    %eax, %eax
  .if \n
        ret     $(4 * \n)
  .else
        ret
  .endif
.endm

#define HOST_ENTRY_TARGET(name, ordinal, convention, bytes, result, params) HOST_TARGET name;
#define HOST_ENTRY_BINDER_WORD(name, ordinal, convention, bytes, result, params) \
        HOST_BINDER_WORD name;
#define HOST_ENTRY_STUB(name, ordinal, convention, bytes, result, params) \
        HOST_STUB name, ordinal, convention, bytes;
#define HOST_ENTRY_BIND(name, ordinal, convention, bytes, result, params) \
        HOST_BIND name, ordinal;

        .data
        .p2align 2
        .globl  _HostEntryTargets
_HostEntryTargets:
        HOST_OPERATIONS(HOST_ENTRY_TARGET)

        .section .rdata,"dr"
        .p2align 2
        .globl  _HostEntryBinders
_HostEntryBinders:
        HOST_OPERATIONS(HOST_ENTRY_BINDER_WORD)

        .globl  _HostEntryCountInAssembly
_HostEntryCountInAssembly:
        .long   host_entry_count

        .globl  _ZeroFallback
_ZeroFallback:
        .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14
        .long   zero_fallback_\n
        .endr

        .text
        HOST_OPERATIONS(HOST_ENTRY_STUB)
        HOST_OPERATIONS(HOST_ENTRY_BIND)

        .irp n, 0,1,2,3,4,5,6,7,8,9,10,11,12,13,14
        ZERO_RETURN zero_fallback_, \n
        .endr

/* The call trace (frame/call_trace.h). While it is on, each entry's target
 * word holds the entry's trace thunk and HostEntryTraced the word's former
 * value. A thunk hands its index to the common routine, which keeps every
 * register and the flags as the caller left them: the operation finds the
 * caller's call as the untraced stub hands it over, only its return address
 * is the trace's return path (HostEntryTraceReturn), and it returns to the
 * caller with its result registers and the stack as it left them. */
        .set    host_trace_index, 0

.macro HOST_TRACE_THUNK name
        .p2align 3
host_trace_\name:
        pushl   $host_trace_index
        jmp     host_trace_common
        .set    host_trace_index, host_trace_index + 1
.endm

.macro HOST_TRACE_THUNK_WORD name
        .long   host_trace_\name
.endm

#define HOST_ENTRY_TRACE_THUNK(name, ordinal, convention, bytes, result, params) \
        HOST_TRACE_THUNK name;
#define HOST_ENTRY_TRACE_THUNK_WORD(name, ordinal, convention, bytes, result, params) \
        HOST_TRACE_THUNK_WORD name;
#define HOST_ENTRY_TRACED_WORD(name, ordinal, convention, bytes, result, params) \
        .long 0;

        .data
        .p2align 2
        .globl  _HostEntryTraced
_HostEntryTraced:
        HOST_OPERATIONS(HOST_ENTRY_TRACED_WORD)

        .section .rdata,"dr"
        .p2align 2
        .globl  _HostEntryTraceThunks
_HostEntryTraceThunks:
        HOST_OPERATIONS(HOST_ENTRY_TRACE_THUNK_WORD)

        .text
        HOST_OPERATIONS(HOST_ENTRY_TRACE_THUNK)

/* Stack on entry: the index, the caller's return address, the arguments.
 * The registers and flags are kept below them (pushal: EDI ESI EBP ESP EBX
 * EDX ECX EAX), the line is written in compiled code on an aligned stack,
 * and the index's word takes the operation's address, into which the
 * routine returns with everything restored. */
        .p2align 4
host_trace_common:
        pushfl
        pushal
        movl    %esp, %ebp
        andl    $-16, %esp
        subl    $8, %esp
        leal    40(%ebp), %eax          /* the return address's slot */
        pushl   %eax
        pushl   36(%ebp)                /* the index */
        cld
        call    _HostTraceEnter
        movl    %eax, 36(%ebp)
        movl    %ebp, %esp
        popal
        popfl
        ret

/* A traced call's return: the operation's registers and flags are kept, a
 * word is made room for the caller's return address (lea keeps the flags),
 * and the line is written; the routine then returns to the caller with the
 * registers as the operation left them. */
        .p2align 4
        .globl  _HostEntryTraceReturn
_HostEntryTraceReturn:
        leal    -4(%esp), %esp
        pushfl
        pushal
        movl    %esp, %ebp
        andl    $-16, %esp
        subl    $4, %esp
        leal    40(%ebp), %eax          /* where the call's stack ends */
        pushl   %eax
        pushl   20(%ebp)                /* EDX */
        pushl   28(%ebp)                /* EAX */
        cld
        call    _HostTraceLeave
        movl    %eax, 36(%ebp)
        movl    %ebp, %esp
        popal
        popfl
        ret
