// int32_t qor_ffi_begin(void): clears the calling thread's frame state, marks the frame open,
// records the caller's stack pointer as it is once this call returns (a failure compares it
// with its own to tell whether the caller is still running), then tail-jumps into _setjmp with
// the thread's jmp_buf. Because of the tail jump, _setjmp records the caller's stack pointer,
// return address and callee-saved registers, so a later longjmp resumes in the caller as a
// second return of qor_ffi_begin, with the value 1.
//
// Built with -fcf-protection (__CET__ set: bit 0 indirect-branch tracking, bit 1 shadow
// stack), the entry starts with endbr64, since hosts reach it through pointers too, and the
// object carries the property note that says so; without the note the linker would mark the
// whole library as not CET-ready. The tail jump keeps the shadow stack in step with the saved
// context: _setjmp records it as the caller's, exactly like the stack pointer.
#ifdef __CET__
#define QOR_ENDBR endbr64
#else
#define QOR_ENDBR
#endif

    .text
    .globl qor_ffi_begin
    .type qor_ffi_begin, @function
    .p2align 4
qor_ffi_begin:
    .cfi_startproc
    QOR_ENDBR
    leaq 8(%rsp), %rdi      // the caller's stack pointer, above our return address
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

#ifdef __CET__
    .section .note.gnu.property,"a"
    .p2align 3
    .long 4                 // name size
    .long 16                // descriptor size
    .long 5                 // NT_GNU_PROPERTY_TYPE_0
    .asciz "GNU"
    .long 0xc0000002        // GNU_PROPERTY_X86_FEATURE_1_AND
    .long 4                 // data size
    .long __CET__           // IBT and/or SHSTK, as compiled
    .p2align 3
#endif
