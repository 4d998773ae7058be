// `--install` and `--uninstall` of the built program: the message as one line on the
// right stream, exact bytes, and the exit code.
#include "platform/process.h"
#include "support/scratch_dir.h"

#include <gtest/gtest.h>

namespace {

TEST(MenuSwitches, MessageLineAndExitCode)
{
    test_support::ScratchDir home;
    struct Case {
        std::string_view name;
        std::vector<std::string> args;
        std::optional<std::string> local;
        int exit_code;
        std::string out, err;
    };
    const Case cases[] = {
        {"install without a folder fails", {"--install"}, std::nullopt, 1, "",
         "LOCALAPPDATA 환경변수를 찾을 수 없습니다.\n"},
        {"the first switch wins", {"--install", "--uninstall"}, std::nullopt, 1, "",
         "LOCALAPPDATA 환경변수를 찾을 수 없습니다.\n"},
#ifndef _WIN32
        // Under wine these would remove the prefix's real keys while the registry test
        // runs beside them; that test removes them through the program instead.
        {"uninstall always succeeds", {"--uninstall"}, home.path().string(), 0,
         "Windows 탐색기 우클릭 메뉴에서 제거되었습니다.\n", ""},
        {"a skipped launch argument hides the switch after it",
         {"-NSDocumentRevisionsDebugMode", "--install", "--uninstall"}, home.path().string(), 0,
         "Windows 탐색기 우클릭 메뉴에서 제거되었습니다.\n", ""},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::ScopedEnv local("LOCALAPPDATA", c.local);
        test_support::ScopedEnv appdata("APPDATA", std::nullopt);
        platform::ProcessSpec spec;
        spec.program = VANO_EXE_PATH;
        spec.args = c.args;
        const auto result = platform::run(spec);
        ASSERT_TRUE(result) << result.error();
        EXPECT_EQ(result->exit_code, c.exit_code);
        EXPECT_EQ(result->stdout_bytes, c.out);
        EXPECT_EQ(result->stderr_bytes, c.err);
    }
}

} // namespace
