#include "shell/clipboard.h"

#include "platform/process.h"
#include "shell/powershell.h"

#include <string>

namespace shell {

namespace {

// Reads the text as UTF-8 from standard input, so that no code page and no quoting of
// the command line touches it.
constexpr std::string_view clipboard_script =
    "[Console]::InputEncoding = [System.Text.Encoding]::UTF8; "
    "Set-Clipboard -Value ([Console]::In.ReadToEnd().TrimEnd())";

} // namespace

core::Result<void> copy_to_clipboard(std::string_view text)
{
    platform::ProcessSpec spec;
    spec.program = std::string(powershell_program);
    spec.args = powershell_args(clipboard_script, Apartment::default_model);
    spec.stdin_mode = platform::StdinMode::pipe;
    spec.stdin_bytes = std::string(text);
    spec.stdout_mode = platform::OutputMode::inherit;
    spec.stderr_mode = platform::OutputMode::inherit;
    auto result = platform::run(spec);
    if (!result)
        return core::fail("클립보드 실행 실패: " + result.error());
    if (result->stdin_error)
        return core::fail("클립보드 기록 실패: " + *result->stdin_error);
    // Set-Clipboard fails with a non-zero exit (the clipboard held by another program,
    // access denied): the text reached PowerShell but not the clipboard.
    if (!result->exit_code)
        return core::fail("클립보드 복사 실패: PowerShell의 종료 코드를 읽을 수 없습니다");
    if (*result->exit_code != 0)
        return core::fail("클립보드 복사 실패: PowerShell 종료 코드 " + std::to_string(*result->exit_code));
    return core::ok();
}

} // namespace shell
