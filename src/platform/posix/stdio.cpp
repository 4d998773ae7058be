#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/stdio.h"

#include <cerrno>

#include <unistd.h>

namespace platform {

namespace {

bool write_all(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

} // namespace

bool write_stdout(std::string_view bytes) { return write_all(STDOUT_FILENO, bytes); }
bool write_stderr(std::string_view bytes) { return write_all(STDERR_FILENO, bytes); }

} // namespace platform
