// String map: owned keys, the growth point and relinking, chain order in the listings, and
// keys that hold NUL bytes.
#include <algorithm>
#include <string>
#include <vector>

#include "core/internal.h"
#include "test_support.h"

namespace {

QOR_ARENA_ON_FOR_WHOLE_RUN();

QorString* str(const std::string& s) {
    return qor_string_new(s.data(), static_cast<int64_t>(s.size()));
}

uint64_t fnv(const std::string& s) {
    uint64_t h = 0xcbf29ce484222325ULL;
    for (unsigned char c : s) {
        h ^= c;
        h *= 0x100000001b3ULL;
    }
    return h;
}

// The first `count` keys "k<i>" that share a bucket in a table of `buckets`.
std::vector<std::string> same_bucket_keys(uint64_t buckets, int count) {
    std::vector<std::string> keys;
    uint64_t want = fnv("k0") % buckets;
    for (int i = 0; static_cast<int>(keys.size()) < count; i++) {
        std::string k = "k" + std::to_string(i);
        if (fnv(k) % buckets == want) keys.push_back(k);
    }
    return keys;
}

std::vector<std::string> key_texts(QorVec* v) {
    std::vector<std::string> out;
    for (int64_t i = 0; i < v->len; i++) {
        // The keys listing's slots hold string-record pointers.
        const auto* s = reinterpret_cast<const QorString*>(v->items[i]);  // NOLINT
        EXPECT_EQ(s->data[s->len], '\0');
        EXPECT_EQ(s->cap, s->len);
        out.push_back(text_of(s));
    }
    qor_vec_free(v);
    return out;
}

std::vector<int64_t> value_list(QorVec* v) {
    std::vector<int64_t> out(v->items, v->items + v->len);
    qor_vec_free(v);
    return out;
}

struct StrMap : testing::Test {
    QorStrMap* map = qor_strmap_new();
    ~StrMap() override { qor_strmap_free(map); }
    int64_t put(const std::string& k, int64_t v) { return qor_strmap_insert(map, str(k), v); }
    int64_t get(const std::string& k) { return qor_strmap_get(map, str(k)); }
    int64_t has(const std::string& k) { return qor_strmap_contains(map, str(k)); }
    int64_t del(const std::string& k) { return qor_strmap_remove(map, str(k)); }
};

}  // namespace

TEST_F(StrMap, InsertStoresOrReplacesAndRemoveReportsValue) {
    EXPECT_EQ(map->bucket_count, 64);
    EXPECT_EQ(get("a"), -1);
    EXPECT_EQ(has("a"), 0);
    EXPECT_EQ(qor_strmap_size(map), 0);

    EXPECT_EQ(put("a", 1), 1);
    EXPECT_EQ(put("a", 2), 1);
    EXPECT_EQ(qor_strmap_size(map), 1);
    EXPECT_EQ(get("a"), 2);
    EXPECT_EQ(put("", 5), 1);
    EXPECT_EQ(get(""), 5);
    EXPECT_EQ(has("ab"), 0);

    EXPECT_EQ(del("a"), 2);
    EXPECT_EQ(qor_strmap_size(map), 1);
    EXPECT_EQ(del("a"), 0);
    EXPECT_EQ(get("a"), -1);
    put("neg", -1);
    EXPECT_EQ(get("neg"), -1);
    EXPECT_EQ(has("neg"), 1);
}

TEST(StrMapNull, MissingMapOrKeyGivesNeutralResults) {
    QorStrMap* map = qor_strmap_new();
    QorString no_data = {nullptr, 3, 3};
    for (const QorString* key :
         {static_cast<const QorString*>(nullptr), static_cast<const QorString*>(&no_data)}) {
        EXPECT_EQ(qor_strmap_insert(map, key, 1), 0);
        EXPECT_EQ(qor_strmap_get(map, key), -1);
        EXPECT_EQ(qor_strmap_contains(map, key), 0);
        EXPECT_EQ(qor_strmap_remove(map, key), 0);
    }
    EXPECT_EQ(qor_strmap_size(map), 0);
    QorString* k = qor_string_from_cstr("k");
    EXPECT_EQ(qor_strmap_insert(nullptr, k, 1), 0);
    EXPECT_EQ(qor_strmap_get(nullptr, k), -1);
    EXPECT_EQ(qor_strmap_contains(nullptr, k), 0);
    EXPECT_EQ(qor_strmap_remove(nullptr, k), 0);
    EXPECT_EQ(qor_strmap_size(nullptr), 0);
    QorVec* keys = qor_strmap_keys(nullptr);
    EXPECT_EQ(keys->capacity, 8);
    EXPECT_EQ(keys->len, 0);
    qor_vec_free(keys);
    EXPECT_TRUE(value_list(qor_strmap_values(nullptr)).empty());
    qor_strmap_free(nullptr);
    qor_strmap_free(map);
}

