#pragma once
// The program's main function, shared by the Windows and POSIX entry points.

#include <string>
#include <vector>

namespace app {

// Runs the program with its arguments (UTF-8, without the program name) and gives the
// process exit code.
int run_main(const std::vector<std::string>& args);

} // namespace app
