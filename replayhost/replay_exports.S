/* The replay host's host operations, one export each under the symbol a
 * caller of its declaration refers to (host/host_symbol.inc), generated from
 * the one list of host operations. Each hands its index and the caller's
 * arguments to ReplayHostCall (replay_host.cpp), returns its result and
 * removes the arguments as the operation's convention says. */
#include "host/host_operations.h"
#include "host/host_symbol.inc"

        .set    replay_index, 0

.macro REPLAY_EXPORT name, convention, bytes
        .p2align 4
        HOST_SYMBOL \name, \convention, \bytes
        pushl   %ebp
        movl    %esp, %ebp
        leal    8(%ebp), %eax           /* the caller's arguments */
        andl    $-16, %esp
        subl    $8, %esp
        pushl   %eax
        pushl   $replay_index
        cld
        call    _ReplayHostCall
        movl    %ebp, %esp
        popl    %ebp
  .ifc \convention,STDCALL
        ret     $\bytes
  .else
        ret
  .endif
        .set    replay_index, replay_index + 1
.endm

#define REPLAY_OPERATION(name, ordinal, convention, bytes, result, params) \
        REPLAY_EXPORT name, convention, bytes;

        .text
        HOST_OPERATIONS(REPLAY_OPERATION)
