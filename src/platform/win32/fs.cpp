#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/fs.h"

#include "platform/os_error.h"
#include "platform/win32/handle.h"
#include "platform/win32/os_path.h"

#include <windows.h>

namespace platform {

namespace fs = std::filesystem;

namespace {

constexpr DWORD name_surrogate_bit = 0x20000000;
constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

using win32::Handle;

// A drive's root keeps its separator: without it the path names the volume.
std::wstring without_trailing_separators(std::wstring p)
{
    while (p.size() > 1 && (p.back() == L'\\' || p.back() == L'/') && p[p.size() - 2] != L':')
        p.pop_back();
    return p;
}

// Access to such a target is denied for good, not while someone holds it open.
bool is_folder_or_read_only(const fs::path& path)
{
    const DWORD attributes = GetFileAttributesW(win32::os_path(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
}

// `full` is in the form that os_path gives, without trailing separators.
core::Result<void> create_dirs_at(const std::wstring& full)
{
    const DWORD attrs = GetFileAttributesW(full.c_str());
    if (attrs != INVALID_FILE_ATTRIBUTES) {
        if (attrs & FILE_ATTRIBUTE_DIRECTORY)
            return core::ok();
        return core::fail(os_error_text(ERROR_ALREADY_EXISTS));
    }
    // The parent, as long as it is more than the "\\?\" prefix.
    const std::size_t cut = full.find_last_of(L'\\');
    if (cut != std::wstring::npos && cut > 4) {
        std::wstring parent = full.substr(0, cut);
        if (parent.back() == L':')
            parent += L'\\';
        VANO_TRY(create_dirs_at(parent));
    }
    if (!CreateDirectoryW(full.c_str(), nullptr)) {
        const DWORD err = GetLastError();
        // Another process may have made it in between.
        const DWORD now = GetFileAttributesW(full.c_str());
        if (err == ERROR_ALREADY_EXISTS && now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY))
            return core::ok();
        return core::fail(os_error_text(static_cast<int>(err)));
    }
    return core::ok();
}

// `tag` is only read for a reparse point.
FileMeta meta_of(DWORD attributes, DWORD size_high, DWORD size_low, DWORD tag)
{
    FileMeta meta;
    meta.is_dir = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (!meta.is_dir)
        meta.size = (static_cast<std::uint64_t>(size_high) << 32) | size_low;
    meta.is_name_surrogate = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (tag & name_surrogate_bit) != 0;
    meta.is_regular_file = !meta.is_dir && !meta.is_name_surrogate && (attributes & FILE_ATTRIBUTE_DEVICE) == 0;
    return meta;
}

class Win32Listing final : public DirListing {
public:
    Win32Listing(HANDLE find, const WIN32_FIND_DATAW& first, fs::path root)
        : m_find(find), m_data(first), m_root(std::move(root)), m_have(true)
    {
    }
    Win32Listing(fs::path root) : m_find(INVALID_HANDLE_VALUE), m_root(std::move(root)), m_done(true) {}
    ~Win32Listing() override
    {
        if (m_find != INVALID_HANDLE_VALUE)
            FindClose(m_find);
    }

    std::optional<core::Result<fs::path>> next() override
    {
        while (!m_done) {
            if (!m_have) {
                if (!FindNextFileW(m_find, &m_data)) {
                    const DWORD err = GetLastError();
                    // The search does not recover from an error: report it once and end.
                    m_done = true;
                    if (err != ERROR_NO_MORE_FILES)
                        return core::Result<fs::path>(core::fail(os_error_text(static_cast<int>(err))));
                    return std::nullopt;
                }
            }
            m_have = false;
            const std::wstring_view name = m_data.cFileName;
            if (name == L"." || name == L"..")
                continue;
            m_given = true;
            return core::Result<fs::path>(m_root / fs::path(std::wstring(name)));
        }
        return std::nullopt;
    }

    // The search already gave attributes, size and reparse tag.
    core::Result<FileMeta> entry_meta(const fs::path& entry) override
    {
        if (!m_given)
            return file_meta(entry, FollowLinks::no);
        return meta_of(m_data.dwFileAttributes, m_data.nFileSizeHigh, m_data.nFileSizeLow, m_data.dwReserved0);
    }

private:
    HANDLE m_find;
    WIN32_FIND_DATAW m_data{};
    fs::path m_root;
    bool m_have = false;
    bool m_given = false;
    bool m_done = false;
};

} // namespace

core::Result<void> check_no_nul(const fs::path& path)
{
    if (path.native().find(L'\0') != std::wstring::npos)
        return core::fail(os_error_text(ERROR_FILE_NOT_FOUND));
    return core::ok();
}

core::Result<FileMeta> file_meta(const fs::path& path, FollowLinks follow)
{
    VANO_TRY(check_no_nul(path));
    if (follow == FollowLinks::yes) {
        Handle h(CreateFileW(win32::os_path(path).c_str(), 0, share_all, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!h.valid()) {
            const DWORD err = GetLastError();
            // A file held open without sharing cannot be opened even for its attributes;
            // unless it is a link, its own metadata is the answer.
            if (err == ERROR_SHARING_VIOLATION) {
                auto own = file_meta(path, FollowLinks::no);
                if (own && !own->is_name_surrogate)
                    return own;
            }
            return core::fail(os_error_text(static_cast<int>(err)));
        }
        // A pipe or a device opened by its name is no file of the disk and no folder; some
        // systems have no file information to give for it.
        if (GetFileType(h.get()) != FILE_TYPE_DISK)
            return FileMeta{};
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(h.get(), &info))
            return core::fail(last_os_error_text());
        // Followed to its end: whatever the target is, it is no longer the link.
        return meta_of(info.dwFileAttributes & ~DWORD{FILE_ATTRIBUTE_REPARSE_POINT}, info.nFileSizeHigh,
                       info.nFileSizeLow, 0);
    }
    const std::wstring os = win32::os_path(path);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(os.c_str(), GetFileExInfoStandard, &data))
        return core::fail(last_os_error_text());
    DWORD tag = 0;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // The reparse tag comes only with a directory search.
        WIN32_FIND_DATAW found{};
        const std::wstring name = without_trailing_separators(os);
        HANDLE find = FindFirstFileW(name.c_str(), &found);
        if (find == INVALID_HANDLE_VALUE)
            return core::fail(last_os_error_text());
        FindClose(find);
        tag = found.dwReserved0;
    }
    return meta_of(data.dwFileAttributes, data.nFileSizeHigh, data.nFileSizeLow, tag);
}

