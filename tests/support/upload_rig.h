#pragma once
// Whole uploads as the page drives them: a stand-in service, a saved configuration that
// points at it, a temporary folder of the test's own (where archives are built), a
// sources folder, and a local server started on the chosen selection.

#include "config/desktop_config.h"
#include "platform/unicode.h"
#include "server/local_server.h"
#include "support/scratch_dir.h"
#include "support/sha256.h"
#include "support/stand_in_service.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace test_support {

using nlohmann::json;

inline constexpr std::string_view rig_api_key = "rig-key-123";
inline constexpr std::string_view done_text = "단축 링크가 클립보드에 자동 복사되었습니다!";

struct ApiReply {
    int status = 0;
    json body;
};

// The status and JSON body of a raw local-server reply (status 0 when there was none).
inline ApiReply parse_api_reply(const std::string& raw)
{
    ApiReply out;
    if (raw.size() < 12 || !raw.starts_with("HTTP/1.1 "))
        return out;
    out.status = std::stoi(raw.substr(9, 3));
    out.body = json::parse(test::split_reply(raw).body, nullptr, false);
    return out;
}

// The paths as UTF-8 texts, for comparisons that print readably.
inline std::vector<std::string> path_texts(const std::vector<std::filesystem::path>& paths)
{
    std::vector<std::string> out;
    for (const auto& p : paths)
        out.push_back(platform::path_to_utf8(p));
    return out;
}

class UploadRig {
public:
    // `api_key` empty saves a configuration with nobody logged in.
    explicit UploadRig(std::string api_key = std::string(rig_api_key)) : m_api_key(std::move(api_key))
    {
        std::filesystem::create_directories(m_temp / "tmp");
        std::filesystem::create_directories(m_sources / "src");
        save_server_url(service.url() + "//");
    }

    // Saves the configuration with this service address; servers started later use it.
    void save_server_url(const std::string& url) const
    {
        json saved = {{"server_url", url}, {"api_key", m_api_key}, {"username", "rig"},
                      {"org_name", ""}, {"admin_name", ""}, {"role", ""}};
        std::filesystem::create_directories(config::config_dir());
        std::ofstream(config::config_file_path(), std::ios::binary) << saved.dump(2);
    }

    // The saved server_url without its trailing slashes.
    std::string base() const { return service.url(); }

    // A source file with `bytes`, in the sources folder (sub-folders made as needed).
    std::filesystem::path put(const std::string& rel, std::string_view bytes) const
    {
        const auto p = source(rel);
        std::filesystem::create_directories(p.parent_path());
        put_file(p, bytes);
        return p;
    }

    std::filesystem::path source(const std::string& rel) const
    {
        return m_sources / "src" / platform::path_from_utf8(rel);
    }

    // A fresh local server whose selection is `paths` (analysed at its start).
    test::LocalServer& start(std::vector<std::filesystem::path> paths)
    {
        server.emplace(std::move(paths));
        return *server;
    }

    ApiReply api(std::string_view method, std::string_view path, std::string_view body = {}) const
    {
        return parse_api_reply(server->call(method, path, body));
    }

    ApiReply start_upload(const json& body) const { return api("POST", "/api/local/start-upload", body.dump()); }

    // Polls the state route until `reached(job)` holds for the job object (60 s at most)
    // and gives the last job object; every job object seen on the way goes to `seen`.
    template <class Reached>
    json wait_for_job(Reached reached, std::string_view what, std::vector<json>* seen = nullptr) const
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            const auto reply = api("GET", "/api/local/state");
            const json job = reply.body.is_object() ? reply.body.value("job", json()) : json();
            if (seen)
                seen->push_back(job);
            if (job.is_object() && reached(job))
                return job;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << what << ": " << job.dump();
                return job;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // Polls until the job is "done" or "error".
    json wait_for_end(std::vector<json>* seen = nullptr) const
    {
        return wait_for_job(
            [](const json& job) {
                const std::string phase = job.value("phase", "");
                return phase == "done" || phase == "error";
            },
            "the job did not end", seen);
    }

