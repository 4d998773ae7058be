#pragma once
// A running stand-in service, a configuration folder of the test's own and a shared
// state whose saved URL points at the service (with trailing slashes, which every call
// must drop).

#include "config/desktop_config.h"
#include "platform/unicode.h"
#include "server/server_state.h"
#include "support/scratch_dir.h"
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

// A failure row: the service's scripted reply and the `detail` that the route must give.
struct FailureCase {
    std::string_view name;
    json reply;
    std::string detail;
    bool prefix_only = false; // the rest is the HTTP client's or the parser's own text
};

// `reply` has `status` and a detail equal to `expected.detail`, or, for a prefix, one that
// starts with it and has a cause after it.
inline void expect_detail(const server::RouteReply& reply, std::uint16_t status, const FailureCase& expected)
{
    EXPECT_EQ(reply.status, status);
    ASSERT_TRUE(reply.body.is_object() && reply.body.contains("detail")) << reply.body.dump();
    const std::string detail = reply.body["detail"];
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
        config::DesktopConfig cfg = config::config_snapshot(state.config);
        cfg.server_url = std::move(url);
        return cfg;
    }

    void set_memory_config(config::DesktopConfig cfg) { state.config.lock().value() = std::move(cfg); }

    config::DesktopConfig memory_config() { return state.config.lock().value(); }

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

    test_support::ScratchDir home;
    test_support::ScopedEnv appdata{"APPDATA", platform::path_to_utf8(home.path())};
    test_support::ScopedEnv home_env{"HOME", platform::path_to_utf8(home.path())};
    test_support::StandInService service;
    server::ServerState state{"0123456789abcdef0123456789abcdef", {}};
};

} // namespace uploader_test
