#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/file.h"

#include "platform/fs.h"
#include "platform/os_error.h"
#include "platform/win32/os_path.h"

#include <windows.h>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// ReadFile and WriteFile take a DWORD count; one call moves at most this much.
constexpr std::size_t max_io = std::size_t{1} << 30;

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

core::Result<std::intptr_t> open_handle(const std::filesystem::path& path, DWORD access, DWORD share,
                                        DWORD disposition)
{
    VANO_TRY(check_no_nul(path));
    const HANDLE h = ::CreateFileW(win32::os_path(path).c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return core::fail(last_os_error_text());
    return reinterpret_cast<std::intptr_t>(h);
}

core::Result<std::uint64_t> move_pointer(std::intptr_t h, LONGLONG distance, DWORD method)
{
    LARGE_INTEGER to{};
    to.QuadPart = distance;
    LARGE_INTEGER at{};
    if (!::SetFilePointerEx(as_handle(h), to, &at, method))
        return core::fail(last_os_error_text());
    return static_cast<std::uint64_t>(at.QuadPart);
}

} // namespace

core::Result<File> File::open_read(const std::filesystem::path& path)
{
    return File(VANO_TRY(open_handle(path, GENERIC_READ, share_all, OPEN_EXISTING)));
}

core::Result<File> File::create_write(const std::filesystem::path& path, WriteSharing sharing)
{
    const DWORD share = sharing == WriteSharing::everyone ? share_all : FILE_SHARE_READ;
    return File(VANO_TRY(open_handle(path, GENERIC_WRITE, share, CREATE_ALWAYS)));
}

core::Result<std::size_t> File::read(char* buffer, std::size_t size)
{
    DWORD got = 0;
    if (!::ReadFile(as_handle(m_handle), buffer, static_cast<DWORD>(std::min(size, max_io)), &got, nullptr))
        return core::fail(last_os_error_text());
    return static_cast<std::size_t>(got);
}

core::Result<std::size_t> File::write(const char* data, std::size_t size)
{
    DWORD put = 0;
    if (!::WriteFile(as_handle(m_handle), data, static_cast<DWORD>(std::min(size, max_io)), &put, nullptr))
        return core::fail(last_os_error_text());
    return static_cast<std::size_t>(put);
}

core::Result<std::uint64_t> File::seek(std::uint64_t offset)
{
    if (offset > static_cast<std::uint64_t>(INT64_MAX))
        return core::fail(os_error_text(ERROR_NEGATIVE_SEEK));
    return move_pointer(m_handle, static_cast<LONGLONG>(offset), FILE_BEGIN);
}

core::Result<std::uint64_t> File::position() { return move_pointer(m_handle, 0, FILE_CURRENT); }

core::Result<std::uint64_t> File::size() const
{
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(as_handle(m_handle), &size))
        return core::fail(last_os_error_text());
    return static_cast<std::uint64_t>(size.QuadPart);
}

core::Result<void> File::sync()
{
    if (!::FlushFileBuffers(as_handle(m_handle)))
        return core::fail(last_os_error_text());
    return core::ok();
}

core::Result<void> File::close()
{
    const std::intptr_t h = std::exchange(m_handle, invalid_handle);
    if (h != invalid_handle && !::CloseHandle(as_handle(h)))
        return core::fail(last_os_error_text());
    return core::ok();
}

} // namespace platform
