#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/fs.h"

#include "platform/os_error.h"
#include "platform/posix/private_mode.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <system_error>

namespace platform {

namespace fs = std::filesystem;

namespace {

FileMeta meta_of(const struct stat& st)
{
    FileMeta meta;
    meta.is_dir = S_ISDIR(st.st_mode);
    meta.is_regular_file = S_ISREG(st.st_mode);
    meta.is_name_surrogate = S_ISLNK(st.st_mode);
    meta.size = st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
    return meta;
}

class PosixListing final : public DirListing {
public:
    PosixListing(DIR* dir, fs::path root) : m_dir(dir), m_root(std::move(root)) {}
    ~PosixListing() override { ::closedir(m_dir); }

    std::optional<core::Result<fs::path>> next() override
    {
        if (m_done)
            return std::nullopt;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(m_dir);
            if (!entry) {
                // readdir does not recover from an error: report it once and end.
                m_done = true;
                if (errno != 0)
                    return core::Result<fs::path>(core::fail(last_os_error_text()));
                return std::nullopt;
            }
            const std::string_view name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            m_last_name = name;
            return core::Result<fs::path>(m_root / fs::path(m_last_name));
        }
    }

    core::Result<FileMeta> entry_meta(const fs::path& entry) override
    {
        if (m_last_name.empty())
            return file_meta(entry, FollowLinks::no);
        struct stat st {};
        if (::fstatat(::dirfd(m_dir), m_last_name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return core::fail(last_os_error_text());
        return meta_of(st);
    }

private:
    DIR* m_dir;
    fs::path m_root;
    std::string m_last_name;
    bool m_done = false;
};

} // namespace

core::Result<void> check_no_nul(const fs::path& path)
{
    if (path.native().find('\0') != std::string::npos)
        return core::fail(os_error_text(ENOENT));
    return core::ok();
}

core::Result<FileMeta> file_meta(const fs::path& path, FollowLinks follow)
{
    VANO_TRY(check_no_nul(path));
    struct stat st {};
    const int rc = follow == FollowLinks::yes ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st);
    if (rc != 0)
        return core::fail(last_os_error_text());
    return meta_of(st);
}

core::Result<std::unique_ptr<DirListing>> list_dir(const fs::path& dir)
{
    VANO_TRY(check_no_nul(dir));
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return core::fail(last_os_error_text());
    return std::unique_ptr<DirListing>(std::make_unique<PosixListing>(d, dir));
}

core::Result<void> create_dirs(const fs::path& dir)
{
    VANO_TRY(check_no_nul(dir));
    // Each missing folder on the way is made private; existing ones are left as they are.
    fs::path at;
    for (const auto& part : dir.lexically_normal()) {
        at /= part;
        if (part.empty() || part == at.root_path() || part == "." || part == "..")
            continue;
        if (::mkdir(at.c_str(), posix::private_dir_mode) == 0)
            continue;
        const int err = errno;
        struct stat st {};
        if (err == EEXIST && ::stat(at.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        return core::fail(os_error_text(err == EEXIST ? ENOTDIR : err));
    }
    return core::ok();
}

core::Result<void> rename_replace(const fs::path& from, const fs::path& to)
{
    VANO_TRY(check_no_nul(from));
    VANO_TRY(check_no_nul(to));
    if (::rename(from.c_str(), to.c_str()) != 0)
        return core::fail(last_os_error_text());
    return core::ok();
}

core::Result<void> remove_file(const fs::path& path)
{
    VANO_TRY(check_no_nul(path));
    if (::unlink(path.c_str()) != 0)
        return core::fail(last_os_error_text());
    return core::ok();
}

core::Result<void> copy_file(const fs::path& from, const fs::path& to)
{
    VANO_TRY(check_no_nul(from));
    VANO_TRY(check_no_nul(to));
    std::error_code ec;
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec)
        return core::fail(os_error_text(ec));
    return core::ok();
}

core::Result<fs::path> current_exe_path()
{
    std::error_code ec;
    auto p = fs::read_symlink("/proc/self/exe", ec);
    if (ec)
        return core::fail(os_error_text(ec));
    return p;
}

} // namespace platform
