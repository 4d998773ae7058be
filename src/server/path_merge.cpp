#include "server/path_merge.h"

#include "main/arg_scan.h"
#include "platform/unicode.h"

#include <string>
#include <unordered_set>

namespace server {

std::string path_key(const std::filesystem::path& path)
{
    return app::path_component_key(platform::path_to_utf8(path));
}

std::vector<std::filesystem::path> merge_paths(const std::vector<std::filesystem::path>& current,
                                               const std::vector<std::filesystem::path>& incoming, MergeMode mode)
{
    std::vector<std::filesystem::path> merged;
    std::unordered_set<std::string> seen;
    const auto append_new = [&](const std::filesystem::path& p) {
        if (seen.insert(path_key(p)).second)
            merged.push_back(p);
    };
    if (mode == MergeMode::append) {
        merged.reserve(current.size() + incoming.size());
        for (const auto& p : current)
            append_new(p);
    }
    for (const auto& p : incoming)
        append_new(p);
    return merged;
}

} // namespace server