core::Result<std::unique_ptr<DirListing>> list_dir(const fs::path& dir)
{
    VANO_TRY(check_no_nul(dir));
    std::wstring pattern = win32::os_path(dir);
    if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/')
        pattern += L'\\';
    pattern += L'*';
    WIN32_FIND_DATAW first{};
    HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &first, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD err = GetLastError();
        // A drive root without entries has not even "." to give.
        if (err == ERROR_FILE_NOT_FOUND)
            return std::unique_ptr<DirListing>(std::make_unique<Win32Listing>(dir));
        return core::fail(os_error_text(static_cast<int>(err)));
    }
    return std::unique_ptr<DirListing>(std::make_unique<Win32Listing>(find, first, dir));
}

core::Result<void> create_dirs(const fs::path& dir)
{
    VANO_TRY(check_no_nul(dir));
    if (dir.empty())
        return core::ok();
    return create_dirs_at(without_trailing_separators(win32::os_path(dir)));
}

core::Result<void> rename_replace(const fs::path& from, const fs::path& to)
{
    VANO_TRY(check_no_nul(from));
    VANO_TRY(check_no_nul(to));
    // Windows refuses to replace a file while anyone has it open, and readers (a newcomer
    // reading the session file, an instance loading the settings) hold it only for a
    // moment: wait them out for a while, so that a rename is as sure as elsewhere.
    const std::wstring os_from = win32::os_path(from);
    const std::wstring os_to = win32::os_path(to);
    const auto deadline = GetTickCount64() + 2000;
    while (!MoveFileExW(os_from.c_str(), os_to.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        const DWORD error = GetLastError();
        const bool held = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION ||
                          (error == ERROR_ACCESS_DENIED && !is_folder_or_read_only(to));
        if (!held || GetTickCount64() >= deadline)
            return core::fail(os_error_text(static_cast<int>(error)));
        Sleep(10);
    }
    return core::ok();
}

core::Result<void> remove_file(const fs::path& path)
{
    VANO_TRY(check_no_nul(path));
    if (!DeleteFileW(win32::os_path(path).c_str()))
        return core::fail(last_os_error_text());
    return core::ok();
}

core::Result<void> copy_file(const fs::path& from, const fs::path& to)
{
    VANO_TRY(check_no_nul(from));
    VANO_TRY(check_no_nul(to));
    if (!CopyFileW(win32::os_path(from).c_str(), win32::os_path(to).c_str(), FALSE))
        return core::fail(last_os_error_text());
    return core::ok();
}

core::Result<fs::path> current_exe_path()
{
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0)
            return core::fail(last_os_error_text());
        if (n < buf.size()) {
            buf.resize(n);
            return fs::path(buf);
        }
        buf.resize(buf.size() * 2);
    }
}

} // namespace platform
