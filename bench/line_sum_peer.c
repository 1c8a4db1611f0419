/* The line summer's peer: examples/line_sum.c in plain C, fgets into a stack buffer and
 * strtoll. Prints the sum (wrapping at 64 bits) and the number of lines. */
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

int main(void) {
    char line[4096];
    uint64_t sum = 0;
    int64_t lines = 0;
    while (fgets(line, sizeof line, stdin) != NULL) {
        sum += (uint64_t)strtoll(line, NULL, 10);
        lines++;
    }
    printf("%ld\n%ld\n", (long)(int64_t)sum, (long)lines);
    return 0;
}
