#include "platform/child_process.h"
#include "platform/env.h"
#include "platform/fs.h"
#include "platform/process.h"
#include "platform/stdio.h"
#include "platform/unicode.h"

#include "support/scratch_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#ifdef _WIN32
#include "platform/args.h"
#else
#include <csignal>
#include <cstdint>
#include <functional>
#include <pthread.h>
#endif

namespace {

// This test binary doubles as the child: with VANO_PROCESS_CHILD set it does what the
// variable says and exits before any test runs.
constexpr const char* child_var = "VANO_PROCESS_CHILD";
constexpr const char* exit_var = "VANO_PROCESS_EXIT";
// "two-lines": the file whose appearance lets the second line go.
constexpr const char* go_var = "VANO_PROCESS_GO";
constexpr std::size_t chatty_bytes = 256 << 10;

std::vector<std::string> own_arguments()
{
#ifdef _WIN32
    // CommandLineToArgvW: a parser independent of the quoting under test.
    return platform::command_line_args();
#else
    std::ifstream in("/proc/self/cmdline", std::ios::binary);
    std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> args;
    std::istringstream parts(all);
    for (std::string arg; std::getline(parts, arg, '\0');)
        args.push_back(arg);
    if (!args.empty())
        args.erase(args.begin());
    return args;
#endif
}

[[maybe_unused]] const int child_hook = [] {
    const auto mode = platform::env_var(child_var);
    if (!mode)
        return 0;
    if (*mode == "echo-args") {
        for (const auto& a : own_arguments()) {
            platform::write_stdout(a);
            platform::write_stdout(std::string_view("\0", 1));
        }
    } else if (*mode == "echo-stdin") {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;)
            platform::write_stdout(std::string_view(buf, n));
    } else if (*mode == "two-lines") {
        platform::write_stdout("one\n");
        const auto go = platform::path_from_utf8(platform::env_var(go_var).value_or(""));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
        while (!std::filesystem::exists(go) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        platform::write_stdout("two\n");
    } else if (*mode == "run-without-stdin") {
        // The first pipe that run() makes then gets descriptor 0 on POSIX.
        std::fclose(stdin);
        platform::set_env_var(child_var, "echo-args");
        platform::ProcessSpec spec;
        spec.program = platform::path_to_utf8(platform::current_exe_path().value_or(""));
        spec.args = {"through the first descriptor"};
        spec.stderr_mode = platform::OutputMode::inherit;
        const auto result = platform::run(spec);
        platform::write_stdout(result ? result->stdout_bytes : result.error());
    } else if (*mode == "chatty") {
        // Far more than a pipe holds, on both streams in turn: a parent that drains one
        // stream before the other would deadlock.
        const std::string chunk(4096, 'x');
        for (std::size_t sent = 0; sent < chatty_bytes; sent += chunk.size()) {
            platform::write_stderr(chunk);
            platform::write_stdout(chunk);
        }
    }
    const auto code = platform::env_var(exit_var);
    std::exit(code ? std::atoi(code->c_str()) : 0);
}();

std::vector<std::string> split_nul(const std::string& bytes)
{
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\0') {
            out.push_back(bytes.substr(start, i - start));
            start = i + 1;
        }
    }
    return out;
}

platform::ProcessSpec self_spec()
{
    auto exe = platform::current_exe_path();
    EXPECT_TRUE(exe.has_value());
    platform::ProcessSpec spec;
    spec.program = exe ? platform::path_to_utf8(*exe) : std::string();
    return spec;
}

TEST(Process, ArgumentsArriveUnchanged)
{
    test_support::ScopedEnv mode(child_var, "echo-args");
    const std::vector<std::string> args{
        "", "plain", "a b", "tab\there", R"(quote"inside)", R"(back\"slash)", R"(trail\)", R"(trail space\)",
        R"(two\\)", "한글 인자", "%1", R"("C:\Users\a b\vano-duvid.exe" "%V")", R"(C:\Program Files\x)",
    };
    auto spec = self_spec();
    spec.args = args;
    auto result = platform::run(spec);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(result->exit_code, 0);
    EXPECT_EQ(split_nul(result->stdout_bytes), args);
}

