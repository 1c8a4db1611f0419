/* Word frequencies of a text file, written as compiled qor code is: nothing but runtime calls.
 * Splits the file on whitespace, counts each word in the string-keyed hash map and prints one
 * "count word" line per distinct word, words in byte order.
 *
 *     word_count FILE
 */
#define QOR_PLAIN_NAMES
#include "qor_runtime.h"

int main(int argc, char** argv) {
    qor_init_runtime(argc, argv);
    if (qor_arg_count() != 2) {
        eprintln_str(qor_string_from_cstr("usage: word_count FILE"));
        return 2;
    }
    QorString* text = qor_read_file(qor_get_arg(1));
    int64_t words = qor_str_split_whitespace(text);
    QorStrHashMap* counts = qor_str_hashmap_new();
    int64_t n = qor_svec_len(words);
    for (int64_t i = 0; i < n; i++) qor_str_hashmap_inc(counts, qor_svec_get(words, i), 1);

    int64_t keys = qor_str_hashmap_sorted_keys(counts);
    int64_t distinct = qor_svec_len(keys);
    for (int64_t i = 0; i < distinct; i++) {
        QorString* word = qor_svec_get(keys, i);
        qor_print_i64(qor_str_hashmap_get(counts, word));
        print_char(' ');
        qor_println_str(word);
    }
    qor_str_hashmap_free(counts);
    qor_arena_destroy();
    return 0;
}
