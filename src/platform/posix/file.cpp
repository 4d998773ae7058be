#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/file.h"

#include "platform/fs.h"
#include "platform/os_error.h"
#include "platform/posix/private_mode.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <utility>

namespace platform {

namespace {

core::Result<std::intptr_t> open_fd(const std::filesystem::path& path, int flags)
{
    VANO_TRY(check_no_nul(path));
    // What this program writes (the archive of the user's files) is the user's alone.
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, posix::private_file_mode);
    if (fd < 0)
        return core::fail(last_os_error_text());
    // A file that existed keeps its mode through O_TRUNC; its new content is as private.
    if (flags & O_CREAT)
        (void)::fchmod(fd, posix::private_file_mode);
    return fd;
}

// One call moves at most this much, well inside ssize_t.
constexpr std::size_t max_io = std::size_t{1} << 30;

} // namespace

core::Result<File> File::open_read(const std::filesystem::path& path)
{
    return File(VANO_TRY(open_fd(path, O_RDONLY)));
}

core::Result<File> File::create_write(const std::filesystem::path& path, WriteSharing)
{
    return File(VANO_TRY(open_fd(path, O_WRONLY | O_CREAT | O_TRUNC)));
}

core::Result<std::size_t> File::read(char* buffer, std::size_t size)
{
    const ssize_t n = ::read(static_cast<int>(m_handle), buffer, std::min(size, max_io));
    if (n < 0)
        return core::fail(last_os_error_text());
    return static_cast<std::size_t>(n);
}

core::Result<std::size_t> File::write(const char* data, std::size_t size)
{
    for (;;) {
        const ssize_t n = ::write(static_cast<int>(m_handle), data, std::min(size, max_io));
        if (n >= 0)
            return static_cast<std::size_t>(n);
        if (errno != EINTR)
            return core::fail(last_os_error_text());
    }
}

core::Result<std::uint64_t> File::seek(std::uint64_t offset)
{
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()))
        return core::fail(os_error_text(EINVAL));
    const off_t at = ::lseek(static_cast<int>(m_handle), static_cast<off_t>(offset), SEEK_SET);
    if (at < 0)
        return core::fail(last_os_error_text());
    return static_cast<std::uint64_t>(at);
}

core::Result<std::uint64_t> File::position()
{
    const off_t at = ::lseek(static_cast<int>(m_handle), 0, SEEK_CUR);
    if (at < 0)
        return core::fail(last_os_error_text());
    return static_cast<std::uint64_t>(at);
}

core::Result<std::uint64_t> File::size() const
{
    struct stat st {};
    if (::fstat(static_cast<int>(m_handle), &st) != 0)
        return core::fail(last_os_error_text());
    return static_cast<std::uint64_t>(st.st_size);
}

core::Result<void> File::sync()
{
    if (::fsync(static_cast<int>(m_handle)) != 0)
        return core::fail(last_os_error_text());
    return core::ok();
}

core::Result<void> File::close()
{
    const int fd = static_cast<int>(std::exchange(m_handle, invalid_handle));
    if (fd != invalid_handle && ::close(fd) != 0)
        return core::fail(last_os_error_text());
    return core::ok();
}

} // namespace platform
