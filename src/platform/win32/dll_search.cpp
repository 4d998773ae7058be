#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/dll_search.h"

#include "platform/win32/system_library.h"

#include <windows.h>

namespace platform {

namespace {

// DLLs off the KnownDLLs list that system DLLs load by name on first use: WinHTTP and what
// it pulls in for certificates, proxy scripts, name look-ups and TLS (the crypto provider
// included). Each name was seen loaded during login, upload and clipboard copy.
constexpr const wchar_t* first_use_dlls[] = {
    L"bcrypt.dll",  L"crypt32.dll",  L"jsproxy.dll", L"secur32.dll",  L"schannel.dll",
    L"kerberos.dll", L"msv1_0.dll", L"dnsapi.dll",  L"iphlpapi.dll", L"netapi32.dll",
    L"rsaenh.dll",
};

} // namespace

void restrict_dll_search_to_system()
{
    // Cannot fail on the systems the program runs on (it needs Windows 10); the DLLs of its
    // own are loaded with LOAD_LIBRARY_SEARCH_SYSTEM32 regardless.
    (void)SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // A system DLL's load by name of one of these finds it loaded already, also under a
    // loader that leaves the default directories out of a dependency's search and would
    // look beside the program (wine does). A DLL missing here is loaded, if ever, by the
    // restricted search above.
    for (const wchar_t* name : first_use_dlls)
        (void)win32::load_system_library(name);
}

} // namespace platform
