#include "zipper/entry_names.h"

#include "platform/unicode.h"

namespace zipper {

namespace {

std::string clash_key(std::string_view name) { return platform::to_lower_full(name); }

// "stem (n).ext"; a name whose only "." is its first character has no extension.
std::string numbered(const std::string& name, NameOf kind, unsigned n)
{
    const std::string mark = " (" + std::to_string(n) + ")";
    const auto dot = name.rfind('.');
    if (kind == NameOf::folder || dot == std::string::npos || dot == 0)
        return name + mark;
    return name.substr(0, dot) + mark + name.substr(dot);
}

} // namespace

LevelNames::LevelNames(const std::vector<std::string>& originals)
{
    for (const auto& name : originals)
        m_originals.insert(clash_key(name));
}

std::string LevelNames::claim(const std::string& name, NameOf kind)
{
    if (m_claimed.insert(clash_key(name)).second)
        return name;
    for (unsigned n = 2;; ++n) {
        std::string candidate = numbered(name, kind, n);
        const std::string key = clash_key(candidate);
        if (!m_originals.contains(key) && m_claimed.insert(key).second)
            return candidate;
    }
}

} // namespace zipper
