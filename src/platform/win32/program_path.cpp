#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/win32/program_path.h"

#include "platform/os_error.h"
#include "platform/win32/wide.h"

#include <filesystem>

#include <windows.h>

namespace platform::win32 {

namespace {

struct SystemProgram {
    std::string_view name;
    std::wstring_view file; // below the system folder
};

constexpr SystemProgram system_programs[] = {
    {"reg", L"reg.exe"},
    {"cmd", L"cmd.exe"},
    {"powershell", L"WindowsPowerShell\\v1.0\\powershell.exe"},
};

core::Result<std::wstring> system_folder()
{
    const UINT size = GetSystemDirectoryW(nullptr, 0);
    if (size == 0)
        return core::fail(last_os_error_text());
    std::wstring folder(size, L'\0');
    const UINT length = GetSystemDirectoryW(folder.data(), size);
    if (length == 0 || length >= size)
        return core::fail(last_os_error_text());
    folder.resize(length);
    return folder;
}

} // namespace

core::Result<std::wstring> program_path(std::string_view program)
{
    std::wstring wide = widen(program);
    // A root name and a root folder: "C:\", "\\server\share\", "\\?\"; not "C:x" nor "\x",
    // which depend on the current drive's folder. The runtime's path class does not count a
    // share path as absolute.
    const bool share = wide.size() > 2 && wide[0] == L'\\' && wide[1] == L'\\';
    if (share || std::filesystem::path(wide).is_absolute())
        return wide;
    for (const auto& known : system_programs) {
        if (program != known.name)
            continue;
        std::wstring path = VANO_TRY(system_folder());
        if (!path.ends_with(L'\\'))
            path += L'\\';
        path += known.file;
        return path;
    }
    return core::fail(os_error_text(ERROR_FILE_NOT_FOUND));
}

} // namespace platform::win32
