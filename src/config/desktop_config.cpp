#include "config/desktop_config.h"

#include "core/json_text.h"
#include "core/utf8.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/unicode.h"

#include <nlohmann/json.hpp>

#include <array>
#include <exception>
#include <optional>

namespace config {

namespace {

constexpr std::array<const char*, 6> field_names = {"server_url", "api_key", "username",
                                                    "org_name",   "admin_name", "role"};

std::array<std::string*, 6> fields_of(DesktopConfig& cfg)
{
    return {&cfg.server_url, &cfg.api_key, &cfg.username, &cfg.org_name, &cfg.admin_name, &cfg.role};
}

// Reads either accepted form strictly: nlohmann's DOM parse keeps the last of two equal
// keys, so the record is built from the event stream, which sees every key.
class StrictReader final : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit StrictReader(DesktopConfig& out) : m_fields(fields_of(out)) {}

    // True once the whole value was one complete record.
    bool complete() const { return m_complete; }

    bool null() override { return scalar(); }
    bool boolean(bool) override { return scalar(); }
    bool number_integer(number_integer_t) override { return scalar(); }
    bool number_unsigned(number_unsigned_t) override { return scalar(); }
    bool number_float(number_float_t, const string_t&) override { return scalar(); }
    bool binary(binary_t&) override { return scalar(); }

    bool string(string_t& value) override
    {
        if (m_depth != 1)
            return m_depth > 1;
        if (m_top == Top::array) {
            if (m_count >= m_fields.size())
                return false;
            *m_fields[m_count++] = value;
            return true;
        }
        if (m_current) {
            *m_fields[*m_current] = value;
            m_current.reset();
        }
        return true;
    }

    bool start_object(std::size_t) override { return open(Top::object); }
    bool start_array(std::size_t) override { return open(Top::array); }

    bool key(string_t& name) override
    {
        if (m_depth != 1)
            return true;
        m_current.reset();
        for (std::size_t i = 0; i < field_names.size(); ++i) {
            if (name == field_names[i]) {
                if (m_seen[i])
                    return false;
                m_seen[i] = true;
                ++m_count;
                m_current = i;
                return true;
            }
        }
        return true;
    }

    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }

private:
    enum class Top { none, object, array };

    // A value that is not a string: an error for the whole value, a field or an element;
    // allowed inside an unknown key's value.
    bool scalar()
    {
        if (m_depth == 0 || (m_depth == 1 && (m_top == Top::array || m_current)))
            return false;
        return true;
    }

    bool open(Top kind)
    {
        if (m_depth == 0)
            m_top = kind;
        else if (m_depth == 1 && (m_top == Top::array || m_current))
            return false;
        ++m_depth;
        return true;
    }

    bool close()
    {
        --m_depth;
        if (m_depth == 0) {
            if (m_count != m_fields.size())
                return false;
            m_complete = true;
        }
        return true;
    }

    std::array<std::string*, 6> m_fields;
    std::array<bool, 6> m_seen{};
    std::optional<std::size_t> m_current;
    std::size_t m_count = 0;
    std::size_t m_depth = 0;
    Top m_top = Top::none;
    bool m_complete = false;
};

std::optional<DesktopConfig> parse_config(const std::string& text)
{
    DesktopConfig cfg;
    StrictReader reader(cfg);
    try {
        // nlohmann would skip a byte-order mark silently; this file may not start with one.
        if (!core::sax_parse_whole(text, &reader, core::ByteOrderMark::refused))
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!reader.complete())
        return std::nullopt;
    return cfg;
}

core::Result<std::string> serialize(const DesktopConfig& cfg)
{
    DesktopConfig copy = cfg;
    nlohmann::ordered_json obj = nlohmann::ordered_json::object();
    const auto fields = fields_of(copy);
    for (std::size_t i = 0; i < field_names.size(); ++i)
        obj[field_names[i]] = *fields[i];
    try {
        return obj.dump(2);
    } catch (const std::exception& e) {
        // Text that is not valid UTF-8.
        return core::fail(e.what());
    }
}

} // namespace

DesktopConfig DesktopConfig::defaults()
{
    DesktopConfig cfg;
    cfg.server_url = default_server_url;
    return cfg;
}

std::filesystem::path config_dir()
{
    if (auto appdata = platform::env_var("APPDATA"))
        return platform::path_from_utf8(*appdata) / "VANOQuillet";
    if (auto home = platform::env_var("HOME"))
        return platform::path_from_utf8(*home) / ".vano-quillet";
    if (auto profile = platform::env_var("USERPROFILE"))
        return platform::path_from_utf8(*profile) / ".vano-quillet";
    return platform::temp_dir() / "vano-quillet";
}

std::filesystem::path config_file_path() { return config_dir() / "desktop_config.json"; }

DesktopConfig load_config()
{
    const auto text = platform::read_file(config_file_path());
    if (!text || !core::is_valid_utf8(*text))
        return DesktopConfig::defaults();
    auto cfg = parse_config(*text);
    if (!cfg)
        return DesktopConfig::defaults();
    if (platform::trim_unicode_ws(cfg->server_url).empty())
        cfg->server_url = default_server_url;
    return *cfg;
}

core::Result<void> save_config(const DesktopConfig& cfg)
{
    if (auto made = platform::create_dirs(config_dir()); !made)
        return core::fail("설정 폴더 생성 실패: " + made.error());
    const auto bytes = serialize(cfg);
    if (!bytes)
        return core::fail("설정 직렬화 실패: " + bytes.error());
    // Through a temporary file: a crash or a full disk mid-write must not leave a torn
    // file, which would load as the defaults and silently log the user out.
    if (auto written = platform::write_file_atomic(config_file_path(), *bytes); !written)
        return core::fail("설정 파일 저장 실패: " + written.error());
    return core::ok();
}

core::Result<void> clear_credentials()
{
    DesktopConfig cfg = load_config();
    cfg.api_key.clear();
    cfg.username.clear();
    cfg.org_name.clear();
    cfg.admin_name.clear();
    cfg.role.clear();
    return save_config(cfg);
}

} // namespace config