TEST(Process, StreamsExitCodesAndStartFailures)
{
    std::string big_input;
    for (int i = 0; i < 30000; ++i)
        big_input += "줄 " + std::to_string(i) + "\n";
    struct Case {
        std::string_view name;
        std::string mode;
        std::string exit_code;
        platform::StdinMode stdin_mode;
        std::string input;
        std::size_t expect_out;
        std::size_t expect_err;
    };
    const Case cases[] = {
        {"piped input read back", "echo-stdin", "0", platform::StdinMode::pipe, big_input, big_input.size(), 0},
        {"null device reads as empty", "echo-stdin", "0", platform::StdinMode::null_device, {}, 0, 0},
        {"empty pipe input", "echo-stdin", "0", platform::StdinMode::pipe, {}, 0, 0},
        {"both streams drained at once", "chatty", "7", platform::StdinMode::null_device, {}, chatty_bytes,
         chatty_bytes},
        {"exit code passed on", "silent", "3", platform::StdinMode::null_device, {}, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test_support::ScopedEnv mode(child_var, c.mode);
        test_support::ScopedEnv code(exit_var, c.exit_code);
        auto spec = self_spec();
        spec.stdin_mode = c.stdin_mode;
        spec.stdin_bytes = c.input;
        auto result = platform::run(spec);
        ASSERT_TRUE(result) << result.error();
        EXPECT_EQ(result->exit_code, std::atoi(c.exit_code.c_str()));
        EXPECT_FALSE(result->stdin_error);
        EXPECT_EQ(result->stdout_bytes.size(), c.expect_out);
        EXPECT_EQ(result->stderr_bytes.size(), c.expect_err);
        if (c.mode == "echo-stdin") {
            EXPECT_EQ(result->stdout_bytes, c.input);
        }
    }
}

// A program started without standard input still has every stream of its children read.
TEST(Process, RunsChildrenWhenItsOwnInputIsClosed)
{
    test_support::ScopedEnv mode(child_var, "run-without-stdin");
    auto result = platform::run(self_spec());
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(result->exit_code, 0);
    EXPECT_EQ(split_nul(result->stdout_bytes), std::vector<std::string>{"through the first descriptor"})
        << result->stdout_bytes;
}

// Lines come as the child writes them, and the end of its output is told from a time-out.
TEST(ChildProcess, ReadsLinesAsTheyComeUntilTheOutputEnds)
{
    test_support::ScratchDir dir;
    test_support::ScopedEnv mode(child_var, "two-lines");
    test_support::ScopedEnv go(go_var, platform::path_to_utf8(dir / "go"));
    test_support::ScopedEnv code(exit_var, "5");
    const auto exe = platform::current_exe_path();
    ASSERT_TRUE(exe);
    auto child = platform::ChildProcess::start(*exe, {});
    ASSERT_TRUE(child) << child.error();
    EXPECT_NE(child->pid(), 0u);
    const auto limit = std::chrono::minutes(2);
    EXPECT_EQ(child->read_stdout_line(limit).value_or("(none)"), "one\n");
    std::ofstream(dir / "go").put('x');
    EXPECT_EQ(child->read_stdout_line(limit).value_or("(none)"), "two\n");
    const auto end = child->read_stdout_line(limit);
    ASSERT_FALSE(end);
    EXPECT_EQ(end.error(), "standard output ended before a line feed");
    EXPECT_EQ(child->wait_for(limit), 5);
}

TEST(Process, MissingProgramGivesTheOsErrorText)
{
    // ENOENT and ERROR_FILE_NOT_FOUND are both 2.
    platform::ProcessSpec spec;
    spec.program = "vano-no-such-program";
    auto result = platform::run(spec);
    ASSERT_FALSE(result);
    EXPECT_TRUE(result.error().ends_with(" (os error 2)")) << result.error();
}

TEST(Process, InputToAChildThatNeverReadsFailsWithoutWaiting)
{
    test_support::ScopedEnv mode(child_var, "silent");
    auto spec = self_spec();
    spec.stdin_mode = platform::StdinMode::pipe;
    spec.stdin_bytes = std::string(8 << 20, 'x');
    spec.stdout_mode = platform::OutputMode::inherit;
    spec.stderr_mode = platform::OutputMode::inherit;
    auto result = platform::run(spec);
    ASSERT_TRUE(result) << result.error();
    ASSERT_TRUE(result->stdin_error);
    EXPECT_TRUE(result->stdin_error->find("(os error ") != std::string::npos) << *result->stdin_error;
    EXPECT_FALSE(result->exit_code);
}

#ifdef _WIN32
// Windows never searches for a program: a copy of this binary in the current folder starts
// only by its full path; any other name of it is a program not found.
TEST(Process, OnlyAFullPathStartsAProgramOfOurOwn)
{
    test_support::ScratchDir dir;
    const auto self = platform::current_exe_path();
    ASSERT_TRUE(self);
    std::filesystem::copy_file(*self, dir / "helper.exe");
    const auto old_cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const std::string drive = platform::path_to_utf8(dir.path()).substr(0, 2);
    test_support::ScopedEnv mode(child_var, "silent");
    struct Case {
        std::string name;
        bool starts;
    };
    const Case cases[] = {
        {platform::path_to_utf8(dir / "helper.exe"), true},
        {"helper.exe", false},
        {"helper", false},
        {".\\helper.exe", false},
        {drive + "helper.exe", false},
        {"reg.exe", false},
        {"REG", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::ProcessSpec spec;
        spec.program = c.name;
        const auto result = platform::run(spec);
        EXPECT_EQ(result.has_value(), c.starts);
        if (result)
            EXPECT_EQ(result->exit_code, 0);
        else
            EXPECT_TRUE(result.error().ends_with(" (os error 2)")) << result.error();
    }
    std::filesystem::current_path(old_cwd);
}
#endif

#ifndef _WIN32
// Blocks and ignores signals for as long as it lives; the mask is the calling thread's,
// the dispositions the whole process's.
class SignalsSetAside {
public:
    SignalsSetAside()
    {
        sigset_t blocked;
        sigemptyset(&blocked);
        for (const int sig : {SIGUSR1, SIGTERM, SIGCHLD, SIGPIPE})
            sigaddset(&blocked, sig);
        ::pthread_sigmask(SIG_BLOCK, &blocked, &m_old_mask);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (std::size_t i = 0; i < std::size(ignored); ++i)
            ::sigaction(ignored[i], &ignore, &m_old_actions[i]);
    }
    ~SignalsSetAside()
    {
        for (std::size_t i = 0; i < std::size(ignored); ++i)
            ::sigaction(ignored[i], &m_old_actions[i], nullptr);
        ::pthread_sigmask(SIG_SETMASK, &m_old_mask, nullptr);
    }
    SignalsSetAside(const SignalsSetAside&) = delete;
    SignalsSetAside& operator=(const SignalsSetAside&) = delete;

private:
    static constexpr int ignored[] = {SIGHUP, SIGINT, SIGUSR2, SIGPIPE};
    sigset_t m_old_mask{};
    struct sigaction m_old_actions[std::size(ignored)] {};
};

TEST(Process, ChildrenStartWithDefaultSignals)
{
    const std::vector<std::string> args = {"-E", "^Sig(Blk|Ign):", "/proc/self/status"};
    struct Case {
        std::string_view name;
        std::function<std::string()> child_status;
    };
    const Case cases[] = {
        {"run",
         [&] {
             platform::ProcessSpec spec;
             spec.program = "/bin/grep";
             spec.args = args;
             const auto result = platform::run(spec);
             EXPECT_TRUE(result) << (result ? "" : result.error());
             return result ? result->stdout_bytes : std::string();
         }},
        {"watched child",
         [&] {
             auto child = platform::ChildProcess::start("/bin/grep", args);
             EXPECT_TRUE(child) << (child ? "" : child.error());
             if (!child)
                 return std::string();
             std::string lines;
             for (int i = 0; i < 2; ++i) {
                 const auto line = child->read_stdout_line(std::chrono::seconds(60));
                 EXPECT_TRUE(line) << (line ? "" : line.error());
                 if (line)
                     lines += *line;
             }
             EXPECT_EQ(child->wait_for(std::chrono::seconds(60)), 0);
             return lines;
         }},
    };
    // glibc's spawn leaves its two reserved signals (32 and 33) ignored; no program can
    // use them.
    const std::uint64_t glibc_reserved = (std::uint64_t{1} << 31) | (std::uint64_t{1} << 32);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string status;
        std::thread([&] {
            const SignalsSetAside aside;
            status = c.child_status();
        }).join();
        std::istringstream lines(status);
        std::string blocked_name, ignored_name;
        std::uint64_t blocked = ~0ull, ignored = ~0ull;
        lines >> blocked_name >> std::hex >> blocked >> ignored_name >> ignored;
        EXPECT_EQ(blocked_name, "SigBlk:") << status;
        EXPECT_EQ(ignored_name, "SigIgn:") << status;
        EXPECT_EQ(blocked, 0u) << status;
        EXPECT_EQ(ignored & ~glibc_reserved, 0u) << status;
    }
}
#endif

TEST(Process, DetachedChildMayNotHaveCapturedStreams)
{
    platform::ProcessSpec spec = self_spec();
    spec.wait = platform::WaitMode::detach;
    EXPECT_FALSE(platform::run(spec));
}

} // namespace
