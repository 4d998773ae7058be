#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/thread.h"

#include <system_error>
#include <thread>

namespace platform {

bool start_detached_thread(std::move_only_function<void()> body)
{
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace platform
