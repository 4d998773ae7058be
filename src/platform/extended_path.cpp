#include "platform/extended_path.h"

#include <vector>

namespace platform {

namespace {

constexpr std::wstring_view extended_prefix = L"\\\\?\\";
constexpr std::wstring_view extended_unc_prefix = L"\\\\?\\UNC\\";

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

// Win32 takes any character before a colon as a drive, letter or not ("1:\x", "@:x"): such
// a path names no file of the current folder, not even an alternate stream of one.
bool has_drive(std::wstring_view p) { return p.size() >= 2 && !is_separator(p[0]) && p[1] == L':'; }

wchar_t upper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// "\\.\x" and "\\?\x" with either separator: the device namespace.
bool is_device_form(std::wstring_view p)
{
    return p.size() >= 4 && is_separator(p[0]) && is_separator(p[1]) && (p[2] == L'.' || p[2] == L'?') &&
           is_separator(p[3]);
}

// An absolute path split into its root ("C:" or "UNC\server\share") and its components.
struct Split {
    std::wstring root;
    std::vector<std::wstring> parts;
};

void push_parts(std::wstring_view rest, std::vector<std::wstring>& parts)
{
    std::size_t i = 0;
    while (i < rest.size()) {
        std::size_t end = i;
        while (end < rest.size() && !is_separator(rest[end]))
            ++end;
        const std::wstring_view part = rest.substr(i, end - i);
        if (part == L"..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != L".") {
            parts.emplace_back(part);
        }
        i = end + 1;
    }
}

// The next component of `p` from `i` on, moving `i` past it and its separators.
std::wstring_view take_component(std::wstring_view p, std::size_t& i)
{
    while (i < p.size() && is_separator(p[i]))
        ++i;
    const std::size_t start = i;
    while (i < p.size() && !is_separator(p[i]))
        ++i;
    return p.substr(start, i - start);
}

// `cwd` is absolute: "C:\...", "\\server\share\..." or one of their extended forms.
Split split_current(std::wstring_view cwd)
{
    if (cwd.starts_with(extended_unc_prefix))
        cwd.remove_prefix(extended_unc_prefix.size()); // leaves "server\share\..."
    else if (cwd.starts_with(extended_prefix))
        cwd.remove_prefix(extended_prefix.size());
    Split s;
    if (has_drive(cwd)) {
        s.root = cwd.substr(0, 2);
        push_parts(cwd.substr(2), s.parts);
        return s;
    }
    std::size_t i = 0;
    const std::wstring_view server = take_component(cwd, i);
    const std::wstring_view share = take_component(cwd, i);
    s.root = L"UNC\\" + std::wstring(server) + L"\\" + std::wstring(share);
    push_parts(cwd.substr(i), s.parts);
    return s;
}

} // namespace

std::wstring extended_length_path(std::wstring_view path, std::wstring_view current_dir)
{
    if (path.empty() || path.starts_with(extended_prefix) || path.starts_with(L"\\??\\"))
        return std::wstring(path);
    if (is_device_form(path)) {
        std::wstring kept(path);
        for (auto& c : kept)
            if (c == L'/')
                c = L'\\';
        return kept;
    }
    Split s;
    std::wstring_view rest;
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        std::size_t i = 2;
        const std::wstring_view server = take_component(path, i);
        const std::wstring_view share = take_component(path, i);
        s.root = L"UNC\\" + std::wstring(server) + L"\\" + std::wstring(share);
        rest = path.substr(i);
    } else if (has_drive(path)) {
        const bool rooted = path.size() > 2 && is_separator(path[2]);
        const Split current = split_current(current_dir);
        if (!rooted && current.root.size() == 2 && upper(current.root[0]) == upper(path[0]))
            s = current;
        else
            s.root = path.substr(0, 2);
        rest = path.substr(2);
    } else {
        s = split_current(current_dir);
        if (is_separator(path[0]))
            s.parts.clear();
        rest = path;
    }
    push_parts(rest, s.parts);

    std::wstring out(extended_prefix);
    out += s.root;
    for (const auto& part : s.parts) {
        out += L'\\';
        out += part;
    }
    // A drive's root needs its separator ("\\?\C:" is the volume itself); a trailing one
    // elsewhere is kept as Win32 keeps it.
    if (s.parts.empty() ? s.root.size() == 2 || is_separator(path.back()) : is_separator(path.back()))
        out += L'\\';
    return out;
}

} // namespace platform
