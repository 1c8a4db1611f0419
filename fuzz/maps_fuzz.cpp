// Drives the integer map, the string-keyed map and the string map with the same stream of
// inserts, removes, counts and lookups over a small key space (so keys collide, are removed and
// come back, and deleted slots pile up and get reclaimed), and checks every answer, every count
// and the listings against std::unordered_map.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <unordered_map>
#include <vector>

#include "fuzz_support.h"
#include "qor_runtime.h"

namespace {

void require(bool ok) { fuzz::check(ok, "a map answer differs from std::unordered_map"); }

constexpr int kStringKeys = 4096;

// The key texts of the string maps: enough for the string-keyed map to grow past 4096 slots or
// to fill them with deleted slots, some sharing prefixes and lengths, some holding a NUL byte,
// one empty. Made on the heap before the arena is switched on, they stay alive for the whole
// run, as the string-keyed map borrows them.
const std::vector<QorString*>& key_records() {
    // Never destroyed, so the records stay reachable to the end of the process.
    static const auto* keys = new std::vector<QorString*>([] {
        std::vector<QorString*> out;
        for (int i = 0; i < kStringKeys; i++) {
            std::string text = i == 0 ? "" : "key" + std::to_string(i * 37 % 10000);
            if (i % 7 == 3) text += std::string("\0tail", 5);
            out.push_back(qor_string_new(text.data(), static_cast<int64_t>(text.size())));
        }
        return out;
    }());
    return *keys;
}

// A fresh record with the same bytes, so lookups match by bytes, not by pointer.
QorString* copy_of(const QorString* s) {
    return fuzz::make(std::string_view(s->data, static_cast<size_t>(s->len)));
}

std::string text_of(const QorString* s) {
    return std::string(s->data, static_cast<size_t>(s->len));
}

void check_int_map(const QorIntMap* m, const std::unordered_map<int64_t, int64_t>& model) {
    require(hashmap_len(m) == static_cast<int64_t>(model.size()));
    QorVec* keys = hashmap_keys(m);
    QorVec* values = hashmap_values(m);
    require(keys->len == static_cast<int64_t>(model.size()) && values->len == keys->len);
    for (int64_t i = 0; i < keys->len; i++) {
        auto it = model.find(keys->items[i]);
        require(it != model.end() && it->second == values->items[i]);
    }
    qor_vec_free(keys);
    qor_vec_free(values);
}

void check_str_hash_map(const QorStrHashMap* m,
                        const std::unordered_map<std::string, int64_t>& model) {
    require(qor_str_hashmap_len(m) == static_cast<int64_t>(model.size()));
    QorVec* values = qor_str_hashmap_values(m);
    int64_t sorted = qor_str_hashmap_sorted_keys(m);
    int64_t listed = qor_str_hashmap_keys(m);
    require(values->len == static_cast<int64_t>(model.size()));
    require(qor_svec_len(sorted) == values->len && qor_svec_len(listed) == values->len);
    for (int64_t i = 0; i < values->len; i++) {
        auto it = model.find(text_of(qor_svec_get(listed, i)));
        require(it != model.end() && it->second == values->items[i]);
        std::string next = text_of(qor_svec_get(sorted, i));
        require(model.count(next) == 1);
        if (i > 0) require(text_of(qor_svec_get(sorted, i - 1)) < next);
    }
    qor_vec_free(values);
    qor_svec_free(sorted);
    qor_svec_free(listed);
}

void check_strmap(const QorStrMap* m, const std::unordered_map<std::string, int64_t>& model) {
    require(qor_strmap_size(m) == static_cast<int64_t>(model.size()));
    QorVec* keys = qor_strmap_keys(m);
    QorVec* values = qor_strmap_values(m);
    require(keys->len == static_cast<int64_t>(model.size()) && values->len == keys->len);
    for (int64_t i = 0; i < keys->len; i++) {
        auto it = model.find(text_of(reinterpret_cast<QorString*>(keys->items[i])));
        require(it != model.end() && it->second == values->items[i]);
    }
    qor_vec_free(keys);
    qor_vec_free(values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<QorString*>& keys = key_records();
    qor_arena_mode(1);
    qor_arena_save();
    // The integer map's fixed table is costly to make and list, so only inputs whose first byte
    // is odd drive it; the others run the string maps alone, many times faster.
    QorIntMap* im = size > 0 && (data[0] & 1) != 0 ? hashmap_new() : nullptr;
    QorStrHashMap* sm = qor_str_hashmap_new();
    QorStrMap* cm = qor_strmap_new();
    std::unordered_map<int64_t, int64_t> im_model;
    std::unordered_map<std::string, int64_t> sm_model;
    std::unordered_map<std::string, int64_t> cm_model;
    fuzz::Input in{data, size};
    // Each op byte repeats its operation a few times over consecutive keys, so short inputs
    // still reach the churn that fills a table with deleted slots.
    while (in.n > 0) {
        auto op = in.take<uint8_t>();
        auto k = in.take<uint8_t>();
        int64_t value = in.take<int8_t>();
        int repeat = 1 + (op >> 4) * 8;
        for (int r = 0; r < repeat; r++) {
            // Integer keys collide on home slots: multiples of 131072 share one.
            uint8_t kk = static_cast<uint8_t>(k + r);
            int64_t ikey = static_cast<int64_t>(kk % 32) * 131072 + kk / 32 + r * 1024;
            QorString* key = keys[static_cast<size_t>(k * 17 + r) % kStringKeys];
            std::string text = text_of(key);
            switch (op % 8) {
                case 0:
                case 1: {
                    if (im != nullptr) {
                        auto it = im_model.find(ikey);
                        require(hashmap_insert(im, ikey, value) ==
                                (it == im_model.end() ? 0 : it->second));
                        im_model[ikey] = value;
                    }
                    auto st = sm_model.find(text);
                    require(qor_str_hashmap_insert(sm, key, value) ==
                            (st == sm_model.end() ? 0 : st->second));
                    sm_model[text] = value;
                    require(qor_strmap_insert(cm, copy_of(key), value) == 1);
                    cm_model[text] = value;
                    break;
                }
                case 2:
                case 3: {
                    if (im != nullptr) {
                        auto it = im_model.find(ikey);
                        require(hashmap_remove(im, ikey) ==
                                (it == im_model.end() ? INT64_MIN : it->second));
                        if (it != im_model.end()) im_model.erase(it);
                    }
                    auto st = sm_model.find(text);
                    require(qor_str_hashmap_remove(sm, copy_of(key)) ==
                            (st == sm_model.end() ? 0 : st->second));
                    if (st != sm_model.end()) sm_model.erase(st);
                    auto ct = cm_model.find(text);
                    require(qor_strmap_remove(cm, key) == (ct == cm_model.end() ? 0 : ct->second));
                    if (ct != cm_model.end()) cm_model.erase(ct);
                    break;
                }
                case 4:
                    // A new entry borrows the copy, which lives in the arena until the end.
                    qor_str_hashmap_inc(sm, copy_of(key), value);
                    sm_model[text] = static_cast<int64_t>(static_cast<uint64_t>(sm_model[text]) +
                                                          static_cast<uint64_t>(value));
                    break;
                default: {
                    if (im != nullptr) {
                        auto it = im_model.find(ikey);
                        require(hashmap_get(im, ikey) ==
                                (it == im_model.end() ? INT64_MIN : it->second));
                        require(hashmap_contains(im, ikey) == (it != im_model.end()));
                    }
                    auto st = sm_model.find(text);
                    require(qor_str_hashmap_get(sm, copy_of(key)) ==
                            (st == sm_model.end() ? 0 : st->second));
                    require(qor_str_hashmap_contains(sm, key) == (st != sm_model.end()));
                    auto ct = cm_model.find(text);
                    require(qor_strmap_get(cm, key) == (ct == cm_model.end() ? -1 : ct->second));
                    require(qor_strmap_contains(cm, key) == (ct != cm_model.end()));
                    break;
                }
            }
        }
    }
    if (im != nullptr) {
        require(im->capacity == 131072);
        check_int_map(im, im_model);
    }
    check_str_hash_map(sm, sm_model);
    check_strmap(cm, cm_model);
    hashmap_free(im);
    qor_str_hashmap_free(sm);
    qor_strmap_free(cm);
    qor_arena_restore();
    return 0;
}
