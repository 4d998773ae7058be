#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/win32/os_path.h"

#include "platform/extended_path.h"

#include <windows.h>

namespace platform::win32 {

namespace {

std::wstring current_dir()
{
    std::wstring dir(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(dir.size()), dir.data());
        // Without a current folder a relative path stays relative and fails as before.
        if (n == 0)
            return {};
        if (n < dir.size()) {
            dir.resize(n);
            return dir;
        }
        dir.resize(n);
    }
}

bool needs_current_dir(const std::wstring& p)
{
    const bool unc_or_device = p.size() >= 2 && (p[0] == L'\\' || p[0] == L'/') && (p[1] == L'\\' || p[1] == L'/');
    const bool drive_rooted = p.size() >= 3 && p[1] == L':' && (p[2] == L'\\' || p[2] == L'/');
    return !p.empty() && !unc_or_device && !drive_rooted;
}

} // namespace

std::wstring os_path(const std::filesystem::path& path)
{
    const std::wstring& p = path.native();
    if (!needs_current_dir(p))
        return extended_length_path(p, {});
    const std::wstring cwd = current_dir();
    if (cwd.empty())
        return p;
    return extended_length_path(p, cwd);
}

} // namespace platform::win32
