// The string map: string keys to 64-bit values by separate chaining. The map owns a copy of
// every key (with its byte length, so keys may hold NUL bytes); the record, the bucket array
// and the nodes live on the process heap, and only the strings handed out by the keys listing
// come from qor_alloc. Each node and its key copy share one block, the key bytes right after
// the node, so a chain walk touches one block per entry. Blocks are carved from chunks that the
// map owns (a private trailer behind the public record keeps them); a removed node's block goes
// to a free list of its size for the next insert, and the chunks return to the heap with the
// map (the largest ones are kept for the next map, see qor::big_alloc). Blocks too large for
// the chunks are malloc'd and freed one by one.
// Invariants: bucket_count is 64 * 2^k, so h % bucket_count == h & (bucket_count - 1); every
// node's hash is the FNV-1a hash of its key_len key bytes and the node sits in that hash's
// bucket; new nodes go to the head of their bucket; count is the number of nodes.
#include <stdlib.h>

#include <cstddef>

#include "core/internal.h"

static_assert(sizeof(QorStrMapNode) == 40);
static_assert(offsetof(QorStrMapNode, key) == 0);
static_assert(offsetof(QorStrMapNode, value) == 8);
static_assert(offsetof(QorStrMapNode, next) == 16);
static_assert(offsetof(QorStrMapNode, key_len) == 24);
static_assert(offsetof(QorStrMapNode, hash) == 32);
static_assert(sizeof(QorStrMap) == 24);
static_assert(offsetof(QorStrMap, buckets) == 0);
static_assert(offsetof(QorStrMap, bucket_count) == 8);
static_assert(offsetof(QorStrMap, count) == 16);

