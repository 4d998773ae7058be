#include "zipper/entry_names.h"

#include "platform/unicode.h"

#include <array>

namespace zipper {

namespace {

// What is left of a name once Windows has dropped its trailing dots and blanks.
std::string_view kept_on_windows(std::string_view name)
{
    const auto end = name.find_last_not_of(". ");
    return end == std::string_view::npos ? std::string_view{} : name.substr(0, end + 1);
}

// Lower case, as folders that ignore letter case elsewhere compare; and Windows' own
// comparison: upper case one character for one, without what it drops at the end.
std::array<std::string, 2> clash_keys(std::string_view name)
{
    return {"l" + platform::to_lower_full(name), "u" + platform::to_upper_simple(kept_on_windows(name))};
}

// "stem (n).ext"; a name whose only "." is its first character has no extension. The
// number goes before trailing dots and blanks, so that it stays in the name Windows keeps.
std::string numbered(const std::string& name, NameOf kind, unsigned n)
{
    const std::string mark = " (" + std::to_string(n) + ")";
    const std::string_view body = kept_on_windows(name);
    if (body.empty())
        return name + mark;
    const std::string_view tail = std::string_view(name).substr(body.size());
    const auto dot = body.rfind('.');
    if (kind == NameOf::folder || dot == std::string_view::npos || dot == 0)
        return std::string(body) + mark + std::string(tail);
    return std::string(body.substr(0, dot)) + mark + std::string(body.substr(dot)) + std::string(tail);
}

} // namespace

LevelNames::LevelNames(const std::vector<std::string>& originals)
{
    for (const auto& name : originals)
        for (auto& key : clash_keys(name))
            m_originals.insert(std::move(key));
}

bool LevelNames::take(const std::string& name, Taken taken)
{
    auto keys = clash_keys(name);
    for (const auto& key : keys)
        if (m_claimed.contains(key) || (taken == Taken::claimed_or_original && m_originals.contains(key)))
            return false;
    for (auto& key : keys)
        m_claimed.insert(std::move(key));
    return true;
}

std::string LevelNames::claim(const std::string& name, NameOf kind)
{
    if (take(name, Taken::claimed))
        return name;
    for (unsigned n = 2;; ++n) {
        std::string candidate = numbered(name, kind, n);
        if (take(candidate, Taken::claimed_or_original))
            return candidate;
    }
}

} // namespace zipper
