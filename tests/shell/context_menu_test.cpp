#include "shell/context_menu.h"

#include "core/utf8.h"
#include "platform/fs.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "platform/unicode.h"
#include "shell/menu_icon.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#ifndef _WIN32
#include "stand_ins.h"
#endif

namespace {

namespace fs = std::filesystem;
using test_support::ScopedEnv;
using test_support::ScratchDir;

constexpr std::string_view file_key = R"(HKCU\Software\Classes\*\shell\VANOQuillet)";
constexpr std::string_view folder_key = R"(HKCU\Software\Classes\Directory\shell\VANOQuillet)";
constexpr std::string_view background_key = R"(HKCU\Software\Classes\Directory\Background\shell\VANOQuillet)";
constexpr std::string_view installed_message =
    "Windows 탐색기 파일·폴더 우클릭 메뉴 및 [보내기] 메뉴에 성공적으로 등록되었습니다.";
constexpr std::string_view removed_message = "Windows 탐색기 우클릭 메뉴에서 제거되었습니다.";

std::string u8(const fs::path& p) { return platform::path_to_utf8(p); }

#ifndef _WIN32

using test_support::Invocation;

constexpr std::string_view local_name = "local 'q' 한글";
constexpr std::string_view roaming_name = "O\u2019Brien's app'data";

// The folder names as the shortcut script must carry them between single quotes: every
// quote mark doubled, PowerShell's typographic one included.
std::string doubled(std::string s)
{
    const std::pair<std::string_view, std::string_view> names[] = {
        {local_name, "local ''q'' 한글"},
        {roaming_name, "O\u2019\u2019Brien''s app''data"},
    };
    for (const auto& [plain, quoted] : names)
        if (const auto at = s.find(plain); at != std::string::npos)
            s.replace(at, plain.size(), quoted);
    return s;
}

// Every child of a complete install, in order.
std::vector<Invocation> full_install(const std::string& program, const std::string& icon,
                                     const std::optional<std::string>& link)
{
    std::vector<Invocation> out;
    const std::pair<std::string_view, std::pair<std::string_view, std::string_view>> keys[] = {
        {file_key, {"VANO Quillet로 공유하기", "%1"}},
        {folder_key, {"VANO Quillet로 폴더 공유하기", "%1"}},
        {background_key, {"이 폴더를 VANO Quillet로 공유하기", "%V"}},
    };
    for (const auto& [key, rest] : keys) {
        const std::string k(key);
        out.push_back({"reg", {"add", k, "/ve", "/d", std::string(rest.first), "/f"}});
        out.push_back({"reg", {"add", k, "/v", "Icon", "/d", icon, "/f"}});
        out.push_back({"reg", {"add", k + "\\command", "/ve", "/d",
                               "\"" + program + "\" \"" + std::string(rest.second) + "\"", "/f"}});
    }
    if (link)
        out.push_back({"powershell",
                       {"-NoProfile", "-WindowStyle", "Hidden", "-Command",
                        "$s=(New-Object -COM WScript.Shell).CreateShortcut('" + doubled(*link) + "');$s.TargetPath='" +
                            doubled(program) + "';$s.IconLocation='" + doubled(icon) + "';$s.Save()"}});
    return out;
}

class ContextMenuStandIns : public ::testing::Test {
protected:
    test_support::StandIns stand_ins;
    ScratchDir home;
    // Quotes and Korean text in both folders: the script must double the quotes.
    const fs::path local = home / platform::path_from_utf8(local_name);
    const fs::path roaming = home / platform::path_from_utf8(roaming_name);
    const std::string link = u8(roaming / "Microsoft" / "Windows" / "SendTo" /
                                platform::path_from_utf8("VANO Quillet로 공유하기.lnk"));
};

TEST_F(ContextMenuStandIns, Install)
{
    const std::string running = u8(*platform::current_exe_path());
    enum class Folder { local, roaming, none };
    struct Case {
        std::string_view name;
        std::optional<std::string> local_var, appdata_var;
        std::string reg_body = "exit 0";
        bool reg_present = true;
        bool dangling_copy = false;
        // The expected outcome.
        Folder folder = Folder::local;
        std::size_t children = 10; // a prefix of the full install
        std::string message = std::string(installed_message);
        bool ok = true;
        bool program_is_copy = true;
    };
    const std::string l = u8(local), r = u8(roaming);
    const std::string not_found = platform::os_error_text(ENOENT);
    const Case cases[] = {
        {.name = "both folders set", .local_var = l, .appdata_var = r},
        {.name = "LOCALAPPDATA missing", .local_var = {}, .appdata_var = r, .folder = Folder::roaming},
        {.name = "empty LOCALAPPDATA names no folder", .local_var = "", .appdata_var = r, .folder = Folder::roaming},
        {.name = "APPDATA missing: no shortcut", .local_var = l, .appdata_var = {}, .children = 9},
        {.name = "neither set", .local_var = {}, .appdata_var = {}, .folder = Folder::none, .children = 0,
         .message = "LOCALAPPDATA 환경변수를 찾을 수 없습니다.", .ok = false},
        {.name = "label of the folder key fails",
         .local_var = l,
         .appdata_var = r,
         .reg_body = R"(case "$2|$3" in 'HKCU\Software\Classes\Directory\shell\VANOQuillet|/ve') exit 1;; esac)",
         .children = 4,
         .message = "Windows 레지스트리 우클릭 메뉴 등록에 실패했습니다.",
         .ok = false},
        {.name = "command of the file key fails",
         .local_var = l,
         .appdata_var = r,
         .reg_body = R"(case "$2" in *\\command) exit 1;; esac)",
         .children = 3,
         .message = "Windows 레지스트리 실행 명령 등록에 실패했습니다.",
         .ok = false},
        {.name = "icon value fails: ignored", .local_var = l, .appdata_var = r,
         .reg_body = R"([ "$3" = /v ] && exit 5; exit 0)"},
        {.name = "reg cannot start", .local_var = l, .appdata_var = r, .reg_present = false, .children = 0,
         .message = "레지스트리 등록 실패: " + not_found, .ok = false},
        {.name = "reg gone before the command step",
         .local_var = l,
         .appdata_var = r,
         .reg_body = R"([ "$3" = /v ] && rm -f "$0"; exit 0)",
         .children = 2,
         .message = "레지스트리 명령 등록 실패: " + not_found,
         .ok = false},
        {.name = "failed copy without an installed copy starts the running program",
         .local_var = l,
         .appdata_var = r,
         .dangling_copy = true,
         .program_is_copy = false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(local);
        fs::remove_all(roaming);
        fs::remove(stand_ins.log_path());
        ScopedEnv local_env("LOCALAPPDATA", c.local_var);
        ScopedEnv appdata_env("APPDATA", c.appdata_var);
        if (c.reg_present)
            stand_ins.add("reg", c.reg_body);
        else
            stand_ins.remove("reg");
        stand_ins.add("powershell", "exit 1"); // its failure is ignored
        const fs::path folder = (c.folder == Folder::roaming ? roaming : local) / "VANOQuillet";
        if (c.dangling_copy) {
            fs::create_directories(folder);
            fs::create_symlink(home / "missing" / "target.exe", folder / "vano-duvid.exe");
        }

        const auto outcome = shell::install_context_menu();
        EXPECT_EQ(outcome.has_value(), c.ok);
        EXPECT_EQ(outcome ? *outcome : outcome.error(), c.message);

        const std::string program = c.program_is_copy ? u8(folder / "vano-duvid.exe") : running;
        auto expected = full_install(program, u8(folder / "vano.ico"),
                                     c.appdata_var && !c.appdata_var->empty() ? std::optional(link) : std::nullopt);
        expected.resize(std::min(expected.size(), c.children));
        EXPECT_EQ(stand_ins.invocations(), expected);

        if (c.folder == Folder::none)
            continue;
        EXPECT_EQ(test_support::read_bytes(folder / "vano.ico"), shell::menu_icon_bytes());
        if (c.program_is_copy) {
            EXPECT_EQ(fs::file_size(folder / "vano-duvid.exe"), fs::file_size(running));
        }
    }
}

TEST_F(ContextMenuStandIns, RunFromTheInstalledCopyCopiesNothing)
{
    const fs::path folder = local / "VANOQuillet";
    fs::create_directories(folder);
    const fs::path copy = folder / "vano-duvid.exe";
    fs::copy_file(VANO_EXE_PATH, copy);
    const auto before = fs::last_write_time(copy);
    ScopedEnv local_env("LOCALAPPDATA", u8(local));
    ScopedEnv appdata_env("APPDATA", std::nullopt);
    stand_ins.add("reg");

    platform::ProcessSpec spec;
    spec.program = u8(copy);
    spec.args = {"--install"};
    const auto run = platform::run(spec);
    ASSERT_TRUE(run) << run.error();
    EXPECT_EQ(run->exit_code, 0) << run->stderr_bytes;
    EXPECT_EQ(fs::last_write_time(copy), before);
    EXPECT_EQ(stand_ins.invocations(), full_install(u8(copy), u8(folder / "vano.ico"), std::nullopt));
}

TEST_F(ContextMenuStandIns, InstallFolderThatCannotBeMade)
{
    fs::create_directories(home.path());
    platform::write_file(home / "plain-file", "x").value();
    ScopedEnv local_env("LOCALAPPDATA", u8(home / "plain-file"));
    stand_ins.add("reg");
    const auto outcome = shell::install_context_menu();
    ASSERT_FALSE(outcome);
    EXPECT_TRUE(outcome.error().starts_with("설치 폴더 생성 실패: ")) << outcome.error();
    EXPECT_TRUE(outcome.error().ends_with(")")) << outcome.error();
    EXPECT_TRUE(stand_ins.invocations().empty());
}

TEST_F(ContextMenuStandIns, Uninstall)
{
    struct Case {
        std::string_view name;
        std::optional<std::string> appdata_var;
        std::string reg_body;
        bool shortcut_left;
    };
    const Case cases[] = {
        {"keys and shortcut", u8(roaming), "exit 0", false},
        {"nothing installed: reg fails, answer unchanged", u8(roaming), "exit 1", false},
        {"APPDATA missing: keys only", std::nullopt, "exit 0", true},
    };
    const std::vector<Invocation> removals{
        {"reg", {"delete", std::string(file_key), "/f"}},
        {"reg", {"delete", std::string(folder_key), "/f"}},
        {"reg", {"delete", std::string(background_key), "/f"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(stand_ins.log_path());
        const fs::path shortcut = platform::path_from_utf8(link);
        fs::create_directories(shortcut.parent_path());
        platform::write_file(shortcut, "lnk").value();
        ScopedEnv appdata_env("APPDATA", c.appdata_var);
        stand_ins.add("reg", c.reg_body);
        EXPECT_EQ(shell::uninstall_context_menu(), removed_message);
        EXPECT_EQ(stand_ins.invocations(), removals);
        EXPECT_EQ(fs::exists(shortcut), c.shortcut_left);
    }
    // With reg missing as well, and the shortcut already gone.
    stand_ins.remove("reg");
    ScopedEnv appdata_env("APPDATA", u8(roaming));
    EXPECT_EQ(shell::uninstall_context_menu(), removed_message);
}

TEST_F(ContextMenuStandIns, Query)
{
    struct Case {
        std::string_view name;
        std::optional<std::string> reg_body; // nothing: reg is missing
        bool installed;
    };
    const Case cases[] = {
        {"key present", "exit 0", true},
        {"key missing", "exit 1", false},
        {"other failure", "exit 2", false},
        {"reg cannot start", std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove(stand_ins.log_path());
        if (c.reg_body)
            stand_ins.add("reg", *c.reg_body);
        else
            stand_ins.remove("reg");
        EXPECT_EQ(shell::is_context_menu_installed(), c.installed);
        const std::vector<Invocation> expected{
            {"reg", {"query", R"(HKCU\Software\Classes\*\shell\VANOQuillet\command)"}}};
        EXPECT_EQ(stand_ins.invocations(), c.reg_body ? expected : std::vector<Invocation>{});
    }
}

#else // wine's own reg, against the prefix's HKCU

// The key as `reg export` writes it: UTF-16 with a byte-order mark.
std::string exported(std::string_view key, const fs::path& file)
{
    platform::ProcessSpec spec;
    spec.program = "reg";
    spec.args = {"export", std::string(key), u8(file), "/y"};
    auto run = platform::run(spec);
    if (!run || run->exit_code != 0)
        return {};
    const std::string bytes = platform::read_file(file).value_or("");
    std::u16string wide;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return core::utf16_to_utf8(wide);
}

// A .reg file writes a string value between quotes with '\' and '"' escaped.
std::string reg_file_string(std::string_view value)
{
    std::string out = "\"";
    for (const char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

TEST(ContextMenuWine, InstallQueryUninstallQuery)
{
    ScratchDir home;
    const fs::path local = home / platform::path_from_utf8("로컬 local");
    const fs::path roaming = home / "roaming";
    ScopedEnv local_env("LOCALAPPDATA", u8(local));
    ScopedEnv appdata_env("APPDATA", u8(roaming));
    // No removal first: while the keys are missing, any instance that starts registers its
    // own copy, and the prefix's registry is shared by every test program.

    const auto outcome = shell::install_context_menu();
    ASSERT_TRUE(outcome) << outcome.error();
    EXPECT_EQ(*outcome, installed_message);
    EXPECT_TRUE(shell::is_context_menu_installed());

    const fs::path folder = local / "VANOQuillet";
    EXPECT_EQ(platform::read_file(folder / "vano.ico").value_or(""), shell::menu_icon_bytes());
    const std::string program = u8(folder / "vano-duvid.exe");
    EXPECT_TRUE(fs::exists(folder / "vano-duvid.exe"));

    struct Case {
        std::string_view key;
        std::string_view label;
        std::string_view placeholder;
    };
    const Case cases[] = {
        {file_key, "VANO Quillet로 공유하기", "%1"},
        {folder_key, "VANO Quillet로 폴더 공유하기", "%1"},
        {background_key, "이 폴더를 VANO Quillet로 공유하기", "%V"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        const std::string text = exported(c.key, home / "export.reg");
        EXPECT_NE(text.find("@=" + reg_file_string(c.label)), std::string::npos) << text;
        EXPECT_NE(text.find("\"Icon\"=" + reg_file_string(u8(folder / "vano.ico"))), std::string::npos) << text;
        const std::string command = "\"" + program + "\" \"" + std::string(c.placeholder) + "\"";
        EXPECT_NE(text.find("\\command]\r\n@=" + reg_file_string(command)), std::string::npos) << text;
    }

    // Removal through the program's own switch: its message arrives as exact bytes.
    platform::ProcessSpec uninstall;
    uninstall.program = VANO_EXE_PATH;
    uninstall.args = {"--uninstall"};
    const auto removed = platform::run(uninstall);
    ASSERT_TRUE(removed) << removed.error();
    EXPECT_EQ(removed->exit_code, 0);
    EXPECT_EQ(removed->stdout_bytes, std::string(removed_message) + "\n");
    EXPECT_FALSE(shell::is_context_menu_installed());
    for (const auto& c : cases)
        EXPECT_EQ(exported(c.key, home / "export.reg"), "") << c.key;
}

#endif

} // namespace
