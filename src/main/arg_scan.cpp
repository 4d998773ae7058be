#include "main/arg_scan.h"

#include "platform/fs.h"
#include "platform/unicode.h"

namespace app {

namespace {

bool is_separator(char c) { return c == '/' || c == '\\'; }

bool is_drive_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The path's components, led by markers for its drive and root. A leading pair of
// separators (a UNC name) is kept apart from a single one.
std::vector<std::string> path_components(std::string_view text)
{
    std::vector<std::string> parts;
    std::size_t pos = 0;
    if (text.size() >= 2 && text[1] == ':' && is_drive_letter(text[0])) {
        const char letter = (text[0] >= 'a' && text[0] <= 'z') ? static_cast<char>(text[0] - 'a' + 'A') : text[0];
        parts.push_back(std::string(1, letter) + ":");
        pos = 2;
    }
    bool has_root = false;
    if (pos < text.size() && is_separator(text[pos])) {
        has_root = true;
        const bool unc = pos == 0 && text.size() >= 2 && is_separator(text[1]);
        parts.push_back(unc ? "//" : "/");
    }
    bool first = true;
    while (pos < text.size()) {
        while (pos < text.size() && is_separator(text[pos]))
            ++pos;
        if (pos >= text.size())
            break;
        std::size_t end = pos;
        while (end < text.size() && !is_separator(text[end]))
            ++end;
        const std::string_view part = text.substr(pos, end - pos);
        if (part != "." || (first && !has_root))
            parts.emplace_back(part);
        first = false;
        pos = end;
    }
    return parts;
}

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

bool same_path_components(std::string_view a, std::string_view b)
{
    return path_components(a) == path_components(b);
}

std::string path_component_key(std::string_view text)
{
    // Each component behind its length: no component text can pass for a boundary.
    std::string key;
    for (const auto& part : path_components(text)) {
        key += std::to_string(part.size());
        key += ':';
        key += part;
    }
    return key;
}

ScannedArgs scan_arguments(const std::vector<std::string>& args)
{
    ScannedArgs out;
    std::vector<std::vector<std::string>> listed;
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
        auto key = path_components(platform::path_to_utf8(*path));
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
