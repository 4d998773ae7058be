#include "platform/extended_path.h"

#ifdef _WIN32
#include "platform/process.h"
#include "platform/unicode.h"

#include "support/scratch_dir.h"
#endif

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

TEST(ExtendedPath, SpellsEveryFormAsWritten)
{
    struct Case {
        std::string_view name;
        std::wstring_view path;
        std::wstring_view current_dir;
        std::wstring_view expected;
    };
    const Case cases[] = {
        {"drive path", L"C:\\Users\\a\\report.pdf", L"D:\\", L"\\\\?\\C:\\Users\\a\\report.pdf"},
        {"trailing dot and blank kept", L"C:\\d\\a.txt.", L"C:\\", L"\\\\?\\C:\\d\\a.txt."},
        {"trailing blank kept", L"C:\\d\\b.txt ", L"C:\\", L"\\\\?\\C:\\d\\b.txt "},
        {"device names are names", L"C:\\d\\CON", L"C:\\", L"\\\\?\\C:\\d\\CON"},
        {"device name with an extension", L"C:\\d\\aux.log", L"C:\\", L"\\\\?\\C:\\d\\aux.log"},
        {"forward slashes", L"C:/d/e/f.txt", L"C:\\", L"\\\\?\\C:\\d\\e\\f.txt"},
        {"mixed and repeated separators", L"C:\\d//e\\\\f.txt", L"C:\\", L"\\\\?\\C:\\d\\e\\f.txt"},
        {"dot components", L"C:\\d\\.\\e\\.\\f", L"C:\\", L"\\\\?\\C:\\d\\e\\f"},
        {"dot-dot components", L"C:\\d\\e\\..\\..\\f\\g\\..", L"C:\\", L"\\\\?\\C:\\f"},
        {"dot-dot stops at the drive root", L"C:\\..\\..\\f", L"C:\\", L"\\\\?\\C:\\f"},
        {"three dots are a name", L"C:\\d\\...\\f", L"C:\\", L"\\\\?\\C:\\d\\...\\f"},
        {"dots inside names stay", L"C:\\d\\..x\\.y", L"C:\\", L"\\\\?\\C:\\d\\..x\\.y"},
        {"drive root", L"C:\\", L"D:\\x", L"\\\\?\\C:\\"},
        {"drive root through dot-dot", L"C:\\d\\..", L"D:\\x", L"\\\\?\\C:\\"},
        {"trailing separator kept", L"C:\\d\\e\\", L"C:\\", L"\\\\?\\C:\\d\\e\\"},
        {"relative path", L"sub\\f.txt", L"C:\\work\\dir", L"\\\\?\\C:\\work\\dir\\sub\\f.txt"},
        {"relative path with dot-dot", L"..\\f.txt", L"C:\\work\\dir\\", L"\\\\?\\C:\\work\\f.txt"},
        {"relative path with a trailing dot", L"report.", L"C:\\work", L"\\\\?\\C:\\work\\report."},
        {"dot alone is the current folder", L".", L"C:\\work", L"\\\\?\\C:\\work"},
        {"rooted on the current drive", L"\\top\\f", L"D:\\work\\dir", L"\\\\?\\D:\\top\\f"},
        {"drive-relative on the current drive", L"c:f.txt", L"C:\\work", L"\\\\?\\C:\\work\\f.txt"},
        {"drive-relative on another drive", L"E:f.txt", L"C:\\work", L"\\\\?\\E:\\f.txt"},
        {"drive alone is its current folder", L"C:", L"C:\\work", L"\\\\?\\C:\\work"},
        {"last capital letter", L"Z:\\tmp", L"C:\\work", L"\\\\?\\Z:\\tmp"},
        {"character before the capitals", L"@:\\x", L"C:\\work", L"\\\\?\\@:\\x"},
        {"character after the capitals", L"[:x", L"C:\\work", L"\\\\?\\[:\\x"},
        {"character before the small letters", L"`:\\x", L"C:\\work", L"\\\\?\\`:\\x"},
        {"character after the small letters", L"{:x", L"C:\\work", L"\\\\?\\{:\\x"},
        {"digit is a drive, not a stream of a file", L"1:stream", L"C:\\work", L"\\\\?\\1:\\stream"},
        {"colon alone is a name", L":", L"C:\\work", L"\\\\?\\C:\\work\\:"},
        {"separator before a colon is no drive", L"\\:x", L"C:\\work", L"\\\\?\\C:\\:x"},
        {"share", L"\\\\server\\share\\d\\f.txt", L"C:\\", L"\\\\?\\UNC\\server\\share\\d\\f.txt"},
        {"share with forward slashes", L"//server/share/d/NUL.txt", L"C:\\", L"\\\\?\\UNC\\server\\share\\d\\NUL.txt"},
        {"dot-dot stops at the share", L"\\\\server\\share\\d\\..\\..\\f", L"C:\\", L"\\\\?\\UNC\\server\\share\\f"},
        {"share root", L"\\\\server\\share\\", L"C:\\", L"\\\\?\\UNC\\server\\share\\"},
        {"relative to a share", L"d\\f", L"\\\\server\\share\\w", L"\\\\?\\UNC\\server\\share\\w\\d\\f"},
        {"rooted on a share", L"\\d", L"\\\\server\\share\\w", L"\\\\?\\UNC\\server\\share\\d"},
        {"relative to an extended current folder", L"f.", L"\\\\?\\C:\\long\\w", L"\\\\?\\C:\\long\\w\\f."},
        {"relative to an extended share", L"f", L"\\\\?\\UNC\\server\\share\\w", L"\\\\?\\UNC\\server\\share\\w\\f"},
        {"already extended is kept", L"\\\\?\\C:\\d\\..\\a.txt.", L"D:\\", L"\\\\?\\C:\\d\\..\\a.txt."},
        {"already extended share is kept", L"\\\\?\\UNC\\s\\sh\\f", L"D:\\", L"\\\\?\\UNC\\s\\sh\\f"},
        {"NT prefix is kept", L"\\??\\C:\\f", L"D:\\", L"\\??\\C:\\f"},
        {"pipe is kept", L"\\\\.\\pipe\\vano test", L"C:\\", L"\\\\.\\pipe\\vano test"},
        {"device is kept", L"\\\\.\\NUL", L"C:\\", L"\\\\.\\NUL"},
        {"device with forward slashes", L"//./pipe/p", L"C:\\", L"\\\\.\\pipe\\p"},
        {"empty stays empty", L"", L"C:\\work", L""},
        {"Korean name", L"C:\\\uC0AC\uC9C4\\\uD55C\uAE00 .jpg", L"C:\\", L"\\\\?\\C:\\\uC0AC\uC9C4\\\uD55C\uAE00 .jpg"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(platform::extended_length_path(c.path, c.current_dir), c.expected);
    }
}

TEST(ExtendedPath, LongPathsKeepEveryComponent)
{
    std::wstring path = L"C:\\";
    std::wstring expected = L"\\\\?\\C:\\";
    for (int i = 0; i < 40; ++i) {
        path += L"folder" + std::to_wstring(i) + L"\\.\\";
        expected += L"folder" + std::to_wstring(i) + L"\\";
    }
    path += L"leaf.";
    expected += L"leaf.";
    ASSERT_GT(expected.size(), 300u);
    EXPECT_EQ(platform::extended_length_path(path, L"D:\\"), expected);
}

#ifdef _WIN32
// The system's own completion of plain paths is the judge: each path below, taken against
// a real current folder, spells what GetFullPathNameW makes of it. Left out are the names
// that Win32 changes and the extended form keeps on purpose (trailing dots and blanks, so
// also "...", and device names), and "C:" alone, to which wine adds a separator.
TEST(ExtendedPath, CompletesPathsAsWin32Does)
{
    const std::vector<std::wstring> paths = {
        L"sub\\f.txt", L"..\\f.txt", L".", L"\\top\\f", L"c:f.txt", L"E:f.txt", L"Z:",
        L"C:/d//e\\.\\f\\..\\g", L"C:\\..\\..\\f", L"C:\\d\\e\\", L"C:\\d\\..x\\.y",
        L"\\\\server\\share\\d\\..\\..\\f", L"//server/share/x", L"\\\\server\\share\\",
        L"A:\\x", L"Z:\\x", L"a:x", L"z:\\x", L"@:\\x", L"[:x", L"`:\\x", L"{:x", L"1:stream", L"\u00e9:x",
        L"::x", L":", L"\\:x", L"C:\\\uC0AC\uC9C4\\\uD55C\uAE00.jpg",
    };
    test_support::ScratchDir dir;
    const std::wstring cwd = dir.path().native();
    platform::ProcessSpec spec;
    spec.program = VANO_FULL_PATH;
    spec.args.push_back(platform::path_to_utf8(cwd));
    for (const auto& p : paths)
        spec.args.push_back(platform::path_to_utf8(p));
    const auto result = platform::run(spec);
    ASSERT_TRUE(result) << result.error();
    ASSERT_EQ(result->exit_code, 0) << result->stderr_bytes;
    std::istringstream lines(result->stdout_bytes);
    for (const auto& p : paths) {
        SCOPED_TRACE(platform::path_to_utf8(p));
        std::string line;
        ASSERT_TRUE(std::getline(lines, line));
        const std::wstring full = platform::path_from_utf8(line).native();
        const std::wstring expected =
            full.starts_with(L"\\\\") ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
        EXPECT_EQ(platform::extended_length_path(p, cwd), expected);
    }
}
#endif

} // namespace
