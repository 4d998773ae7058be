#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/win32/spawn.h"

#include "platform/command_line.h"
#include "platform/os_error.h"
#include "platform/win32/program_path.h"
#include "platform/win32/wide.h"

#include <memory>

namespace platform::win32 {

namespace {

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

// A job that ends its processes when its last handle closes; none when the system
// refuses one, or the child cannot join it.
Handle kill_on_close_job(HANDLE process)
{
    Handle job(CreateJobObjectW(nullptr, nullptr));
    if (!job)
        return {};
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits) ||
        !AssignProcessToJobObject(job.get(), process))
        return {};
    return job;
}

} // namespace

core::Result<Spawned> spawn(const std::string& program, const std::vector<std::string>& args, StdinMode in,
                            OutputMode out, OutputMode err, JobMode job)
{
    // Always a full path: CreateProcessW never searches for the program.
    const std::wstring application = VANO_TRY(program_path(program));

    Spawned child;
    Handle child_in, child_out, child_err;
    if (in == StdinMode::null_device)
        child_in = VANO_TRY(null_device());
    else if (in == StdinMode::pipe)
        VANO_TRY(make_pipe(child.in, child_in, true));
    else
        child_in = inheritable_std_handle(STD_INPUT_HANDLE);
    if (out == OutputMode::capture)
        VANO_TRY(make_pipe(child.out, child_out, false));
    else
        child_out = inheritable_std_handle(STD_OUTPUT_HANDLE);
    if (err == OutputMode::capture)
        VANO_TRY(make_pipe(child.err, child_err, false));
    else
        child_err = inheritable_std_handle(STD_ERROR_HANDLE);

    // Only the child's own three handles are inherited, never handles that other threads
    // happen to hold open at this moment: a grandchild that outlives the child (the
    // browser's `cmd`) must not hold our own output open either.
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
    // Suspended until it sits in the job, so that nothing it starts escapes the job.
    if (job == JobMode::kill_on_close)
        flags |= CREATE_SUSPENDED;
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

    std::wstring command_line = widen(join_command_line(narrow(application), args));
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(application.c_str(), command_line.data(), nullptr, nullptr, inherit_count > 0 ? TRUE : FALSE,
                        flags, nullptr, nullptr, &si.StartupInfo, &pi))
        return core::fail(last_os_error_text());
    child.process.reset(pi.hProcess);
    const Handle thread(pi.hThread);
    if (job == JobMode::kill_on_close) {
        // Grandchildren such as the browser's `cmd` end with the job; under wine every one
        // of them also holds our own standard error open at the Unix level.
        child.job = kill_on_close_job(pi.hProcess);
        ResumeThread(thread.get());
    }
    return child;
}

} // namespace platform::win32
