#pragma once
// A program of the Linux machine that runs the tests (python3 for the stand-in servers),
// named so that platform::run starts it on both builds.

#include <string>
#include <string_view>

namespace test_support {

// `linux_path` on Linux. Under wine the same file on drive Z:, which wine maps to the Linux
// root: the Windows build starts a program only by its full path.
inline std::string host_program(std::string_view linux_path)
{
#ifdef _WIN32
    std::string out = "Z:";
    for (const char c : linux_path)
        out += c == '/' ? '\\' : c;
    return out;
#else
    return std::string(linux_path);
#endif
}

} // namespace test_support
