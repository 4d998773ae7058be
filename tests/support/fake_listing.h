#pragma once
// A directory listing that fails where a test wants it to, for walks that must skip
// unreadable entries and still end.

#include "core/result.h"
#include "platform/fs.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace test_support {

// Gives `errors` failed entries, then `paths` with `gap` failures between each two, then
// `tail` more failures (-1: fails for ever, up to a safety stop that lets a walk without
// a limit end and fail its test rather than hang it). `calls` counts every next().
class FakeListing final : public platform::DirListing {
public:
    static constexpr int safety_stop = 100'000;

    FakeListing(int errors, std::vector<std::filesystem::path> paths, int tail, int& calls, int gap = 0)
        : m_errors(errors), m_paths(std::move(paths)), m_tail(tail), m_gap(gap), m_calls(calls)
    {
    }

    std::optional<core::Result<std::filesystem::path>> next() override
    {
        if (++m_calls > safety_stop)
            return std::nullopt;
        if (m_errors > 0) {
            --m_errors;
            return unreadable();
        }
        if (m_next < m_paths.size()) {
            m_errors = m_gap;
            return core::Result<std::filesystem::path>(m_paths[m_next++]);
        }
        if (m_tail != 0) {
            if (m_tail > 0)
                --m_tail;
            return unreadable();
        }
        return std::nullopt;
    }

private:
    static core::Result<std::filesystem::path> unreadable() { return core::fail("entry unreadable"); }

    int m_errors;
    std::vector<std::filesystem::path> m_paths;
    std::size_t m_next = 0;
    int m_tail;
    int m_gap;
    int& m_calls;
};

// A listing function whose every folder gives the listing `make` builds.
template <class Make>
auto fake_lister(Make make)
{
    return [make](const std::filesystem::path&) -> core::Result<std::unique_ptr<platform::DirListing>> {
        return std::unique_ptr<platform::DirListing>(make());
    };
}

} // namespace test_support