namespace {

constexpr int64_t kInitialBuckets = 64;
// Node blocks are multiples of 8 bytes (the node's alignment); those up to kLargestPooled bytes
// come from chunks that double from kFirstChunk to kLargestChunk bytes, so small maps stay
// small.
constexpr size_t kBlockAlign = 8;
constexpr size_t kLargestPooled = 256;
constexpr size_t kFirstChunk = 1024;
constexpr size_t kLargestChunk = size_t{2} << 20;

// A removed node's block, waiting in its size's free list.
struct FreeBlock {
    FreeBlock* next;
};

// A chunk: a link to the chunk made before it and its size, then node blocks.
struct Chunk {
    Chunk* older;
    size_t bytes;
};

// The heap block behind every map: the public record, its bucket summaries, then its node pool.
// summary[b] has bit (hash >> 61) set for the hash of every node in bucket b (and possibly for
// nodes removed since the last growth), so a key whose bit is clear is not in the bucket and its
// chain need not be walked.
struct MapBlock {
    QorStrMap map;
    uint8_t* summary;  // bucket_count bytes
    char* unused;      // the newest chunk's bytes not handed out yet
    char* end;
    Chunk* chunks;  // newest first
    size_t next_chunk;
    int64_t large_nodes;  // nodes malloc'd one by one
    FreeBlock* free_blocks[kLargestPooled / kBlockAlign + 1];
};

MapBlock* block_of(QorStrMap* map) { return reinterpret_cast<MapBlock*>(map); }
const MapBlock* block_of(const QorStrMap* map) { return reinterpret_cast<const MapBlock*>(map); }

uint8_t summary_bit(uint64_t hash) { return static_cast<uint8_t>(1u << (hash >> 61)); }

uint64_t bucket_index(const QorStrMap* map, uint64_t hash) {
    return hash & static_cast<uint64_t>(map->bucket_count - 1);
}

// False when the key of this hash is surely not in its bucket.
bool may_hold(const QorStrMap* map, uint64_t hash) {
    return (block_of(map)->summary[bucket_index(map, hash)] & summary_bit(hash)) != 0;
}

size_t block_bytes(int64_t key_len) {
    size_t n = sizeof(QorStrMapNode) + static_cast<size_t>(key_len) + 1;
    return (n + kBlockAlign - 1) & ~(kBlockAlign - 1);
}

// The largest chunks are big blocks: reused across maps while they are few, so a program that
// fills and frees large maps in turn keeps touching the same pages.
void* new_chunk(size_t n) { return qor::big_alloc(n, false); }

void free_chunk(Chunk* chunk) { qor::big_free(chunk, chunk->bytes); }

// Bucket arrays and summaries come zeroed, as big blocks once they are large.
template <typename T>
T* new_table(int64_t count) {
    return static_cast<T*>(qor::big_alloc(static_cast<uint64_t>(count) * sizeof(T), true));
}

template <typename T>
void free_table(T* table, int64_t count) {
    qor::big_free(table, static_cast<uint64_t>(count) * sizeof(T));
}

// A block of n bytes (from block_bytes) for a node. Callers take an insert of a usable key as
// done (it answers 1), so a block the heap refuses stops the process rather than leave the key
// out.
void* take_block(MapBlock* b, size_t n) {
    if (n > kLargestPooled) {
        void* p = qor::xmalloc(n);
        b->large_nodes++;
        return p;
    }
    FreeBlock*& reuse = b->free_blocks[n / kBlockAlign];
    if (reuse != nullptr) {
        FreeBlock* p = reuse;
        reuse = p->next;
        return p;
    }
    if (static_cast<size_t>(b->end - b->unused) < n) {
        auto* chunk = static_cast<Chunk*>(new_chunk(b->next_chunk));
        if (chunk == nullptr) qor::out_of_memory(b->next_chunk);
        chunk->older = b->chunks;
        chunk->bytes = b->next_chunk;
        b->chunks = chunk;
        b->unused = reinterpret_cast<char*>(chunk + 1);
        b->end = reinterpret_cast<char*>(chunk) + b->next_chunk;
        if (b->next_chunk < kLargestChunk) b->next_chunk *= 2;
    }
    void* p = b->unused;
    b->unused += n;
    return p;
}

void give_back(MapBlock* b, QorStrMapNode* node) {
    size_t n = block_bytes(node->key_len);
    if (n > kLargestPooled) {
        free(node);
        b->large_nodes--;
        return;
    }
    auto* p = reinterpret_cast<FreeBlock*>(node);
    p->next = b->free_blocks[n / kBlockAlign];
    b->free_blocks[n / kBlockAlign] = p;
}
constexpr double kMaxLoad = 0.75;
// Growth walks every chain and prefetches the chain heads this many buckets ahead: chains
// are short, so the walk is bound by one cache miss per bucket.
constexpr int64_t kPrefetchAhead = 32;

// A key the map cannot use: missing, or a malformed record with a negative length.
bool unusable(const QorString* key) { return qor::is_missing(key) || key->len < 0; }

uint64_t hash_of(const QorString* key) { return qor::fnv1a(key->data, key->len); }

QorStrMapNode** bucket_for(const QorStrMap* map, uint64_t hash) {
    return &map->buckets[bucket_index(map, hash)];
}

// The kept hash rules out almost every other key before any byte is read.
bool same_key(const QorStrMapNode* node, const QorString* key, uint64_t hash) {
    return node->hash == hash && node->key_len == key->len &&
           (key->len == 0 || qor::same_bytes(node->key, key->data, key->len));
}

QorStrMapNode* find_in(QorStrMapNode* node, const QorString* key, uint64_t hash) {
    while (node != nullptr && !same_key(node, key, hash)) node = node->next;
    return node;
}

QorStrMapNode* find(const QorStrMap* map, const QorString* key) {
    uint64_t hash = hash_of(key);
    return may_hold(map, hash) ? find_in(*bucket_for(map, hash), key, hash) : nullptr;
}

// Doubles the bucket array, relinking every node (no key is copied or rehashed) at the head
// of its new bucket; old buckets are visited in index order and each chain from its head. The
// summaries are made anew, exact again.
void grow(QorStrMap* map) {
    int64_t old_count = map->bucket_count;
    auto* fresh = new_table<QorStrMapNode*>(old_count * 2);
    auto* summary = new_table<uint8_t>(old_count * 2);
    if (fresh == nullptr ||
        summary == nullptr) {  // keep the longer chains rather than lose the map
        free_table(fresh, old_count * 2);
        free_table(summary, old_count * 2);
        return;
    }
    QorStrMapNode** old = map->buckets;
    map->buckets = fresh;
    map->bucket_count = old_count * 2;
    map->count = 0;
    free_table(block_of(map)->summary, old_count);
    block_of(map)->summary = summary;
    for (int64_t b = 0; b < old_count; b++) {
        if (b + kPrefetchAhead < old_count) __builtin_prefetch(old[b + kPrefetchAhead]);
        QorStrMapNode* node = old[b];
        while (node != nullptr) {
            QorStrMapNode* next = node->next;
            QorStrMapNode** head = bucket_for(map, node->hash);
            node->next = *head;
            *head = node;
            summary[bucket_index(map, node->hash)] |= summary_bit(node->hash);
            map->count++;
            node = next;
        }
    }
    free_table(old, old_count);
}

// A new vector of one field of every node, buckets in index order, each chain from its head.
template <typename Field>
QorVec* list_nodes(const QorStrMap* map, Field field) {
    QorVec* v = qor_vec_new();
    if (map == nullptr) return v;
    for (int64_t b = 0; b < map->bucket_count; b++) {
        for (const QorStrMapNode* node = map->buckets[b]; node != nullptr; node = node->next) {
            qor_vec_push(v, field(node));
        }
    }
    return v;
}

}  // namespace

// Null when memory is short. (An insert that cannot get its node stops instead; see take_block.)
extern "C" QOR_API QorStrMap* qor_strmap_new(void) {
    auto* block = static_cast<MapBlock*>(calloc(1, sizeof(MapBlock)));
    if (block == nullptr) return nullptr;
    block->next_chunk = kFirstChunk;
    QorStrMap* map = &block->map;
    map->buckets = new_table<QorStrMapNode*>(kInitialBuckets);
    block->summary = new_table<uint8_t>(kInitialBuckets);
    if (map->buckets == nullptr || block->summary == nullptr) {
        free_table(map->buckets, kInitialBuckets);
        free_table(block->summary, kInitialBuckets);
        free(block);
        return nullptr;
    }
    map->bucket_count = kInitialBuckets;
    map->count = 0;
    return map;
}

