// What start-up needs from the console. Nothing here is exported.
#ifndef QOR_SYSTEM_CONSOLE_H
#define QOR_SYSTEM_CONSOLE_H

#include "core/internal.h"

namespace qor {

// Makes the process's exit write what standard output still holds with the runtime's
// signal-retrying loop before stdio's own exit flush, which drops the rest of its buffer when a
// signal interrupts it. Registers the exit handler once, however often it is called.
QOR_INTERNAL void flush_console_at_exit();

}  // namespace qor

#endif  // QOR_SYSTEM_CONSOLE_H
