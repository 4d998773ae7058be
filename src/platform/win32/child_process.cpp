#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/child_process.h"

#include "platform/unicode.h"
#include "platform/win32/spawn.h"

#include <utility>

namespace platform {

struct ChildProcess::Os {
    win32::Spawned child;
    std::optional<int> exit_code;

    ~Os()
    {
        end();
        child.job.reset(); // ends whatever the child left running
        child.process.reset();
    }

    void end()
    {
        if (exit_code)
            return;
        TerminateProcess(child.process.get(), 1);
        WaitForSingleObject(child.process.get(), 5000);
        exit_code = 1;
    }
};

ChildProcess::ChildProcess() = default;
ChildProcess::~ChildProcess() = default;
ChildProcess::ChildProcess(ChildProcess&&) noexcept = default;
ChildProcess& ChildProcess::operator=(ChildProcess&&) noexcept = default;

core::Result<ChildProcess> ChildProcess::start(const std::filesystem::path& program, const std::vector<std::string>& args)
{
    auto spawned = VANO_TRY(win32::spawn(path_to_utf8(program), args, StdinMode::null_device, OutputMode::capture,
                                         OutputMode::capture, win32::JobMode::kill_on_close));
    ChildProcess child;
    child.m_os = std::make_unique<Os>();
    child.m_os->child = std::move(spawned);
    return child;
}

bool ChildProcess::stdout_open() const { return m_os && m_os->child.out.valid(); }

void ChildProcess::pump(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool got = false;
        bool open = false;
        if (m_os) {
            for (auto [owner, buffer] :
                 {std::pair{&m_os->child.out, &m_out_buffer}, std::pair{&m_os->child.err, &m_err_buffer}}) {
                if (!owner->valid())
                    continue;
                DWORD available = 0;
                if (!PeekNamedPipe(owner->get(), nullptr, 0, nullptr, &available, nullptr)) {
                    owner->reset(); // broken pipe: every writer has gone
                    continue;
                }
                open = true;
                if (available == 0)
                    continue;
                std::string chunk(available, '\0');
                DWORD read = 0;
                if (ReadFile(owner->get(), chunk.data(), available, &read, nullptr) && read > 0) {
                    buffer->append(chunk.data(), read);
                    got = true;
                }
            }
        }
        if (got || !open || std::chrono::steady_clock::now() >= deadline)
            return;
        Sleep(1);
    }
}

std::optional<int> ChildProcess::wait_for(std::chrono::milliseconds timeout)
{
    if (!m_os || m_os->exit_code)
        return m_os ? m_os->exit_code : std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (WaitForSingleObject(m_os->child.process.get(), 1) == WAIT_OBJECT_0) {
            DWORD code = 0;
            if (!GetExitCodeProcess(m_os->child.process.get(), &code))
                return std::nullopt;
            m_os->exit_code = static_cast<int>(code);
            return m_os->exit_code;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        pump(std::chrono::milliseconds(0));
    }
}

std::uint32_t ChildProcess::pid() const
{
    return m_os ? static_cast<std::uint32_t>(GetProcessId(m_os->child.process.get())) : 0;
}

void ChildProcess::kill()
{
    if (m_os)
        m_os->end();
}

} // namespace platform
