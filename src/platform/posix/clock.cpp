#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/clock.h"

#include <cerrno>
#include <climits>

#include <signal.h>
#include <unistd.h>

namespace platform {

std::uint32_t process_id() { return static_cast<std::uint32_t>(::getpid()); }

bool process_running(std::uint32_t pid)
{
    // kill() reads 0 and negative ids as process groups.
    if (pid == 0 || pid > static_cast<std::uint32_t>(INT_MAX))
        return false;
    return ::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

} // namespace platform