// The growth check comes first, even for an insert that only replaces a value: with 64
// buckets the insert that finds 49 entries doubles them. The caller's key is copied, so the
// caller may change or release it afterwards.
extern "C" QOR_API int64_t qor_strmap_insert(QorStrMap* map, const QorString* key, int64_t value) {
    if (map == nullptr || unusable(key)) return 0;
    if (static_cast<double>(map->count) / static_cast<double>(map->bucket_count) > kMaxLoad) {
        grow(map);
    }
    uint64_t hash = hash_of(key);
    QorStrMapNode** head = bucket_for(map, hash);
    QorStrMapNode* found = may_hold(map, hash) ? find_in(*head, key, hash) : nullptr;
    if (found != nullptr) {
        found->value = value;
        return 1;
    }
    auto* node = static_cast<QorStrMapNode*>(take_block(block_of(map), block_bytes(key->len)));
    node->key = reinterpret_cast<char*>(node + 1);
    if (key->len > 0) memcpy(node->key, key->data, static_cast<size_t>(key->len));
    node->key[key->len] = '\0';
    node->key_len = key->len;
    node->hash = hash;
    node->value = value;
    node->next = *head;
    *head = node;
    block_of(map)->summary[bucket_index(map, hash)] |= summary_bit(hash);
    map->count++;
    return 1;
}

// A stored -1 reads as absence; qor_strmap_contains tells them apart.
extern "C" QOR_API int64_t qor_strmap_get(const QorStrMap* map, const QorString* key) {
    if (map == nullptr || unusable(key)) return -1;
    const QorStrMapNode* node = find(map, key);
    return node == nullptr ? -1 : node->value;
}

extern "C" QOR_API int64_t qor_strmap_contains(const QorStrMap* map, const QorString* key) {
    if (map == nullptr || unusable(key)) return 0;
    return find(map, key) != nullptr;
}

// Frees the node and its key copy; absence reads as 0, as does a stored 0.
extern "C" QOR_API int64_t qor_strmap_remove(QorStrMap* map, const QorString* key) {
    if (map == nullptr || unusable(key)) return 0;
    uint64_t hash = hash_of(key);
    if (!may_hold(map, hash)) return 0;
    QorStrMapNode** link = bucket_for(map, hash);
    while (*link != nullptr && !same_key(*link, key, hash)) link = &(*link)->next;
    QorStrMapNode* node = *link;
    if (node == nullptr) return 0;
    *link = node->next;
    int64_t value = node->value;
    give_back(block_of(map), node);
    map->count--;
    return value;
}

extern "C" QOR_API int64_t qor_strmap_size(const QorStrMap* map) {
    return map == nullptr ? 0 : map->count;
}

// The key strings are new qor_alloc records, independent of the map.
extern "C" QOR_API QorVec* qor_strmap_keys(const QorStrMap* map) {
    return list_nodes(map, [](const QorStrMapNode* node) {
        return reinterpret_cast<int64_t>(qor::make_string(node->key, node->key_len));
    });
}

extern "C" QOR_API QorVec* qor_strmap_values(const QorStrMap* map) {
    return list_nodes(map, [](const QorStrMapNode* node) { return node->value; });
}

// The chunks go back whole; only the nodes malloc'd one by one need a walk over the chains.
extern "C" QOR_API void qor_strmap_free(QorStrMap* map) {
    if (map == nullptr) return;
    MapBlock* block = block_of(map);
    for (int64_t b = 0; block->large_nodes > 0 && b < map->bucket_count; b++) {
        QorStrMapNode* node = map->buckets[b];
        while (node != nullptr) {
            QorStrMapNode* next = node->next;
            if (block_bytes(node->key_len) > kLargestPooled) give_back(block, node);
            node = next;
        }
    }
    for (Chunk* c = block->chunks; c != nullptr;) {
        Chunk* older = c->older;
        free_chunk(c);
        c = older;
    }
    free_table(map->buckets, map->bucket_count);
    free_table(block->summary, map->bucket_count);
    free(block);
}

QOR_PLAIN_ALIAS(strmap_new, qor_strmap_new);
QOR_PLAIN_ALIAS(strmap_insert, qor_strmap_insert);
QOR_PLAIN_ALIAS(strmap_get, qor_strmap_get);
QOR_PLAIN_ALIAS(strmap_contains, qor_strmap_contains);
QOR_PLAIN_ALIAS(strmap_remove, qor_strmap_remove);
QOR_PLAIN_ALIAS(strmap_size, qor_strmap_size);
QOR_PLAIN_ALIAS(strmap_keys, qor_strmap_keys);
QOR_PLAIN_ALIAS(strmap_values, qor_strmap_values);
QOR_PLAIN_ALIAS(strmap_free, qor_strmap_free);
