#pragma once
// A running stand-in service, a configuration folder of the test's own, and the local
// server over a shared state whose saved URL points at the service (with trailing
// slashes, which every call must drop). The routes are called as the page calls them,
// over a loopback socket with the local token.

#include "config/desktop_config.h"
#include "support/state_probe.h"
#include "server/local_server.h"
#include "server/server_state.h"
#include "support/json_field.h"
#include "support/stand_in_service.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace uploader_test {

using nlohmann::json;
using test_support::field;

// A local API reply: its status, its body parsed, and the body's bytes as sent.
struct LocalReply {
    std::uint16_t status = 0;
    json body;
    std::string raw_body;
};

// A failure row: the service's scripted reply and the `detail` that the route must give.
struct FailureCase {
    std::string_view name;
    json reply;
    std::string detail;
    bool prefix_only = false; // the rest is the HTTP client's or the parser's own text
};

// `reply` has `status` and a detail equal to `expected.detail`, or, for a prefix, one that
// starts with it and has a cause after it.
inline void expect_detail(const LocalReply& reply, std::uint16_t status, const FailureCase& expected)
{
    EXPECT_EQ(reply.status, status);
    ASSERT_TRUE(reply.body.is_object() && reply.body.contains("detail")) << reply.raw_body;
    const std::string detail = field(reply.body, "detail");
    if (expected.prefix_only) {
        EXPECT_TRUE(detail.starts_with(expected.detail) && detail.size() > expected.detail.size()) << detail;
    } else {
        EXPECT_TRUE(detail == expected.detail) << detail.substr(0, 300);
    }
}

class AccountRouteTest : public ::testing::Test {
protected:
    AccountRouteTest() { set_memory_config(memory_config_with_url(service.url() + "//")); }

    config::DesktopConfig memory_config_with_url(std::string url)
    {
        config::DesktopConfig cfg = state.config_snapshot();
        cfg.server_url = std::move(url);
        return cfg;
    }

    LocalReply login(std::string_view body) const { return call("POST", "/api/local/login", body); }

    LocalReply quota() const { return call("GET", "/api/local/quota"); }

    // The code goes into the query percent-encoded, as the page's encodeURIComponent does.
    LocalReply check_code(const std::optional<std::string>& code) const
    {
        std::string path = "/api/local/check-code";
        if (code) {
            path += "?code=";
            for (const unsigned char b : *code) {
                static constexpr char hex[] = "0123456789ABCDEF";
                path += std::isalnum(b) ? std::string(1, static_cast<char>(b))
                                        : std::string{'%', hex[b >> 4], hex[b & 15]};
            }
        }
        return call("GET", path);
    }

    void set_memory_config(config::DesktopConfig cfg) { server::ServerStateProbe::config(state).lock().value() = std::move(cfg); }

    config::DesktopConfig memory_config() { return server::ServerStateProbe::config(state).lock().value(); }

    // The saved desktop_config.json as an independent JSON reader sees it; nothing when
    // the file is absent.
    static std::optional<json> saved_file()
    {
        std::ifstream in(config::config_file_path(), std::ios::binary);
        if (!in)
            return std::nullopt;
        std::stringstream text;
        text << in.rdbuf();
        return json::parse(text.str());
    }

    // The lower-case names of a recorded request's headers, sorted, without User-Agent
    // (the client's own choice): what the route set plus what the client must add.
    static std::vector<std::string> header_names(const json& request)
    {
        std::vector<std::string> names;
        for (const auto& h : request.at("headers")) {
            std::string name = h.at(0);
            std::transform(name.begin(), name.end(), name.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            if (name != "user-agent")
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    test::TempConfigHome home;
    test_support::StandInService service;
    test::LocalServer local;
    server::ServerState& state = *local.state;

private:
    LocalReply call(std::string_view method, std::string_view path, std::string_view body = {}) const
    {
        const auto raw = test::split_reply(local.call(method, path, body));
        LocalReply reply;
        if (raw.head.starts_with("HTTP/1.1 ") && raw.head.size() >= 12)
            reply.status = static_cast<std::uint16_t>(std::stoi(raw.head.substr(9, 3)));
        reply.raw_body = raw.body;
        reply.body = json::parse(raw.body, nullptr, false);
        return reply;
    }
};

} // namespace uploader_test
