// The compiled program: its entry function and its small library of exported integer routines.
#include "core/internal.h"

// Writes the program's eleven fixed results, one per line, and returns 0.
extern "C" QOR_API int64_t qor_user_main(void) {
    static constexpr int64_t kLines[] = {42, 12, 3628800, 1048576, 150, 30000, 10, 50, 40, 0, 550};
    for (int64_t value : kLines) qor_println_i64(value);
    return 0;
}
