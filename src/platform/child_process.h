#pragma once
// A child process watched while it runs: its standard output and error come back through
// pipes that can be read line by line before it ends. For the program's tests and
// benchmarks, which start the program itself and wait for its ready line.

#include "core/result.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
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

    ChildProcess() = default;
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
    void release();
    void pump(std::chrono::milliseconds timeout);

    std::intptr_t m_process = -1; // pid on POSIX, process HANDLE on Windows
    std::intptr_t m_out = -1;     // read ends: fd or HANDLE
    std::intptr_t m_err = -1;
    std::intptr_t m_job = -1; // Windows: the job object that holds the child's descendants
    std::optional<int> m_exit_code;
    std::string m_out_buffer;
    std::string m_err_buffer;
};

} // namespace platform
