#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/args.h"
#include "platform/win32/wide.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

namespace {

std::vector<std::string> split_wide(const wchar_t* line)
{
    std::vector<std::string> out;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(line, &argc);
    if (!argv)
        return out;
    for (int i = 0; i < argc; ++i)
        out.push_back(win32::narrow(argv[i]));
    LocalFree(argv);
    return out;
}

} // namespace

std::vector<std::string> command_line_args()
{
    auto args = split_wide(GetCommandLineW());
    if (!args.empty())
        args.erase(args.begin());
    return args;
}

std::vector<std::string> split_command_line(std::string_view command_line)
{
    return split_wide(win32::widen(command_line).c_str());
}

} // namespace platform
