#pragma once
// Names of one folder level of an archive, kept apart where the archive is unpacked.

#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace zipper {

enum class NameOf { file, folder };

// The names given out at one level (the archive's top, or inside one folder). Two names
// (NFC) clash when they are equal after lower-casing, or after the simple upper case of
// each character once trailing dots and blanks are dropped: readers on Windows and macOS
// unpack into folders that ignore letter case (Windows compares names by its own upper
// case, one character for one, and drops those trailing characters), so one would
// overwrite the other.
class LevelNames {
public:
    // `originals`: every name of this level that will be claimed (NFC), so that a renamed
    // twin never takes the name that a later item holds.
    explicit LevelNames(const std::vector<std::string>& originals);

    // `name` (NFC) when no earlier claim clashes with it; otherwise the first free
    // "stem (2).ext", "stem (3).ext", ... (a folder's number goes at the end of its name);
    // the number goes before trailing dots and blanks ("a.txt." gives "a (2).txt.").
    [[nodiscard]] std::string claim(const std::string& name, NameOf kind);

private:
    enum class Taken { claimed, claimed_or_original };
    // Claims `name` unless one of its keys is taken.
    bool take(const std::string& name, Taken taken);

    std::unordered_set<std::string> m_originals;
    std::unordered_set<std::string> m_claimed;
};

} // namespace zipper
