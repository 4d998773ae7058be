#include "config/path_merge.h"

#include "config/path_keys.h"

#include <string>
#include <unordered_set>

namespace config {

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

} // namespace config
