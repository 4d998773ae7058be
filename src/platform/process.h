#pragma once
// Child processes started by program name and argument list.

#include "core/result.h"

#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class StdinMode {
    null_device, // reads end of file at once
    pipe,        // the bytes of ProcessSpec::stdin_bytes, then end of file
    inherit,     // our own standard input
};

enum class OutputMode {
    capture, // collected into ProcessResult
    inherit, // our own standard output or error
};

enum class WaitMode {
    wait,   // run() returns after the child has ended
    detach, // run() returns once the child has started; nothing watches it afterwards
};

struct ProcessSpec {
    // A full path, or a program name. POSIX looks a name up on PATH (posix_spawnp). Windows
    // never searches: it knows only the system programs "reg", "cmd" and "powershell",
    // which it starts from the system folder, and refuses any other name or relative path
    // as a program not found (its own search would try the current folder first).
    std::string program;
    // Passed as they are on POSIX; joined by join_command_line on Windows.
    std::vector<std::string> args;
    StdinMode stdin_mode = StdinMode::null_device;
    std::string stdin_bytes;
    OutputMode stdout_mode = OutputMode::capture;
    OutputMode stderr_mode = OutputMode::capture;
    WaitMode wait = WaitMode::wait;
};

struct ProcessResult {
    // Nothing when the child was detached, when waiting for it or reading its status
    // failed, or when writing its input failed (the child is then left running).
    // A POSIX child ended by a signal gives 128 plus the signal number.
    std::optional<int> exit_code;
    std::string stdout_bytes;
    std::string stderr_bytes;
    // The OS error text when writing the child's input failed; the input is then closed
    // and the child neither read from nor waited for.
    std::optional<std::string> stdin_error;
};

// Fails when run() cannot do what `spec` asks: a detached child with a piped input or a
// captured output, which nothing would ever write or read.
[[nodiscard]] core::Result<void> check_process_spec(const ProcessSpec& spec);

// Starts the child (every Windows child with CREATE_NO_WINDOW), writes its input, reads
// the captured streams to their ends concurrently while it runs, and waits for it unless
// detached. Fails with the OS error text when the child cannot be started, or with
// check_process_spec's text.
[[nodiscard]] core::Result<ProcessResult> run(const ProcessSpec& spec);

} // namespace platform
