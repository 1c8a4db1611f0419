/* Sums the integers on standard input, one per line, written as compiled qor code is: each
 * line comes from qor_read_line and is read by qor_parse_int until the end-of-input text.
 * Prints the sum (wrapping at 64 bits) and the number of lines.
 *
 *     line_sum [--rewind] < FILE
 *
 * Every line read stays in the arena until the program ends, unless --rewind is given: the
 * arena is then rewound to a save point after each line, as a program does that keeps none of
 * its lines, so the same few bytes of the arena serve every line.
 */
#include <stdbool.h>

#include "qor_runtime.h"

int main(int argc, char** argv) {
    qor_init_runtime(argc, argv);
    QorString* end_of_input = qor_string_from_cstr("__EOF__");
    bool rewind =
        qor_arg_count() == 2 && qor_string_eq(qor_get_arg(1), qor_string_from_cstr("--rewind"));
    qor_arena_save();
    uint64_t sum = 0;
    int64_t lines = 0;
    for (;;) {
        QorString* line = qor_read_line();
        if (qor_string_eq(line, end_of_input)) break;
        sum += (uint64_t)qor_parse_int(line);
        lines++;
        if (rewind) qor_arena_restore();
    }
    qor_println_i64((int64_t)sum);
    qor_println_i64(lines);
    qor_arena_destroy();
    return 0;
}
