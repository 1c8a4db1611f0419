/* Word frequencies counted on the thread pool, written as compiled qor code is: nothing but
 * runtime calls. The file is cut into chunks at line ends; every worker claims chunks one at a
 * time, splits them into lines and the lines into space-separated words with the vector
 * split in its own arena, and counts into a string map of its own, which copies each new word;
 * the arena is rewound after every chunk, so the memory in use stays near the map's size. The
 * workers' maps are then merged and printed as "count word" lines in byte order, so the output
 * is the same for any number of workers.
 *
 *     parallel_count FILE WORKERS
 */
#define QOR_PLAIN_NAMES
#include "qor_runtime.h"

/* Enough chunks that a worker finishing early finds more work. */
#define CHUNKS 64

static QorString* g_text;
static QorVec* g_bounds; /* CHUNKS + 1 offsets into g_text, each just after a line end */
static QorMutex* g_next; /* holds the index of the next chunk to claim */
static QorMutex* g_maps; /* holds a QorVec* of the finished workers' maps */

static int64_t claim_chunk(void) {
    int64_t chunk = qor_mutex_lock(g_next);
    qor_mutex_unlock(g_next, chunk + 1);
    return chunk;
}

/* The chunk's lines and words are scratch: the worker's map keeps its own copy of each new
 * word, so the arena is rewound after every chunk and the same memory serves the next one. */
static void count_chunk(QorStrMap* counts, int64_t chunk, const QorString* newline,
                        const QorString* space) {
    qor_arena_save();
    QorString* part =
        qor_string_slice(g_text, qor_vec_get(g_bounds, chunk), qor_vec_get(g_bounds, chunk + 1));
    QorVec* lines = qor_string_split(part, newline);
    for (int64_t i = 0; i < qor_vec_len(lines); i++) {
        QorVec* words = qor_string_split((QorString*)qor_vec_get(lines, i), space);
        for (int64_t j = 0; j < qor_vec_len(words); j++) {
            QorString* word = (QorString*)qor_vec_get(words, j);
            if (qor_string_len(word) == 0) continue;
            int64_t seen = qor_strmap_get(counts, word);
            qor_strmap_insert(counts, word, seen < 0 ? 1 : seen + 1);
        }
        qor_vec_free(words);
    }
    qor_vec_free(lines);
    qor_arena_restore();
}

/* One per worker: counts claimed chunks until none is left, then hands its map over. */
static void count_words(void) {
    QorStrMap* counts = qor_strmap_new();
    QorString* newline = qor_string_from_cstr("\n");
    QorString* space = qor_string_from_cstr(" ");
    for (int64_t chunk = claim_chunk(); chunk < CHUNKS; chunk = claim_chunk()) {
        count_chunk(counts, chunk, newline, space);
    }
    QorVec* maps = (QorVec*)qor_mutex_lock(g_maps);
    maps = qor_vec_push(maps, (int64_t)counts);
    qor_mutex_unlock(g_maps, (int64_t)maps);
}

/* Chunk starts near equal shares of the text, each moved forward to just after a line end. */
static QorVec* chunk_bounds(const QorString* text) {
    int64_t len = qor_string_len(text);
    QorVec* bounds = qor_vec_push(qor_vec_new(), 0);
    int64_t at = 0;
    for (int64_t k = 1; k < CHUNKS; k++) {
        if (at < len * k / CHUNKS) at = len * k / CHUNKS;
        while (at < len && qor_string_char_at(text, at - 1) != '\n') at++;
        bounds = qor_vec_push(bounds, at);
    }
    return qor_vec_push(bounds, len);
}

/* Adds every count of a worker's map into the total: the key and value listings share the
 * bucket order, and the listed keys are new strings that outlive the worker's map. */
static void merge_into(QorStrHashMap* into, QorStrMap* from) {
    QorVec* words = qor_strmap_keys(from);
    QorVec* counts = qor_strmap_values(from);
    for (int64_t i = 0; i < qor_vec_len(words); i++) {
        qor_str_hashmap_inc(into, (QorString*)qor_vec_get(words, i), qor_vec_get(counts, i));
    }
    qor_vec_free(words);
    qor_vec_free(counts);
    qor_strmap_free(from);
}

int main(int argc, char** argv) {
    qor_init_runtime(argc, argv);
    int64_t workers = qor_arg_count() == 3 ? qor_parse_int(qor_get_arg(2)) : 0;
    if (workers < 1) {
        eprintln_str(qor_string_from_cstr("usage: parallel_count FILE WORKERS"));
        return 2;
    }
    g_text = qor_read_file(qor_get_arg(1));
    g_bounds = chunk_bounds(g_text);
    g_next = qor_mutex_new(0);
    g_maps = qor_mutex_new((int64_t)qor_vec_new());

    QorThreadPool* pool = qor_thread_pool_new(workers);
    for (int64_t w = 0; w < workers; w++) qor_thread_pool_execute(pool, count_words);
    qor_thread_pool_join(pool);

    QorVec* maps = (QorVec*)qor_mutex_lock(g_maps);
    QorStrHashMap* total = qor_str_hashmap_new();
    for (int64_t m = 0; m < qor_vec_len(maps); m++) {
        merge_into(total, (QorStrMap*)qor_vec_get(maps, m));
    }
    int64_t keys = qor_str_hashmap_sorted_keys(total);
    for (int64_t i = 0; i < qor_svec_len(keys); i++) {
        QorString* word = qor_svec_get(keys, i);
        qor_print_i64(qor_str_hashmap_get(total, word));
        print_char(' ');
        qor_println_str(word);
    }
    qor_str_hashmap_free(total);
    qor_vec_free(maps);
    qor_arena_destroy();
    return 0;
}
