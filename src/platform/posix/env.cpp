#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/env.h"

#include "core/utf8.h"

#include <cstdlib>
#include <system_error>

namespace platform {

std::optional<std::string> env_var(std::string_view name)
{
    const char* value = std::getenv(std::string(name).c_str());
    if (!value || !core::is_valid_utf8(value))
        return std::nullopt;
    return std::string(value);
}

void set_env_var(std::string_view name, const std::optional<std::string>& value)
{
    const std::string key(name);
    if (value)
        ::setenv(key.c_str(), value->c_str(), 1);
    else
        ::unsetenv(key.c_str());
}

std::filesystem::path temp_dir()
{
    std::error_code ec;
    auto dir = std::filesystem::temp_directory_path(ec);
    if (ec)
        return "/tmp";
    return dir;
}

} // namespace platform
