/* See register_call.h. Every register is in use around the call, so the
 * helper keeps its own state in fixed memory (not reentrant; tests are
 * single-threaded). */

        .data
        .p2align 2
saved_esp:      .long 0
call_target:    .long 0
at_call_out:    .long 0
after_out:      .long 0
record_at_call: .fill 9, 4, 0
record_after:   .fill 9, 4, 0

/* Stores every register and the flags into a 9-word record; touches neither
 * registers nor flags. */
.macro RECORD where
        movl    %eax, \where + 0
        movl    %ebx, \where + 4
        movl    %ecx, \where + 8
        movl    %edx, \where + 12
        movl    %esi, \where + 16
        movl    %edi, \where + 20
        movl    %ebp, \where + 24
        movl    %esp, \where + 28
        pushfl
        popl    \where + 32
.endm

        .text
        .globl  _CallWithRegisters
_CallWithRegisters:
        pushl   %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        movl    %esp, saved_esp
        movl    20(%esp), %eax
        movl    %eax, call_target
        movl    36(%esp), %eax
        movl    %eax, at_call_out
        movl    40(%esp), %eax
        movl    %eax, after_out
        movl    24(%esp), %esi          /* args */
        movl    28(%esp), %ecx          /* count */
        movl    32(%esp), %edi          /* seed */
1:      testl   %ecx, %ecx
        jz      2f
        pushl   -4(%esi,%ecx,4)
        decl    %ecx
        jmp     1b
2:      movl    32(%edi), %eax
        andl    $0x8D5, %eax
        pushl   %eax
        popfl
        movl    0(%edi), %eax
        movl    4(%edi), %ebx
        movl    8(%edi), %ecx
        movl    12(%edi), %edx
        movl    16(%edi), %esi
        movl    24(%edi), %ebp
        movl    20(%edi), %edi
        RECORD  record_at_call
        call    *call_target
        RECORD  record_after
        movl    saved_esp, %esp
        cld
        movl    $record_at_call, %esi
        movl    at_call_out, %edi
        movl    $9, %ecx
        rep movsl
        movl    $record_after, %esi
        movl    after_out, %edi
        movl    $9, %ecx
        rep movsl
        movl    record_after, %eax
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret
