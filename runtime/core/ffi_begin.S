// int32_t qor_ffi_begin(void): clears the calling thread's frame state, marks the frame open,
// then tail-jumps into _setjmp with the thread's jmp_buf. Because of the tail jump, _setjmp
// records the caller's stack pointer, return address and callee-saved registers, so a later
// longjmp resumes in the caller as a second return of qor_ffi_begin, with the value 1.
    .text
    .globl qor_ffi_begin
    .type qor_ffi_begin, @function
    .p2align 4
qor_ffi_begin:
    .cfi_startproc
    subq $8, %rsp
    .cfi_adjust_cfa_offset 8
    call qor_ffi_prepare
    addq $8, %rsp
    .cfi_adjust_cfa_offset -8
    movq %rax, %rdi
    jmp _setjmp@PLT
    .cfi_endproc
    .size qor_ffi_begin, .-qor_ffi_begin

    .section .note.GNU-stack,"",@progbits
