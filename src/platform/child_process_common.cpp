#include "platform/child_process.h"

#include <utility>

namespace platform {

core::Result<std::string> ChildProcess::read_stdout_line(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (const auto nl = m_out_buffer.find('\n'); nl != std::string::npos) {
            std::string line = m_out_buffer.substr(0, nl + 1);
            m_out_buffer.erase(0, nl + 1);
            return line;
        }
        if (!stdout_open())
            return core::fail("standard output ended before a line feed");
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return core::fail("no line within the time-out");
        pump(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now) + std::chrono::milliseconds(1));
    }
}

std::string ChildProcess::take_stdout()
{
    pump(std::chrono::milliseconds(0));
    return std::exchange(m_out_buffer, {});
}

std::string ChildProcess::take_stderr()
{
    pump(std::chrono::milliseconds(0));
    return std::exchange(m_err_buffer, {});
}

} // namespace platform
