#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/dll_search.h"

namespace platform {

// Shared objects come from the system's loader paths; there is no folder of the program's
// own nor a current folder in that search.
void restrict_dll_search_to_system() {}

} // namespace platform
