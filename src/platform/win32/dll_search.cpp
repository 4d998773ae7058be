#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/dll_search.h"

#include "platform/win32/system_library.h"

#include <windows.h>

namespace platform {

void restrict_dll_search_to_system()
{
    // Cannot fail on the systems the program runs on (it needs Windows 10); the DLLs of its
    // own are loaded with LOAD_LIBRARY_SEARCH_SYSTEM32 regardless.
    (void)SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // bcrypt.dll, off the KnownDLLs list, is imported by name by system DLLs that load later
    // (crypt32 under WinHTTP). Loaded from the system folder now, such an import finds it
    // loaded already, also under a loader that leaves the default directories out of a
    // dependency's search and would look beside the program (wine does). A failure shows
    // again where the program itself loads it.
    (void)win32::load_system_library(L"bcrypt.dll");
}

} // namespace platform
