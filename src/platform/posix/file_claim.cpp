#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/file_claim.h"

#include "platform/fs.h"
#include "platform/os_error.h"
#include "platform/posix/private_mode.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

core::Result<void> create_new_file(const std::filesystem::path& path, std::string_view bytes)
{
    VANO_TRY(check_no_nul(path));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, posix::private_file_mode);
    if (fd < 0)
        return core::fail(last_os_error_text());
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return core::ok();
}

core::Result<std::int64_t> file_modified_ns(const std::filesystem::path& path)
{
    VANO_TRY(check_no_nul(path));
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return core::fail(last_os_error_text());
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

} // namespace platform
