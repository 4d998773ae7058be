#include "config/path_keys.h"

#include "platform/unicode.h"

#include <vector>

namespace config {

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

} // namespace

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

std::string path_key(const std::filesystem::path& path) { return path_component_key(platform::path_to_utf8(path)); }

} // namespace config
