#pragma once
// Runs tools/stand_in_service.py, the stand-in for the remote service, for one test.
//
// The service is driven through files in a work folder under the build tree: its port,
// the scripted replies and the record of the requests it got. The folder is a Unix path
// that the Windows build under wine reaches through its Z: drive, so both builds share
// one Python service started as a detached child.

#include "platform/process.h"
#include "support/host_program.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace test_support {

// Thrown when the service cannot listen on the fixed port it was asked for.
struct PortUnavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class StandInService {
public:
    enum class Scheme { http, https_self_signed };

    // `port` 0 takes a free one; a fixed port that another test's service holds is waited
    // for, and one that cannot be had throws PortUnavailable.
    explicit StandInService(Scheme scheme = Scheme::http, int port = 0) : m_scheme(scheme)
    {
        static std::atomic<unsigned> counter{0};
        std::random_device random;
        m_work = std::filesystem::path(VANO_BINARY_DIR) / "stand-in" /
                 (std::to_string(random()) + "-" + std::to_string(counter++));
        std::filesystem::create_directories(m_work);

        const std::string source = VANO_SOURCE_DIR;
        platform::ProcessSpec spec;
        const std::string python = host_program("/usr/bin/python3");
        spec.program = std::filesystem::exists(python) ? python : "python3";
        spec.args = {source + "/tools/stand_in_service.py", "--quiet", "--dir", m_work.generic_string()};
        if (scheme == Scheme::https_self_signed) {
            spec.args.insert(spec.args.end(), {"--tls-cert", source + "/tests/uploader/data/self_signed.crt",
                                               "--tls-key", source + "/tests/uploader/data/self_signed.key"});
        }
        if (port != 0)
            spec.args.insert(spec.args.end(), {"--port", std::to_string(port)});
        spec.stdout_mode = platform::OutputMode::inherit;
        spec.stderr_mode = platform::OutputMode::inherit;
        spec.wait = platform::WaitMode::detach;
        if (auto started = platform::run(spec); !started)
            throw std::runtime_error("cannot start the stand-in service: " + started.error());

        // A fixed port may first have to be given up by another test's service.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(port == 0 ? 20 : 150);
        while (!(m_port = read_port())) {
            if (std::ifstream failed(m_work / "bind_error"); failed) {
                std::stringstream why;
                why << failed.rdbuf();
                std::error_code ec;
                std::filesystem::remove_all(m_work, ec);
                throw PortUnavailable(why.str());
            }
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("the stand-in service did not report its port");
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    struct DefaultPorts;

    // A plain service on port 80 and one with an untrusted certificate on 443, both on
    // 127.0.0.1; nothing (with the reason in `why`) when either port cannot be had.
    static std::optional<DefaultPorts> on_default_ports(std::string& why);

    ~StandInService()
    {
        std::ofstream(m_work / "stop").put('\n');
        std::error_code ec;
        std::filesystem::remove_all(m_work, ec);
    }

    StandInService(const StandInService&) = delete;
    StandInService& operator=(const StandInService&) = delete;

    int port() const { return *m_port; }

    // "http://127.0.0.1:<port>" (https for the self-signed service), no trailing "/".
    std::string url() const
    {
        return std::string(m_scheme == Scheme::http ? "http" : "https") + "://127.0.0.1:" + std::to_string(port());
    }

    // Replaces the scripted replies: {"GET /api/me": reply or [reply, ...], ...}.
    void script(const nlohmann::json& routes) const
    {
        const auto tmp = m_work / "script.json.tmp";
        std::ofstream(tmp, std::ios::binary) << routes.dump();
        std::filesystem::rename(tmp, m_work / "script.json");
    }

    // Lets a request held by a reply's "hold_until_file" or "body_holds" under this name
    // go on.
    void release(const std::string& name) const { std::ofstream(m_work / name).put('\n'); }

    // Whether a client connected, waiting up to 30 s: a client that refused the certificate
    // may have given up before the service noted its connection.
    bool saw_connection() const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!std::filesystem::exists(m_work / "connections")) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }

    // Every request received so far, oldest first.
    std::vector<nlohmann::json> requests() const
    {
        std::vector<nlohmann::json> out;
        std::ifstream in(m_work / "requests.jsonl", std::ios::binary);
        for (std::string line; std::getline(in, line);)
            out.push_back(nlohmann::json::parse(line));
        return out;
    }

    // The value of a recorded request's header (first of that name, any letter case).
    static std::optional<std::string> header(const nlohmann::json& request, std::string_view name)
    {
        for (const auto& h : request.at("headers")) {
            const std::string key = h.at(0);
            if (key.size() == name.size() &&
                std::equal(key.begin(), key.end(), name.begin(), [](char a, char b) {
                    return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
                }))
                return h.at(1).get<std::string>();
        }
        return std::nullopt;
    }

private:
    std::optional<int> read_port() const
    {
        std::ifstream in(m_work / "port");
        int port = 0;
        if (in >> port && port > 0)
            return port;
        return std::nullopt;
    }

    Scheme m_scheme;
    std::filesystem::path m_work;
    std::optional<int> m_port;
};

struct StandInService::DefaultPorts {
    std::unique_ptr<StandInService> plain;
    std::unique_ptr<StandInService> secure;
};

inline std::optional<StandInService::DefaultPorts> StandInService::on_default_ports(std::string& why)
{
    try {
        DefaultPorts ports;
        ports.plain = std::make_unique<StandInService>(Scheme::http, 80);
        ports.secure = std::make_unique<StandInService>(Scheme::https_self_signed, 443);
        return ports;
    } catch (const PortUnavailable& e) {
        why = e.what();
        return std::nullopt;
    }
}

} // namespace test_support
