#pragma once
// Where the process looks for the DLLs that it, or a system DLL on its behalf, loads by name
// after start.

namespace platform {

// Windows: from here on a DLL loaded by name comes from the system folder only, never from
// the program's folder, the current folder or PATH (SetDefaultDllDirectories); the DLLs off
// the KnownDLLs list that system DLLs import by name are loaded from there at once. Call it
// first in the entry point. The DLLs that the program imports are bound before that and must all
// be on Windows' KnownDLLs list, which the loader takes from the system folder anyway.
// Elsewhere it does nothing.
void restrict_dll_search_to_system();

} // namespace platform
