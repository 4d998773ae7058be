#include "shell/powershell.h"

namespace shell {

std::vector<std::string> powershell_args(std::string_view script, Apartment apartment)
{
    std::vector<std::string> args{"-NoProfile"};
    // The Windows Forms dialogs need a single-threaded apartment.
    if (apartment == Apartment::single_threaded)
        args.emplace_back("-Sta");
    args.insert(args.end(), {"-WindowStyle", "Hidden", "-Command", std::string(script)});
    return args;
}

} // namespace shell
