// Raw memory for compiled code: word and byte access at caller-computed addresses, zeroed heap
// blocks and one-word boxes. Every operation is one unchecked access or one allocation. The
// memory comes from the process heap, not the arena, so arena resets never touch it, and the
// runtime never frees it.
#include <stdlib.h>

#include "core/internal.h"

// Addresses carry no alignment promise, so words move through memcpy (one unaligned mov).
extern "C" QOR_API void qor_store_i64(void* address, int64_t value) {
    memcpy(address, &value, sizeof value);
}

extern "C" QOR_API int64_t qor_load_i64(const void* address) {
    int64_t value;
    memcpy(&value, address, sizeof value);
    return value;
}

// Writes only the low 8 bits of value.
extern "C" QOR_API void qor_store_u8(void* address, int64_t value) {
    *static_cast<unsigned char*>(address) = static_cast<unsigned char>(value);
}

// Zero-extended: 0 to 255.
extern "C" QOR_API int64_t qor_load_u8(const void* address) {
    return *static_cast<const unsigned char*>(address);
}

// count * size zero bytes, or NULL when the heap refuses. A product that overflows is refused
// here, as glibc's calloc would, so that allocators which abort on it instead never see it.
extern "C" QOR_API void* qor_calloc(uint64_t count, uint64_t size) {
    uint64_t bytes;
    if (__builtin_mul_overflow(count, size, &bytes)) return nullptr;
    return calloc(count, size);
}

// A fresh 8-byte heap cell holding value; NULL when the heap is exhausted.
extern "C" QOR_API int64_t* qor_box_new_i64(int64_t value) {
    auto* box = static_cast<int64_t*>(malloc(sizeof(int64_t)));
    if (box != nullptr) *box = value;
    return box;
}

QOR_PLAIN_ALIAS(store_i64, qor_store_i64);
QOR_PLAIN_ALIAS(load_i64, qor_load_i64);
QOR_PLAIN_ALIAS(store_u8, qor_store_u8);
QOR_PLAIN_ALIAS(load_u8, qor_load_u8);
