#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/unicode.h"

#include "core/utf8.h"

#include <cstdlib>
#include <memory>
#include <utf8proc.h>

namespace platform {

std::string nfc(std::string_view text)
{
    const std::string input = core::lossy_utf8(text);
    utf8proc_uint8_t* out = nullptr;
    const auto len = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(input.data()),
                                  static_cast<utf8proc_ssize_t>(input.size()), &out,
                                  static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
    if (len < 0 || !out)
        return input;
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(out, &std::free);
    return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(len));
}

std::string path_to_utf8(const std::filesystem::path& path) { return core::lossy_utf8(path.native()); }

std::filesystem::path path_from_utf8(std::string_view text) { return std::filesystem::path(std::string(text)); }

} // namespace platform
