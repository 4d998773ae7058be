#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/env.h"

#include "platform/win32/wide.h"

#include <windows.h>

namespace platform {

namespace {

bool is_valid_utf16(std::wstring_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        const wchar_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 >= text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF)
                return false;
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

} // namespace

std::optional<std::string> env_var(std::string_view name)
{
    const std::wstring key = win32::widen(name);
    std::wstring value(256, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        const DWORD n = GetEnvironmentVariableW(key.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            // An empty value also gives 0, but leaves the last error alone.
            if (GetLastError() == ERROR_ENVVAR_NOT_FOUND)
                return std::nullopt;
            return std::string();
        }
        if (n < value.size()) {
            value.resize(n);
            break;
        }
        value.resize(n);
    }
    if (!is_valid_utf16(value))
        return std::nullopt;
    return win32::narrow(value);
}

void set_env_var(std::string_view name, const std::optional<std::string>& value)
{
    const std::wstring key = win32::widen(name);
    if (value)
        SetEnvironmentVariableW(key.c_str(), win32::widen(*value).c_str());
    else
        SetEnvironmentVariableW(key.c_str(), nullptr);
}

std::filesystem::path temp_dir()
{
    wchar_t buf[MAX_PATH + 2];
    const DWORD n = GetTempPathW(MAX_PATH + 2, buf);
    if (n == 0 || n > MAX_PATH + 1)
        return std::filesystem::path(L"C:\\Windows\\Temp");
    std::wstring dir(buf, n);
    // The answer ends in a backslash; the folder is named without it.
    while (dir.size() > 3 && (dir.back() == L'\\' || dir.back() == L'/'))
        dir.pop_back();
    return std::filesystem::path(dir);
}

} // namespace platform
