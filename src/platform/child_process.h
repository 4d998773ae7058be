#pragma once
// A child process watched while it runs: its standard output and error come back through
// pipes that can be read line by line before it ends. For the program's tests and
// benchmarks, which start the program itself and wait for its ready line.

#include "core/result.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class ChildProcess {
public:
    // Starts `program` with `args` (input from the null device, output and error piped,
    // the environment inherited; on Windows with CREATE_NO_WINDOW). `program` is a full
    // path, or a name as ProcessSpec::program takes it. Failure is the OS error text.
    [[nodiscard]] static core::Result<ChildProcess> start(const std::filesystem::path& program,
                                                          const std::vector<std::string>& args);

    ChildProcess();
    // Kills a child that is still running, then closes everything. On Windows the
    // processes that the child started end too (they share its job object).
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Standard output up to and including the next line feed. Fails when the stream ends
    // first or nothing completes the line within `timeout`; what was read stays buffered.
    [[nodiscard]] core::Result<std::string> read_stdout_line(std::chrono::milliseconds timeout);

    // The child's exit code once it has ended within `timeout`, else nothing.
    [[nodiscard]] std::optional<int> wait_for(std::chrono::milliseconds timeout);

    // What the child has written so far and not yet read, without waiting for more.
    [[nodiscard]] std::string take_stdout();
    [[nodiscard]] std::string take_stderr();

    // Ends the child at once (it may already have ended).
    void kill();

    // The child's process id; 0 when none was started.
    [[nodiscard]] std::uint32_t pid() const;

private:
    // The child and our ends of its output pipes, as the OS has them; the child is
    // killed and reaped when they go.
    struct Os;

    void pump(std::chrono::milliseconds timeout);
    [[nodiscard]] bool stdout_open() const;

    std::unique_ptr<Os> m_os;
    std::string m_out_buffer;
    std::string m_err_buffer;
};

} // namespace platform
