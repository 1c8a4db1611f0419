// The heap allocation funnel: malloc and realloc wrappers that never return null. A
// request the heap refuses stops the process through out_of_memory, the one place that
// reports exhausted memory, so no caller tests for null and none can forget to.
// Operations whose result can say "failed" (constructors that return null, the file reader's
// fresh empty string) call the plain allocator instead and keep reporting the failure.
#include <stdio.h>
#include <stdlib.h>

#include "core/internal.h"

void qor::out_of_memory(uint64_t n) {
    fprintf(stderr, "[qor] FATAL: out of memory (%llu bytes)\n",
            static_cast<unsigned long long>(n));
    fatal_exit();
}

// A null result means failure even for 0 bytes, so a zero-byte request is taken as one byte.
void* qor::xmalloc(uint64_t n) {
    void* p = malloc(n == 0 ? 1 : n);
    if (p == nullptr) out_of_memory(n);
    return p;
}

// p stays owned by the caller until the new block replaces it: on failure the process stops
// before any pointer is overwritten.
void* qor::xrealloc(void* p, uint64_t n) {
    void* q = realloc(p, n == 0 ? 1 : n);
    if (q == nullptr) out_of_memory(n);
    return q;
}