// The growth check runs before every insert, even one that only replaces: 48 entries in 64
// buckets stay, the insert that finds 49 doubles, and so does the one finding 97 in 128.
TEST_F(StrMap, GrowsOnTheInsertThatFindsMoreThanThreeQuartersPerBucket) {
    for (int i = 0; i < 49; i++) put("key" + std::to_string(i), i);
    EXPECT_EQ(map->bucket_count, 64);
    EXPECT_EQ(qor_strmap_size(map), 49);
    put("key0", 100);
    EXPECT_EQ(map->bucket_count, 128);
    EXPECT_EQ(qor_strmap_size(map), 49);
    for (int i = 49; i < 97; i++) put("key" + std::to_string(i), i);
    EXPECT_EQ(map->bucket_count, 128);
    put("key97", 97);
    EXPECT_EQ(map->bucket_count, 256);
    EXPECT_EQ(qor_strmap_size(map), 98);
    EXPECT_EQ(get("key0"), 100);
    for (int i = 1; i < 98; i++) EXPECT_EQ(get("key" + std::to_string(i)), i) << i;
}

// Removed entries are gone before growth and stay gone after; the recount matches; their memory
// serves later keys.
TEST_F(StrMap, RemovalsSurviveGrowth) {
    for (int i = 0; i < 60; i++) put("r" + std::to_string(i), i);
    for (int i = 0; i < 60; i += 3) EXPECT_EQ(del("r" + std::to_string(i)), i);
    for (int i = 60; i < 100; i++) put("r" + std::to_string(i), i);
    EXPECT_EQ(map->bucket_count, 128);
    EXPECT_EQ(qor_strmap_size(map), 80);
    for (int i = 0; i < 100; i++) {
        bool removed = i < 60 && i % 3 == 0;
        EXPECT_EQ(has("r" + std::to_string(i)), removed ? 0 : 1) << i;
    }
    EXPECT_EQ(key_texts(qor_strmap_keys(map)).size(), 80u);

    // Removed entries' memory is reused by later keys of the same size and of other sizes,
    // short and long alike, without one entry's bytes reaching another's.
    auto text = [](int i) { return std::string(static_cast<size_t>(i * 37 % 400), 'a' + i % 26); };
    for (int i = 0; i < 200; i++) put(text(i) + std::to_string(i), 1000 + i);
    for (int i = 0; i < 200; i += 2) EXPECT_EQ(del(text(i) + std::to_string(i)), 1000 + i);
    for (int i = 0; i < 200; i += 2) put(text(i + 1) + "x" + std::to_string(i), 2000 + i);
    for (int i = 0; i < 200; i++) {
        EXPECT_EQ(has(text(i) + std::to_string(i)), i % 2) << i;
        if (i % 2 == 0) {
            EXPECT_EQ(get(text(i + 1) + "x" + std::to_string(i)), 2000 + i) << i;
        }
    }
    EXPECT_EQ(qor_strmap_size(map), 280);
}

// A large map's tables and chunks are kept for the next large map once it is freed: the next
// map starts empty all the same, and two live large maps never share memory.
TEST(StrMapLarge, FreedMemoryServesTheNextMapClean) {
    static constexpr int kKeys = 40000;  // buckets reach 65,536 (512 KiB) and node chunks 2 MiB
    auto fill = [](const std::string& prefix) {
        QorStrMap* m = qor_strmap_new();
        for (int i = 0; i < kKeys; i++) qor_strmap_insert(m, str(prefix + std::to_string(i)), i);
        return m;
    };
    auto expect_holds = [](QorStrMap* m, const std::string& prefix, const std::string& other) {
        EXPECT_EQ(qor_strmap_size(m), kKeys);
        for (int i = 0; i < kKeys; i += 7) {
            ASSERT_EQ(qor_strmap_get(m, str(prefix + std::to_string(i))), i) << prefix << i;
            ASSERT_EQ(qor_strmap_contains(m, str(other + std::to_string(i))), 0) << other << i;
        }
        EXPECT_EQ(value_list(qor_strmap_values(m)).size(), static_cast<size_t>(kKeys));
    };
    qor_strmap_free(fill("a"));
    QorStrMap* b = fill("b");
    QorStrMap* c = fill("c");
    expect_holds(b, "b", "a");
    expect_holds(c, "c", "b");
    qor_strmap_free(b);
    qor_strmap_free(c);

    // A large map still reachable at exit, whose long keys' nodes only its mapped bucket array
    // points to: a leak checker (the sanitizer build checks at exit) must not report them.
    static QorStrMap* kept = qor_strmap_new();
    std::string long_key(300, 'k');
    for (int i = 0; i < 20000; i++) qor_strmap_insert(kept, str(std::to_string(i) + long_key), i);
    EXPECT_EQ(qor_strmap_size(kept), 20000);
}

