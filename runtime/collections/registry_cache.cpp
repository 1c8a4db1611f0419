// The key-value registry cache: three process-wide slots, each holding the string hash map
// parsed from the last "key=value;key=value" text looked up through it, with a private copy of
// that text. A slot answers only for the very text it was built from: a text that differs in
// length or in any byte rebuilds it. The cached keys and values are heap strings, so they
// outlive arena resets and the thread that parsed them; a value handed out stays valid even
// after its slot is rebuilt. Nothing here is locked: callers serialise their use of a slot.
#include <stdlib.h>

#include "core/internal.h"

namespace {
constexpr int64_t kSlots = 3;
}  // namespace

// Per slot: the map, the len of the text it was built from (-1 before any) and a heap copy of
// that text (null before any, or when the copy could not be made).
extern "C" {
QOR_INTERNAL QorStrHashMap* g_reg_caches[kSlots] = {nullptr, nullptr, nullptr};
QOR_INTERNAL int64_t g_reg_cache_lens[kSlots] = {-1, -1, -1};
QOR_INTERNAL char* g_reg_cache_texts[kSlots] = {nullptr, nullptr, nullptr};
}

namespace {

// The map's values are opaque words; here they always hold string record pointers.
QorString* as_string(int64_t word) {
    return reinterpret_cast<QorString*>(word);  // NOLINT(performance-no-int-to-ptr)
}

bool slot_holds(int64_t slot, const QorString* text) {
    return g_reg_caches[slot] != nullptr && g_reg_cache_lens[slot] == text->len &&
           g_reg_cache_texts[slot] != nullptr &&
           memcmp(g_reg_cache_texts[slot], text->data, static_cast<size_t>(text->len)) == 0;
}

// Frees the slot's map with its keys, which were never handed out. The values are kept: a
// caller may still hold one from an earlier lookup.
void discard(int64_t slot) {
    QorStrHashMap* map = g_reg_caches[slot];
    if (map != nullptr) {
        for (int64_t i = 0; i < map->capacity; i++) {
            if (map->entries[i].state == QOR_STR_SLOT_OCCUPIED) {
                qor_ffi_free_string(map->entries[i].key);
            }
        }
        qor_str_hashmap_free(map);
    }
    free(g_reg_cache_texts[slot]);
    g_reg_caches[slot] = nullptr;
    g_reg_cache_lens[slot] = -1;
    g_reg_cache_texts[slot] = nullptr;
}

// A heap copy of n bytes for the slot's map. A pair left out would make its key look absent
// for as long as the slot holds this text, so a copy the heap refuses stops the process.
QorString* pair_copy(const char* bytes, int64_t n) {
    uint64_t refused = 0;
    QorString* s = qor::make_heap_string(bytes, n, &refused);
    if (s == nullptr) qor::out_of_memory(refused);
    return s;
}

// Stores one pair (the map stops the process rather than leave one out). While the map is
// being built no value has been handed out, so when a later pair replaces a value, that value
// is freed at once, and so is the new key copy, since the map keeps the key it already holds.
void store_pair(QorStrHashMap* map, const char* key, int64_t key_len, const char* value,
                int64_t value_len) {
    QorString* k = pair_copy(key, key_len);
    QorString* v = pair_copy(value, value_len);
    QorString* previous = as_string(qor_str_hashmap_insert(map, k, reinterpret_cast<int64_t>(v)));
    if (previous != nullptr) {
        qor_ffi_free_string(k);
        qor_ffi_free_string(previous);
    }
}

// Pairs from the start of text: the key runs to the next "=" (";" included), the value to the
// next ";" or the end. Text after the last "=" that has no value separator is ignored.
void parse_into(QorStrHashMap* map, const char* text, int64_t n) {
    const char* pos = text;
    const char* end = text + n;
    while (pos < end) {
        auto* eq = static_cast<const char*>(memchr(pos, '=', static_cast<size_t>(end - pos)));
        if (eq == nullptr) return;
        const char* value = eq + 1;
        auto* semi = static_cast<const char*>(memchr(value, ';', static_cast<size_t>(end - value)));
        const char* value_end = semi == nullptr ? end : semi;
        store_pair(map, pos, eq - pos, value, value_end - value);
        if (semi == nullptr) return;
        pos = semi + 1;
    }
}

// Rebuilds the slot from text. Without a map the slot answers nothing and is rebuilt on the
// next call; without a private copy of the text it is rebuilt on the next call too.
void rebuild(int64_t slot, const QorString* text) {
    discard(slot);
    QorStrHashMap* map = qor_str_hashmap_new();
    if (map == nullptr) return;
    auto* copy = static_cast<char*>(malloc(static_cast<size_t>(text->len)));
    if (copy != nullptr) memcpy(copy, text->data, static_cast<size_t>(text->len));
    g_reg_cache_texts[slot] = copy;
    g_reg_cache_lens[slot] = text->len;
    parse_into(map, text->data, text->len);
    g_reg_caches[slot] = map;
}

}  // namespace

extern "C" QOR_API QorString* reg_cached_lookup(const QorString* text, const QorString* key,
                                                int64_t slot) {
    if (qor::is_missing(text) || slot < 0 || slot >= kSlots || text->len <= 0) {
        return qor::fresh_empty_string();
    }
    if (!slot_holds(slot, text)) rebuild(slot, text);
    QorString* value = as_string(qor_str_hashmap_get(g_reg_caches[slot], key));
    return value != nullptr ? value : qor::fresh_empty_string();
}
