#pragma once
// The one way the posix build starts a program, under run() and ChildProcess alike.
// Header of the posix implementation folder only.

#include "core/result.h"
#include "platform/posix/fd.h"
#include "platform/process.h"

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace platform::posix {

struct Spawned {
    pid_t pid = -1;
    // Our ends of the child's pipes; none for a stream that is not piped.
    Fd in;
    Fd out;
    Fd err;
};

// Starts `program` (looked up on PATH unless it holds a slash) with `args`, each standard
// stream as its mode says (OutputMode::capture: a pipe). The child starts with no signal
// blocked and every signal at its default. Failure is the OS error text.
[[nodiscard]] core::Result<Spawned> spawn(const std::string& program, const std::vector<std::string>& args,
                                          StdinMode in, OutputMode out, OutputMode err);

// The exit code in a status that waitpid gave; 128 plus the signal's number for a child
// that a signal ended.
[[nodiscard]] std::optional<int> exit_code_of(int status);

// Waits for the child to end and gives its exit code; nothing when waiting fails.
[[nodiscard]] std::optional<int> wait_exit_code(pid_t pid);

} // namespace platform::posix