// Within a bucket the newest entry comes first; growth walks each old chain from its head and
// pushes every node onto its new head, which reverses keys that stay together.
TEST_F(StrMap, ListingsFollowBucketThenChainOrder) {
    std::vector<std::string> k = same_bucket_keys(128, 2);
    put(k[0], 1);
    put(k[1], 2);
    EXPECT_EQ(key_texts(qor_strmap_keys(map)), (std::vector<std::string>{k[1], k[0]}));
    EXPECT_EQ(value_list(qor_strmap_values(map)), (std::vector<int64_t>{2, 1}));

    for (int i = 0; static_cast<int>(qor_strmap_size(map)) < 50; i++)
        put("z" + std::to_string(i), 0);
    ASSERT_EQ(map->bucket_count, 128);
    std::vector<std::string> keys = key_texts(qor_strmap_keys(map));
    std::vector<int64_t> values = value_list(qor_strmap_values(map));
    ASSERT_EQ(keys.size(), 50u);
    ASSERT_EQ(values.size(), 50u);
    size_t first = 0, second = 0;
    for (size_t i = 0; i < keys.size(); i++) {
        EXPECT_EQ(values[i], get(keys[i]));
        if (i > 0) {
            EXPECT_LE(fnv(keys[i - 1]) % 128, fnv(keys[i]) % 128);
        }
        if (keys[i] == k[0]) first = i;
        if (keys[i] == k[1]) second = i;
    }
    EXPECT_LT(first, second);
}

// The map's key copies are its own heap blocks; the listed keys are new arena strings, so
// neither the caller's key nor the listing shares bytes with the map.
TEST_F(StrMap, KeepsItsOwnCopyOfEachKey) {
    QorString* k = qor_string_from_cstr("abc");
    qor_strmap_insert(map, k, 7);
    k->data[0] = 'x';
    EXPECT_EQ(get("abc"), 7);
    EXPECT_EQ(get("xbc"), -1);

    const QorArenaBlock* block = g_arena_current;
    auto in_arena = [block](const void* p) {
        const char* c = static_cast<const char*>(p);
        return c >= block->data && c < block->data + block->used;
    };
    QorVec* listed = qor_strmap_keys(map);
    ASSERT_EQ(listed->len, 1);
    auto* s = reinterpret_cast<QorString*>(listed->items[0]);  // NOLINT
    EXPECT_TRUE(in_arena(s));
    EXPECT_TRUE(in_arena(s->data));
    const QorStrMapNode* node = map->buckets[fnv("abc") % 64];
    ASSERT_NE(node, nullptr);
    EXPECT_FALSE(in_arena(node->key));
    s->data[1] = 'y';
    EXPECT_EQ(get("abc"), 7);
    EXPECT_EQ(key_texts(listed), std::vector<std::string>{"ayc"});
    EXPECT_EQ(key_texts(qor_strmap_keys(map)), std::vector<std::string>{"abc"});
}

// Keys are their full byte strings: a NUL does not cut them short anywhere.
TEST_F(StrMap, KeysWithNulBytesAreDistinctAndFound) {
    const std::string a("a", 1), anb("a\0b", 3), anc("a\0c", 3), nul("\0", 1);
    put(a, 1);
    put(anb, 2);
    put(anc, 3);
    put(nul, 4);
    EXPECT_EQ(put(anb, 22), 1);
    EXPECT_EQ(qor_strmap_size(map), 4);
    EXPECT_EQ(get(a), 1);
    EXPECT_EQ(get(anb), 22);
    EXPECT_EQ(get(anc), 3);
    EXPECT_EQ(get(nul), 4);
    EXPECT_EQ(get(""), -1);
    EXPECT_EQ(del(anc), 3);
    EXPECT_EQ(get(anb), 22);
    EXPECT_EQ(get(a), 1);

    for (int i = 0; i < 60; i++) put("g" + std::to_string(i), i);
    EXPECT_EQ(map->bucket_count, 128);
    EXPECT_EQ(get(anb), 22);
    EXPECT_EQ(get(nul), 4);
    EXPECT_EQ(has(anc), 0);
    std::vector<std::string> keys = key_texts(qor_strmap_keys(map));
    EXPECT_EQ(std::count(keys.begin(), keys.end(), anb), 1);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), nul), 1);
    EXPECT_EQ(std::count(keys.begin(), keys.end(), a), 1);
}

TEST(StrMapPlain, PlainNamesShareTheBehaviour) {
    QorStrMap* map = strmap_new();
    QorString* k = qor_string_from_cstr("p");
    EXPECT_EQ(strmap_insert(map, k, 3), 1);
    EXPECT_EQ(strmap_get(map, k), 3);
    EXPECT_EQ(strmap_contains(map, k), 1);
    EXPECT_EQ(strmap_size(map), 1);
    EXPECT_EQ(key_texts(strmap_keys(map)), std::vector<std::string>{"p"});
    EXPECT_EQ(value_list(strmap_values(map)), std::vector<int64_t>{3});
    EXPECT_EQ(strmap_remove(map, k), 3);
    strmap_free(map);
}
