#pragma once
// The one way the win32 build starts a program, under run() and ChildProcess alike.
// Header of the win32 implementation folder only.

#include "core/result.h"
#include "platform/process.h"
#include "platform/win32/handle.h"

#include <string>
#include <vector>

namespace platform::win32 {

enum class JobMode {
    none,
    // The child starts inside a job object that ends it, and whatever it starts, once
    // the job's handle is closed.
    kill_on_close,
};

struct Spawned {
    Handle process;
    Handle job; // none unless asked for, or when the system gave none
    // Our ends of the child's pipes; none for a stream that is not piped.
    Handle in;
    Handle out;
    Handle err;
};

// Starts `program` (a full path, or a system program by name: see ProcessSpec::program)
// with `args` joined by join_command_line, CREATE_NO_WINDOW, each standard stream as its
// mode says (OutputMode::capture: a pipe). Only the child's three standard handles are
// inherited. Failure is the OS error text.
[[nodiscard]] core::Result<Spawned> spawn(const std::string& program, const std::vector<std::string>& args,
                                          StdinMode in, OutputMode out, OutputMode err, JobMode job);

} // namespace platform::win32
