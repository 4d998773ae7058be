#pragma once
// DLLs that are not on Windows' KnownDLLs list, loaded at run time from the system folder
// only. Imported statically, such a DLL is looked for in the program's own folder first,
// before the program's own code runs: a copy planted beside a downloaded program would run
// as the user. Header of the win32 implementation folder only.

#include "core/result.h"
#include "platform/os_error.h"

#include <windows.h>

namespace platform::win32 {

// Loads `name` (such as L"winhttp.dll") from the system folder, never from the program's
// folder, the current folder or PATH. The module stays loaded for the life of the process.
// Fails with the OS error text.
[[nodiscard]] inline core::Result<HMODULE> load_system_library(const wchar_t* name)
{
    HMODULE module = LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr)
        return core::fail(last_os_error_text());
    return module;
}

// Sets `slot` to the function `name` of `module`, typed as the slot is (declare the slot
// with decltype(&::FunctionName), which does not import the function). Fails with the OS
// error text.
template <class F>
[[nodiscard]] core::Result<void> bind_function(F& slot, HMODULE module, const char* name)
{
    const FARPROC found = GetProcAddress(module, name);
    if (found == nullptr)
        return core::fail(last_os_error_text());
    // Through the generic function pointer type, which GCC accepts without a cast warning.
    slot = reinterpret_cast<F>(reinterpret_cast<void (*)()>(found));
    return core::ok();
}

} // namespace platform::win32
