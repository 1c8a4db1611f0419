// The library's own version text: what a host was given at run time, which may differ from
// the QOR_RUNTIME_VERSION of the header it was compiled against.
#include "qor_runtime.h"

extern "C" QOR_API const char* qor_runtime_version(void) { return QOR_RUNTIME_VERSION; }
