#include "main/arg_scan.h"

#include "config/path_keys.h"
#include "platform/fs.h"
#include "platform/unicode.h"

namespace app {

namespace {

bool is_drive_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool path_exists(const std::filesystem::path& path)
{
    return platform::file_meta(path, platform::FollowLinks::yes).has_value();
}

} // namespace

std::string repair_drive_root(std::string arg)
{
    if (arg.size() == 3 && is_drive_letter(arg[0]) && arg[1] == ':' && arg[2] == '"')
        arg[2] = '\\';
    return arg;
}

ScannedArgs scan_arguments(const std::vector<std::string>& args)
{
    ScannedArgs out;
    std::vector<std::string> listed;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--install" || arg == "--uninstall")
            return ScannedArgs{arg == "--install" ? OneShot::install : OneShot::uninstall, false, {}};
        if (arg == "--stdio-port") {
            out.stdio_port = true;
            continue;
        }
        if (arg == "-NSDocumentRevisionsDebugMode" || arg == "-ApplePersistenceIgnoreState") {
            ++i; // its value, when there is one
            continue;
        }
        if (arg.starts_with("-psn_"))
            continue;
        const auto path = platform::absolute_path(platform::path_from_utf8(repair_drive_root(arg)));
        if (!path || !path_exists(*path))
            continue;
        auto key = config::path_key(*path);
        bool seen = false;
        for (const auto& k : listed)
            seen = seen || k == key;
        if (seen)
            continue;
        listed.push_back(std::move(key));
        out.paths.push_back(*path);
    }
    return out;
}

} // namespace app
