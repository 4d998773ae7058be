#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it at
// the end of the test.

#include "platform/clock.h"
#include "platform/env.h"
#include "support/as_written.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace test_support {

class ScratchDir {
public:
    ScratchDir()
    {
        static std::atomic<unsigned> counter{0};
        const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
        // Test processes run side by side: the process id keeps their folders apart.
        m_path = platform::temp_dir() / ("vano-test-" + std::to_string(platform::process_id()) + "-" +
                                         std::to_string(stamp) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(m_path);
    }
    ~ScratchDir()
    {
        // Names such as "a.txt." or "CON" go too.
        remove_tree_as_written(m_path);
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::filesystem::path& rel) const { return m_path / rel; }

private:
    std::filesystem::path m_path;
};

// Sets an environment variable for the scope and restores the old value after it.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value)
        : m_name(std::move(name)), m_old(platform::env_var(m_name))
    {
        platform::set_env_var(m_name, value);
    }
    ~ScopedEnv() { platform::set_env_var(m_name, m_old); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Makes `dir` the current folder for the scope, then goes back. The current folder is the
// process's: children started meanwhile inherit it.
class ScopedCurrentDir {
public:
    explicit ScopedCurrentDir(const std::filesystem::path& dir) : m_old(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~ScopedCurrentDir() { std::filesystem::current_path(m_old); }
    ScopedCurrentDir(const ScopedCurrentDir&) = delete;
    ScopedCurrentDir& operator=(const ScopedCurrentDir&) = delete;

private:
    std::filesystem::path m_old;
};

// Raw file helpers that bypass the code under test.
inline void put_file(const std::filesystem::path& p, std::string_view bytes)
{
    std::ofstream(p, std::ios::binary) << bytes;
}

inline std::string file_bytes(const std::filesystem::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Creates a symbolic link (to a folder when `dir`), or gives false where the platform
// cannot make one (Windows without the privilege, some wine set-ups).
inline bool try_symlink(const std::filesystem::path& target, const std::filesystem::path& link, bool dir)
{
    std::error_code ec;
    if (dir)
        std::filesystem::create_directory_symlink(target, link, ec);
    else
        std::filesystem::create_symlink(target, link, ec);
    return !ec;
}

} // namespace test_support
