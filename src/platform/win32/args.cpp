#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/args.h"
#include "platform/win32/wide.h"

#include <windows.h>
#include <shellapi.h>

namespace platform {

std::vector<std::string> command_line_args()
{
    std::vector<std::string> out;
    int argc = 0;
    wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (!argv)
        return out;
    for (int i = 1; i < argc; ++i)
        out.push_back(win32::narrow(argv[i]));
    LocalFree(argv);
    return out;
}

} // namespace platform
