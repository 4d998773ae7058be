#ifndef _WIN32
#error "win32 implementation"
#endif
#include "platform/thread.h"

#include <memory>

#include <process.h>
#include <windows.h>

namespace platform {
namespace {

unsigned __stdcall run_body(void* arg)
{
    const std::unique_ptr<std::move_only_function<void()>> body(static_cast<std::move_only_function<void()>*>(arg));
    (*body)();
    return 0;
}

} // namespace

// Not std::thread: winpthreads reuses a thread's record once it is detached and has
// ended, while that thread may still be tearing the record down; the next thread
// started on it can then never run (seen under load as a connection that is accepted
// and never answered). A thread of the system's own has no such record.
bool start_detached_thread(std::move_only_function<void()> body)
{
    auto owned = std::make_unique<std::move_only_function<void()>>(std::move(body));
    const auto handle = _beginthreadex(nullptr, 0, run_body, owned.get(), 0, nullptr);
    if (handle == 0)
        return false;
    owned.release();
    CloseHandle(reinterpret_cast<HANDLE>(handle));
    return true;
}

} // namespace platform