    // The upload requests the service has received, oldest first.
    std::vector<json> uploads() const
    {
        std::vector<json> out;
        for (auto& r : service.requests())
            if (r.value("path", "").starts_with("/api/upload-"))
                out.push_back(std::move(r));
        return out;
    }

    // Names in the temporary folder that look like our archives.
    std::vector<std::string> leftover_archives() const
    {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(m_temp / "tmp")) {
            const auto name = platform::path_to_utf8(e.path().filename());
            if (name.starts_with("vano_duvid_"))
                out.push_back(name);
        }
        return out;
    }

    StandInService service;

private:
    std::string m_api_key;
    ScratchDir m_temp;
    ScopedEnv m_tmpdir{"TMPDIR", platform::path_to_utf8(m_temp / "tmp")};
    ScopedEnv m_tmp{"TMP", platform::path_to_utf8(m_temp / "tmp")};
    ScopedEnv m_temp_env{"TEMP", platform::path_to_utf8(m_temp / "tmp")};
    ScopedEnv m_appdata{"APPDATA", platform::path_to_utf8(m_temp.path())};
    ScopedEnv m_home{"HOME", platform::path_to_utf8(m_temp.path())};
    ScopedEnv m_profile{"USERPROFILE", platform::path_to_utf8(m_temp.path())};
    ScratchDir m_sources_dir;
    std::filesystem::path m_sources = m_sources_dir.path();

public:
    std::optional<test::LocalServer> server;
};

// The expected shape of an upload request: checks the record and its form-data parts
// against an independent reading of the source file.
struct ExpectedUpload {
    std::string endpoint;
    std::vector<std::pair<std::string, std::string>> fields; // before the file part, in order
    std::string file_name;
    std::string content_type;
};

// Checks a complete upload record: the endpoint, the key, the boundary, a declared length
// equal to the bytes received without chunking, the text fields in order, the file part's
// name and type, and (when `file_bytes` is given) its size and digest.
inline void expect_upload_record(const json& rec, const ExpectedUpload& want, const std::string* file_bytes)
{
    EXPECT_EQ(rec.value("path", ""), want.endpoint);
    EXPECT_EQ(StandInService::header(rec, "X-API-Key").value_or(""), rig_api_key);
    EXPECT_FALSE(rec.value("chunked", true));
    EXPECT_FALSE(StandInService::header(rec, "Transfer-Encoding").has_value());
    EXPECT_EQ(StandInService::header(rec, "Content-Length").value_or(""), std::to_string(rec.value("body_size", -1)));
    const json& mp = rec.at("multipart");
    EXPECT_TRUE(mp.value("complete", false)) << mp.dump().substr(0, 600);
    EXPECT_FALSE(mp.contains("error")) << mp.dump().substr(0, 600);
    const std::string boundary = mp.value("boundary", "");
    EXPECT_TRUE(boundary.starts_with("----VANODuvidBoundary") && boundary.size() > 21 && boundary[21] != '0' &&
                boundary.find_first_not_of("0123456789abcdef", 21) == std::string::npos)
        << boundary;
    const json& parts = mp.at("parts");
    ASSERT_EQ(parts.size(), want.fields.size() + 1) << parts.dump().substr(0, 600);
    for (std::size_t i = 0; i < want.fields.size(); ++i) {
        SCOPED_TRACE(want.fields[i].first);
        EXPECT_EQ(parts[i].value("name", ""), want.fields[i].first);
        EXPECT_EQ(parts[i].value("value", ""), want.fields[i].second);
        EXPECT_TRUE(parts[i].at("filename").is_null());
        EXPECT_EQ(parts[i].at("headers").size(), 1u) << "a text field has only its Content-Disposition";
    }
    const json& file = parts.back();
    EXPECT_EQ(file.value("name", ""), "file");
    EXPECT_EQ(file.at("filename"), json(want.file_name));
    EXPECT_EQ(file.at("content_type"), json(want.content_type));
    EXPECT_EQ(file.at("headers").size(), 2u);
    if (file_bytes) {
        EXPECT_EQ(file.value("size", std::int64_t{-1}), static_cast<std::int64_t>(file_bytes->size()));
        EXPECT_EQ(file.value("sha256", ""), sha256_hex(*file_bytes));
    }
}

} // namespace test_support
