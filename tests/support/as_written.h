#pragma once
// Files under names that a plain Windows path does not reach: a trailing dot or blank
// ("a.txt.", "b.txt "), device names ("CON", "NUL.txt", "aux.log"), paths past 260
// characters. Made here, apart from the code under test, so that a test sees what the code
// reads back.

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

namespace test_support {

// `path` (absolute) spelled so that the OS takes every name in it as written: on Windows
// a drive path gets the "\\?\" prefix; elsewhere every name is taken as written anyway.
inline std::filesystem::path as_written(std::filesystem::path path)
{
    const std::wstring root = path.root_name().wstring();
    if (root.size() != 2 || root[1] != L':')
        return path;
    path.make_preferred();
    return std::filesystem::path(L"\\\\?\\" + path.wstring());
}

inline void put_as_written(const std::filesystem::path& path, std::string_view bytes)
{
    std::ofstream(as_written(path), std::ios::binary) << bytes;
}

inline std::string bytes_as_written(const std::filesystem::path& path)
{
    std::ifstream in(as_written(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Creates the folder `path` (its parent must exist); false when it cannot be made.
inline bool make_dir_as_written(const std::filesystem::path& path)
{
    std::error_code ec;
    return std::filesystem::create_directory(as_written(path), ec) && !ec;
}

// `folder`, renamed first when its name ends in a dot or blank: std::filesystem on Windows
// cannot list it under that name (and its remove_all spins for good on it).
inline std::filesystem::path listable(const std::filesystem::path& folder)
{
    const auto name = folder.filename().native();
    if (name.empty() || (name.back() != '.' && name.back() != ' '))
        return folder;
    std::filesystem::path renamed = folder;
    renamed += "_";
    std::error_code ec;
    std::filesystem::rename(folder, renamed, ec);
    return ec ? folder : renamed;
}

// Removes everything below the folder `path` and the folder itself, links not followed,
// each name as written (std::filesystem::remove_all gives up on such names under
// Windows). Errors are ignored.
inline void remove_tree_as_written(const std::filesystem::path& path)
{
    std::error_code ec;
    std::vector<std::filesystem::path> folders{as_written(path)};
    // Folders in the order found, each after its parent, so removed back to front.
    for (std::size_t next = 0; next < folders.size(); ++next) {
        folders[next] = listable(folders[next]);
        for (const auto& entry : std::filesystem::directory_iterator(folders[next], ec)) {
            if (entry.is_directory(ec) && !entry.is_symlink(ec))
                folders.push_back(entry.path());
            else
                std::filesystem::remove(entry.path(), ec);
        }
    }
    for (auto it = folders.rbegin(); it != folders.rend(); ++it)
        std::filesystem::remove(*it, ec);
}

} // namespace test_support
