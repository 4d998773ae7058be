#pragma once
// The program's main function, shared by the Windows and POSIX entry points.

#include "core/result.h"
#include "server/listener.h"

#include <string>
#include <vector>

namespace app {

// Runs the program with its arguments (UTF-8, without the program name) and gives the
// process exit code: 0 after a one-shot switch that succeeded, an accepted hand-off or
// the end of the accept loop; 1 after a failed one-shot switch or a listener failure.
int run_main(const std::vector<std::string>& args);

// The same with the listener's set-up supplied by the caller, so that tests can make it
// fail.
using ListenerBinder = core::Result<server::LocalListener> (*)();
int run_main(const std::vector<std::string>& args, ListenerBinder bind_listener);

} // namespace app
