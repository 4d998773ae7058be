#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/file_claim.h"

#include "platform/fs.h"
#include "platform/os_error.h"
#include "platform/win32/os_path.h"

#include <windows.h>

namespace platform {

namespace {

// 100 ns ticks between 1601-01-01 (FILETIME's origin) and 1970-01-01.
constexpr std::int64_t filetime_unix_offset = 116'444'736'000'000'000;

} // namespace

core::Result<void> create_new_file(const std::filesystem::path& path, std::string_view bytes)
{
    VANO_TRY(check_no_nul(path));
    HANDLE h = CreateFileW(win32::os_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return core::fail(last_os_error_text());
    std::size_t done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(bytes.size() - done);
        if (!WriteFile(h, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            break;
        done += written;
    }
    CloseHandle(h);
    return core::ok();
}

core::Result<std::int64_t> file_modified_ns(const std::filesystem::path& path)
{
    VANO_TRY(check_no_nul(path));
    // Opening the file (not reading the directory entry) follows links.
    HANDLE h = CreateFileW(win32::os_path(path).c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return core::fail(last_os_error_text());
    FILETIME written{};
    if (!GetFileTime(h, nullptr, nullptr, &written)) {
        auto error = last_os_error_text();
        CloseHandle(h);
        return core::fail(std::move(error));
    }
    CloseHandle(h);
    const auto ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(written.dwHighDateTime) << 32) |
                                                 written.dwLowDateTime);
    return (ticks - filetime_unix_offset) * 100;
}

} // namespace platform
