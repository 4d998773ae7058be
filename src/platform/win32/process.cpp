#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/command_line.h"
#include "platform/os_error.h"
#include "platform/process.h"
#include "platform/thread.h"
#include "platform/win32/program_path.h"
#include "platform/win32/wide.h"

#include <condition_variable>
#include <memory>
#include <mutex>

#include <windows.h>

namespace platform {

namespace {

constexpr DWORD read_chunk = 64 * 1024;
constexpr DWORD write_chunk = 64 * 1024;

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    Handle(Handle&& o) noexcept : m_h(o.release()) {}
    Handle& operator=(Handle&& o) noexcept
    {
        if (this != &o) {
            close();
            m_h = o.release();
        }
        return *this;
    }
    ~Handle() { close(); }
    HANDLE get() const { return m_h; }
    HANDLE release()
    {
        HANDLE h = m_h;
        m_h = nullptr;
        return h;
    }
    void close()
    {
        if (m_h)
            CloseHandle(m_h);
        m_h = nullptr;
    }

private:
    HANDLE m_h = nullptr;
};

// Our end of a pipe is not inheritable; the child's end is, but reaches only this child
// through the explicit handle list below.
core::Result<void> make_pipe(Handle& parent_end, Handle& child_end, bool child_reads)
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE rd = nullptr, wr = nullptr;
    if (!CreatePipe(&rd, &wr, &sa, 0))
        return core::fail(last_os_error_text());
    Handle r(rd), w(wr);
    Handle& ours = child_reads ? w : r;
    if (!SetHandleInformation(ours.get(), HANDLE_FLAG_INHERIT, 0))
        return core::fail(last_os_error_text());
    parent_end = std::move(ours);
    child_end = std::move(child_reads ? r : w);
    return core::ok();
}

// An inheritable copy of one of our own standard handles; none when we have none (a
// GUI-subsystem program started without redirection).
Handle inheritable_std_handle(DWORD which)
{
    HANDLE h = GetStdHandle(which);
    if (!h || h == INVALID_HANDLE_VALUE)
        return {};
    HANDLE dup = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h, GetCurrentProcess(), &dup, 0, TRUE, DUPLICATE_SAME_ACCESS))
        return {};
    return Handle(dup);
}

core::Result<Handle> null_device()
{
    SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
    HANDLE h = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return core::fail(last_os_error_text());
    return Handle(h);
}

// Drains one captured stream on a thread of its own. The state is shared so that the
// thread may outlive run() when the child is abandoned; run() waits for `done` instead of
// joining (see platform/thread.h for why no std::thread is detached here).
struct Drain {
    explicit Drain(Handle p) : pipe(std::move(p)) {}
    Handle pipe;
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
std::shared_ptr<Drain> start_drain(Handle pipe)
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
    // Always a full path: CreateProcessW never searches for the program.
    const std::wstring application = VANO_TRY(win32::program_path(spec.program));

    Handle child_in, child_out, child_err, our_in, our_out, our_err;
    if (spec.stdin_mode == StdinMode::null_device)
        child_in = VANO_TRY(null_device());
    else if (spec.stdin_mode == StdinMode::pipe)
        VANO_TRY(make_pipe(our_in, child_in, true));
    else
        child_in = inheritable_std_handle(STD_INPUT_HANDLE);
    if (spec.stdout_mode == OutputMode::capture)
        VANO_TRY(make_pipe(our_out, child_out, false));
    else
        child_out = inheritable_std_handle(STD_OUTPUT_HANDLE);
    if (spec.stderr_mode == OutputMode::capture)
        VANO_TRY(make_pipe(our_err, child_err, false));
    else
        child_err = inheritable_std_handle(STD_ERROR_HANDLE);

    // Only the child's own three handles are inherited, never handles that other threads
    // happen to hold open at this moment.
    HANDLE inherit_list[3];
    DWORD inherit_count = 0;
    for (HANDLE h : {child_in.get(), child_out.get(), child_err.get()})
        if (h)
            inherit_list[inherit_count++] = h;

    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    std::unique_ptr<char[]> attr_storage;
    struct AttrGuard {
        LPPROC_THREAD_ATTRIBUTE_LIST list = nullptr;
        ~AttrGuard()
        {
            if (list)
                DeleteProcThreadAttributeList(list);
        }
    } attrs;
    DWORD flags = CREATE_NO_WINDOW | CREATE_UNICODE_ENVIRONMENT;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = child_in.get();
    si.StartupInfo.hStdOutput = child_out.get();
    si.StartupInfo.hStdError = child_err.get();
    if (inherit_count > 0) {
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attr_storage = std::make_unique<char[]>(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attr_storage.get());
        if (!InitializeProcThreadAttributeList(list, 1, 0, &size))
            return core::fail(last_os_error_text());
        attrs.list = list;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit_list,
                                       inherit_count * sizeof(HANDLE), nullptr, nullptr))
            return core::fail(last_os_error_text());
        si.lpAttributeList = list;
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }

    std::wstring command_line = win32::widen(join_command_line(win32::narrow(application), spec.args));
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, inherit_count > 0 ? TRUE : FALSE,
                        flags, nullptr, nullptr, &si.StartupInfo, &pi))
        return core::fail(last_os_error_text());
    Handle process(pi.hProcess);
    CloseHandle(pi.hThread);
    child_in.close();
    child_out.close();
    child_err.close();

    ProcessResult result;
    if (detach)
        return result;

    std::shared_ptr<Drain> out_drain, err_drain;
    if (our_out.get())
        out_drain = start_drain(std::move(our_out));
    if (our_err.get())
        err_drain = start_drain(std::move(our_err));

    if (our_in.get()) {
        auto written = write_all(our_in.get(), spec.stdin_bytes);
        our_in.close();
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
    if (WaitForSingleObject(process.get(), INFINITE) == WAIT_OBJECT_0 && GetExitCodeProcess(process.get(), &code))
        result.exit_code = static_cast<int>(code);
    return result;
}

} // namespace platform
