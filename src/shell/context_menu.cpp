#include "shell/context_menu.h"

#include "platform/env.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/unicode.h"
#include "shell/menu_icon.h"
#include "shell/powershell.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

namespace shell {

namespace {

namespace fs = std::filesystem;

struct ShellKey {
    std::string_view key;
    std::string_view label;
    std::string_view placeholder; // what Explorer replaces with the clicked path
};

constexpr std::array<ShellKey, 3> shell_keys{{
    {R"(HKCU\Software\Classes\*\shell\VANOQuillet)", "VANO Quillet로 공유하기", "%1"},
    {R"(HKCU\Software\Classes\Directory\shell\VANOQuillet)", "VANO Quillet로 폴더 공유하기", "%1"},
    {R"(HKCU\Software\Classes\Directory\Background\shell\VANOQuillet)", "이 폴더를 VANO Quillet로 공유하기", "%V"},
}};
constexpr std::string_view query_key = R"(HKCU\Software\Classes\*\shell\VANOQuillet\command)";

constexpr std::string_view folder_name = "VANOQuillet";
constexpr std::string_view exe_name = "vano-duvid.exe";
constexpr std::string_view icon_name = "vano.ico";
constexpr std::string_view shortcut_name = "VANO Quillet로 공유하기.lnk";

constexpr std::string_view installed_message =
    "Windows 탐색기 파일·폴더 우클릭 메뉴 및 [보내기] 메뉴에 성공적으로 등록되었습니다.";
constexpr std::string_view removed_message = "Windows 탐색기 우클릭 메뉴에서 제거되었습니다.";

std::vector<std::string> label_args(const ShellKey& k)
{
    return {"add", std::string(k.key), "/ve", "/d", std::string(k.label), "/f"};
}

std::vector<std::string> icon_args(const ShellKey& k, const std::string& icon)
{
    return {"add", std::string(k.key), "/v", "Icon", "/d", icon, "/f"};
}

std::vector<std::string> command_args(const ShellKey& k, const std::string& program)
{
    std::string command = "\"" + program + "\" \"" + std::string(k.placeholder) + "\"";
    return {"add", std::string(k.key) + "\\command", "/ve", "/d", std::move(command), "/f"};
}

std::vector<std::string> removal_args(const ShellKey& k) { return {"delete", std::string(k.key), "/f"}; }

// A child whose output is collected but not used: only its exit code counts.
platform::ProcessSpec quiet_child(std::string_view program, std::vector<std::string> args)
{
    platform::ProcessSpec spec;
    spec.program = std::string(program);
    spec.args = std::move(args);
    return spec;
}

// Whether the child ended with 0; the failure is the reason it could not start.
core::Result<bool> run_reg(std::vector<std::string> args)
{
    auto result = platform::run(quiet_child("reg", std::move(args)));
    if (!result)
        return core::fail(result.error());
    return result->exit_code == 0;
}

// The text as the body of a PowerShell single-quoted string. PowerShell also takes the
// typographic single quotes U+2018 to U+201B as quote marks, so they are doubled like "'";
// left single, they would end the string early.
std::string single_quoted_body(std::string_view text)
{
    static constexpr std::string_view typographic[] = {"\u2018", "\u2019", "\u201A", "\u201B"};
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\'') {
            out += "''";
            continue;
        }
        bool doubled = false;
        for (const auto q : typographic) {
            if (text.substr(i).starts_with(q)) {
                out.append(q).append(q);
                i += q.size() - 1;
                doubled = true;
                break;
            }
        }
        if (!doubled)
            out += text[i];
    }
    return out;
}

std::string shortcut_script(std::string_view link, std::string_view target, std::string_view icon)
{
    return "$s=(New-Object -COM WScript.Shell).CreateShortcut('" + single_quoted_body(link) + "');$s.TargetPath='" +
           single_quoted_body(target) + "';$s.IconLocation='" + single_quoted_body(icon) + "';$s.Save()";
}

// An empty value names no folder: it would make every path below relative to whatever
// the current folder happens to be.
std::optional<fs::path> folder_var(std::string_view name)
{
    auto value = platform::env_var(name);
    if (!value || value->empty())
        return std::nullopt;
    return platform::path_from_utf8(*value);
}

std::optional<fs::path> shortcut_path()
{
    auto appdata = folder_var("APPDATA");
    if (!appdata)
        return std::nullopt;
    return *appdata / "Microsoft" / "Windows" / "SendTo" / platform::path_from_utf8(shortcut_name);
}

bool path_exists(const fs::path& path) { return platform::file_meta(path, platform::FollowLinks::yes).has_value(); }

} // namespace

core::Result<std::string> install_context_menu()
{
    auto base = folder_var("LOCALAPPDATA");
    if (!base)
        base = folder_var("APPDATA");
    if (!base)
        return core::fail("LOCALAPPDATA 환경변수를 찾을 수 없습니다.");
    const fs::path folder = *base / folder_name;
    if (auto made = platform::create_dirs(folder); !made)
        return core::fail("설치 폴더 생성 실패: " + made.error());
    auto running = platform::current_exe_path();
    if (!running)
        return core::fail("실행 파일 확인 실패: " + running.error());

    const fs::path installed = folder / exe_name;
    // A failed copy is expected while another instance runs from the installed copy.
    if (*running != installed)
        (void)platform::copy_file(*running, installed);
    const std::string program = platform::path_to_utf8(path_exists(installed) ? installed : *running);

    const fs::path icon_path = folder / icon_name;
    (void)platform::write_file(icon_path, menu_icon_bytes());
    const std::string icon = platform::path_to_utf8(icon_path);

    for (const ShellKey& k : shell_keys) {
        auto labelled = run_reg(label_args(k));
        if (!labelled)
            return core::fail("레지스트리 등록 실패: " + labelled.error());
        if (!*labelled)
            return core::fail("Windows 레지스트리 우클릭 메뉴 등록에 실패했습니다.");
        (void)run_reg(icon_args(k, icon));
        auto commanded = run_reg(command_args(k, program));
        if (!commanded)
            return core::fail("레지스트리 명령 등록 실패: " + commanded.error());
        if (!*commanded)
            return core::fail("Windows 레지스트리 실행 명령 등록에 실패했습니다.");
    }

    if (auto link = shortcut_path()) {
        const auto script = shortcut_script(platform::path_to_utf8(*link), program, icon);
        (void)platform::run(quiet_child(powershell_program, powershell_args(script, Apartment::default_model)));
    }
    return std::string(installed_message);
}

std::string uninstall_context_menu()
{
    for (const ShellKey& k : shell_keys)
        (void)run_reg(removal_args(k));
    if (auto link = shortcut_path())
        (void)platform::remove_file(*link);
    return std::string(removed_message);
}

bool is_context_menu_installed()
{
    auto found = run_reg({"query", std::string(query_key)});
    return found && *found;
}

} // namespace shell
