#ifdef _WIN32
#error "posix implementation"
#endif
#include "platform/posix/spawn.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace platform::posix {

namespace {

// No signal blocked and every signal at its default action in the child, whatever the
// starting thread had blocked or this process had ignored: an ignored SIGINT or SIGHUP
// would otherwise outlive exec and make the child deaf to it.
class SpawnSignals {
public:
    SpawnSignals()
    {
        posix_spawnattr_init(&m_attr);
        sigset_t none, all;
        sigemptyset(&none);
        // glibc skips the signals whose action cannot change (SIGKILL, SIGSTOP).
        sigfillset(&all);
        posix_spawnattr_setsigmask(&m_attr, &none);
        posix_spawnattr_setsigdefault(&m_attr, &all);
        posix_spawnattr_setflags(&m_attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSignals() { posix_spawnattr_destroy(&m_attr); }
    SpawnSignals(const SpawnSignals&) = delete;
    SpawnSignals& operator=(const SpawnSignals&) = delete;

    const posix_spawnattr_t* get() const { return &m_attr; }

private:
    posix_spawnattr_t m_attr;
};

class FileActions {
public:
    FileActions() { posix_spawn_file_actions_init(&m_actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&m_actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;

    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions;
};

struct Pipe {
    Fd read;
    Fd write;
};

core::Result<Pipe> make_pipe()
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return core::fail(last_os_error_text());
    return Pipe{Fd(fds[0]), Fd(fds[1])};
}

} // namespace

core::Result<Spawned> spawn(const std::string& program, const std::vector<std::string>& args, StdinMode in,
                            OutputMode out, OutputMode err)
{
    FileActions actions;
    Pipe in_pipe, out_pipe, err_pipe;
    if (in == StdinMode::null_device) {
        posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0);
    } else if (in == StdinMode::pipe) {
        in_pipe = VANO_TRY(make_pipe());
        posix_spawn_file_actions_adddup2(actions.get(), in_pipe.read.get(), 0);
    }
    if (out == OutputMode::capture) {
        out_pipe = VANO_TRY(make_pipe());
        posix_spawn_file_actions_adddup2(actions.get(), out_pipe.write.get(), 1);
    }
    if (err == OutputMode::capture) {
        err_pipe = VANO_TRY(make_pipe());
        posix_spawn_file_actions_adddup2(actions.get(), err_pipe.write.get(), 2);
    }

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    const SpawnSignals signals;
    Spawned child;
    const int rc = ::posix_spawnp(&child.pid, program.c_str(), actions.get(), signals.get(), argv.data(), environ);
    if (rc != 0)
        return core::fail(os_error_text(rc));
    child.in = std::move(in_pipe.write);
    child.out = std::move(out_pipe.read);
    child.err = std::move(err_pipe.read);
    return child;
}

std::optional<int> exit_code_of(int status)
{
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return std::nullopt;
}

std::optional<int> wait_exit_code(pid_t pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return std::nullopt;
    }
    return exit_code_of(status);
}

} // namespace platform::posix
