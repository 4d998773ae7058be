#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/os_error.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/win32/spawn.h"

#include <condition_variable>
#include <memory>
#include <mutex>

#include <windows.h>

namespace platform {

namespace {

constexpr DWORD read_chunk = 64 * 1024;
constexpr DWORD write_chunk = 64 * 1024;

// Drains one captured stream on a thread of its own. The state is shared so that the
// thread may outlive run() when the child is abandoned; run() waits for `done` instead of
// joining (see platform/thread.h for why no std::thread is detached here).
struct Drain {
    explicit Drain(win32::Handle p) : pipe(std::move(p)) {}
    win32::Handle pipe;
    std::string data;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;

    void wait()
    {
        std::unique_lock lock(mutex);
        finished.wait(lock, [this] { return done; });
    }
};

// Starts draining `pipe`. Without a thread the pipe is closed at once: the child's writes
// to it fail and its output is lost, but nothing waits on it.
std::shared_ptr<Drain> start_drain(win32::Handle pipe)
{
    auto drain = std::make_shared<Drain>(std::move(pipe));
    const bool started = start_detached_thread([drain] {
        std::string buf(read_chunk, '\0');
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(drain->pipe.get(), buf.data(), read_chunk, &got, nullptr) || got == 0)
                break;
            drain->data.append(buf.data(), got);
        }
        drain->pipe.close();
        std::lock_guard lock(drain->mutex);
        drain->done = true;
        drain->finished.notify_all();
    });
    if (!started) {
        drain->pipe.close();
        drain->done = true;
    }
    return drain;
}

core::Result<void> write_all(HANDLE h, std::string_view bytes)
{
    while (!bytes.empty()) {
        const DWORD want = bytes.size() < write_chunk ? static_cast<DWORD>(bytes.size()) : write_chunk;
        DWORD put = 0;
        if (!WriteFile(h, bytes.data(), want, &put, nullptr))
            return core::fail(last_os_error_text());
        bytes.remove_prefix(put);
    }
    return core::ok();
}

} // namespace

core::Result<ProcessResult> run(const ProcessSpec& spec)
{
    VANO_TRY(check_process_spec(spec));
    const bool detach = spec.wait == WaitMode::detach;
    auto child = VANO_TRY(win32::spawn(spec.program, spec.args, spec.stdin_mode, spec.stdout_mode, spec.stderr_mode,
                                       win32::JobMode::none));

    ProcessResult result;
    if (detach)
        return result;

    std::shared_ptr<Drain> out_drain, err_drain;
    if (child.out)
        out_drain = start_drain(std::move(child.out));
    if (child.err)
        err_drain = start_drain(std::move(child.err));

    if (child.in) {
        auto written = write_all(child.in.get(), spec.stdin_bytes);
        (void)child.in.close();
        if (!written) {
            // The child is left as it is; the drains end by themselves when it does.
            result.stdin_error = written.error();
            return result;
        }
    }

    for (const auto& [drain, bytes] : {std::pair{out_drain.get(), &result.stdout_bytes},
                                       std::pair{err_drain.get(), &result.stderr_bytes}}) {
        if (!drain)
            continue;
        drain->wait();
        *bytes = std::move(drain->data);
    }

    DWORD code = 0;
    if (WaitForSingleObject(child.process.get(), INFINITE) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(child.process.get(), &code))
        result.exit_code = static_cast<int>(code);
    return result;
}

} // namespace platform
