#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/child_process.h"

#include "platform/command_line.h"
#include "platform/os_error.h"
#include "platform/unicode.h"
#include "platform/win32/program_path.h"
#include "platform/win32/wide.h"

#include <windows.h>

#include <vector>

namespace platform {

namespace {

HANDLE as_handle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

void close_handle(std::intptr_t& h)
{
    if (h != -1)
        CloseHandle(as_handle(h));
    h = -1;
}

} // namespace

core::Result<ChildProcess> ChildProcess::start(const std::filesystem::path& program, const std::vector<std::string>& args)
{
    const std::wstring application = VANO_TRY(win32::program_path(path_to_utf8(program)));
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE out_r = nullptr, out_w = nullptr, err_r = nullptr, err_w = nullptr;
    if (!CreatePipe(&out_r, &out_w, &inherit, 0))
        return core::fail(last_os_error_text());
    if (!CreatePipe(&err_r, &err_w, &inherit, 0)) {
        auto text = last_os_error_text();
        CloseHandle(out_r);
        CloseHandle(out_w);
        return core::fail(std::move(text));
    }
    SetHandleInformation(out_r, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(err_r, HANDLE_FLAG_INHERIT, 0);
    HANDLE null_in = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);

    // Only the three standard handles are inherited: a grandchild that outlives the
    // child (the browser's `cmd`) must not hold our own output open.
    HANDLE inherited[] = {null_in, out_w, err_w};
    SIZE_T list_size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &list_size);
    std::vector<std::uint64_t> list_buffer(list_size / sizeof(std::uint64_t) + 1);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list_buffer.data());
    const bool have_list = InitializeProcThreadAttributeList(list, 1, 0, &list_size) &&
                           UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited,
                                                     sizeof inherited, nullptr, nullptr);

    STARTUPINFOEXW si{};
    si.StartupInfo.cb = sizeof si;
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    si.StartupInfo.hStdInput = null_in;
    si.StartupInfo.hStdOutput = out_w;
    si.StartupInfo.hStdError = err_w;
    si.lpAttributeList = have_list ? list : nullptr;
    PROCESS_INFORMATION pi{};
    std::wstring line = win32::widen(join_command_line(win32::narrow(application), args));
    // Suspended until it sits in the job, so that nothing it starts escapes the job.
    const DWORD flags = CREATE_NO_WINDOW | CREATE_SUSPENDED | (have_list ? EXTENDED_STARTUPINFO_PRESENT : 0);
    const BOOL ok = CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                                   &si.StartupInfo, &pi);
    std::string error = ok ? std::string() : last_os_error_text();
    if (have_list)
        DeleteProcThreadAttributeList(list);
    CloseHandle(out_w);
    CloseHandle(err_w);
    if (null_in != INVALID_HANDLE_VALUE)
        CloseHandle(null_in);
    if (!ok) {
        CloseHandle(out_r);
        CloseHandle(err_r);
        return core::fail(std::move(error));
    }
    // Grandchildren such as the browser's `cmd` end with the job; under wine every one
    // of them also holds our own standard error open at the Unix level.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
            !AssignProcessToJobObject(job, pi.hProcess)) {
            CloseHandle(job);
            job = nullptr;
        }
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    ChildProcess child;
    if (job)
        child.m_job = reinterpret_cast<std::intptr_t>(job);
    child.m_process = reinterpret_cast<std::intptr_t>(pi.hProcess);
    child.m_out = reinterpret_cast<std::intptr_t>(out_r);
    child.m_err = reinterpret_cast<std::intptr_t>(err_r);
    return child;
}

void ChildProcess::pump(std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool got = false;
        for (auto [owner, buffer] : {std::pair{&m_out, &m_out_buffer}, std::pair{&m_err, &m_err_buffer}}) {
            if (*owner == -1)
                continue;
            DWORD available = 0;
            if (!PeekNamedPipe(as_handle(*owner), nullptr, 0, nullptr, &available, nullptr)) {
                close_handle(*owner); // broken pipe: every writer has gone
                continue;
            }
            if (available == 0)
                continue;
            std::string chunk(available, '\0');
            DWORD read = 0;
            if (ReadFile(as_handle(*owner), chunk.data(), available, &read, nullptr) && read > 0) {
                buffer->append(chunk.data(), read);
                got = true;
            }
        }
        if (got || std::chrono::steady_clock::now() >= deadline || (m_out == -1 && m_err == -1))
            return;
        Sleep(1);
    }
}

std::optional<int> ChildProcess::wait_for(std::chrono::milliseconds timeout)
{
    if (m_exit_code || m_process == -1)
        return m_exit_code;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (WaitForSingleObject(as_handle(m_process), 1) == WAIT_OBJECT_0) {
            DWORD code = 0;
            if (!GetExitCodeProcess(as_handle(m_process), &code))
                return std::nullopt;
            m_exit_code = static_cast<int>(code);
            return m_exit_code;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        pump(std::chrono::milliseconds(0));
    }
}

std::uint32_t ChildProcess::pid() const
{
    return m_process == -1 ? 0 : static_cast<std::uint32_t>(GetProcessId(as_handle(m_process)));
}

void ChildProcess::kill()
{
    if (m_process == -1 || m_exit_code)
        return;
    TerminateProcess(as_handle(m_process), 1);
    WaitForSingleObject(as_handle(m_process), 5000);
    m_exit_code = 1;
}

void ChildProcess::release()
{
    kill();
    close_handle(m_job); // ends whatever the child left running
    close_handle(m_process);
    close_handle(m_out);
    close_handle(m_err);
}

} // namespace platform
