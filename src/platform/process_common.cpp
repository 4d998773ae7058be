#include "platform/process.h"

namespace platform {

core::Result<void> check_process_spec(const ProcessSpec& spec)
{
    if (spec.wait == WaitMode::detach &&
        (spec.stdin_mode == StdinMode::pipe || spec.stdout_mode == OutputMode::capture ||
         spec.stderr_mode == OutputMode::capture))
        return core::fail("a detached child cannot have piped or captured streams");
    return core::ok();
}

} // namespace platform
