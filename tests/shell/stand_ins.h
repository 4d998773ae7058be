#pragma once
// Stand-in executables for reg, powershell, cmd and the browsers: POSIX shell scripts in
// a scratch folder put first on PATH. Each appends its name and arguments to one shared
// log, so the log shows every child in the order they ran, then runs a snippet of shell
// code that the test chooses (its exit code, its output, reading its input).

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/unicode.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace test_support {

struct Invocation {
    std::string program;
    std::vector<std::string> args;
    bool operator==(const Invocation&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Invocation& inv)
{
    os << inv.program;
    for (const auto& a : inv.args)
        os << " [" << a << "]";
    return os;
}

class StandIns {
public:
    StandIns() : m_path("PATH", (m_bin.path() / "bin").string() + ":" + platform::env_var("PATH").value_or(""))
    {
        std::filesystem::create_directories(m_bin.path() / "bin");
    }

    // Writes the stand-in `name` into the folder on PATH; `body` runs after the logging.
    void add(const std::string& name, const std::string& body = "exit 0") const
    {
        write_script(m_bin.path() / "bin" / name, name, body);
    }

    // A stand-in at an arbitrary path (for programs named by a full path).
    void write_script(const std::filesystem::path& file, const std::string& name, const std::string& body) const
    {
        std::ofstream out(file, std::ios::binary);
        // One write per record, so that a reader never sees half of one.
        out << "#!/bin/sh\nr='=== " << name << "\n'\nfor a in \"$@\"; do r=\"$r[$a]\n\"; done\n"
            << "printf '%s' \"$r\" >> '" << log_path().string() << "'\n"
            << body << "\n";
        out.close();
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
    }

    void remove(const std::string& name) const { std::filesystem::remove(m_bin.path() / "bin" / name); }

    std::filesystem::path log_path() const { return m_bin.path() / "log"; }
    std::filesystem::path file(const std::string& name) const { return m_bin.path() / name; }
    const std::filesystem::path& dir() const { return m_bin.path(); }

    std::vector<Invocation> invocations() const
    {
        std::vector<Invocation> out;
        std::ifstream in(log_path(), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            if (line.starts_with("=== "))
                out.push_back({line.substr(4), {}});
            else if (!out.empty() && line.size() >= 2 && line.front() == '[' && line.back() == ']')
                out.back().args.push_back(line.substr(1, line.size() - 2));
        }
        return out;
    }

private:
    ScratchDir m_bin;
    ScopedEnv m_path;
};

inline std::string read_bytes(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

} // namespace test_support
