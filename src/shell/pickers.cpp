#include "shell/pickers.h"

#include "core/utf8.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/unicode.h"
#include "shell/powershell.h"

#include <string>

namespace shell {

namespace {

constexpr std::string_view file_script =
    "[Console]::OutputEncoding = [System.Text.Encoding]::UTF8; Add-Type -AssemblyName System.Windows.Forms; "
    "$d = New-Object System.Windows.Forms.OpenFileDialog; $d.Multiselect = $true; "
    "$d.Title = 'VANO Quillet로 공유할 파일 선택'; "
    "if ($d.ShowDialog() -eq 'OK') { $d.FileNames | ForEach-Object { Write-Output $_ } }";

constexpr std::string_view folder_script =
    "[Console]::OutputEncoding = [System.Text.Encoding]::UTF8; Add-Type -AssemblyName System.Windows.Forms; "
    "$d = New-Object System.Windows.Forms.FolderBrowserDialog; "
    "$d.Description = 'VANO Quillet로 공유할 폴더를 선택하세요'; "
    "if ($d.ShowDialog() -eq 'OK') { Write-Output $d.SelectedPath }";

} // namespace

core::Result<std::optional<std::vector<std::filesystem::path>>> pick_paths(PickKind kind)
{
    platform::ProcessSpec spec;
    spec.program = std::string(powershell_program);
    spec.args = powershell_args(kind == PickKind::folder ? folder_script : file_script, Apartment::single_threaded);
    auto result = platform::run(spec);
    if (!result)
        return core::fail("파일 선택창 실행 실패: " + result.error());
    // A failing script counts as a cancel, whatever it printed.
    if (result->exit_code != 0)
        return std::nullopt;
    auto paths = parse_path_lines(result->stdout_bytes);
    if (paths.empty())
        return std::nullopt;
    return paths;
}

std::vector<std::filesystem::path> parse_path_lines(std::string_view output)
{
    const std::string text = core::lossy_utf8(output);
    std::vector<std::filesystem::path> paths;
    std::string_view rest = text;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
        if (end != std::string_view::npos && line.ends_with('\r'))
            line.remove_suffix(1);
        const std::string trimmed = platform::trim_unicode_ws(line);
        if (trimmed.empty())
            continue;
        // A line holding NUL names no file, whatever the OS would find before the NUL.
        auto path = platform::path_from_utf8(trimmed);
        if (platform::check_no_nul(path))
            paths.push_back(std::move(path));
    }
    return paths;
}

} // namespace shell
