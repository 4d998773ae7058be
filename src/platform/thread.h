#pragma once
// Threads that run on their own, never joined: a connection's handler, the upload job,
// the app window's start.

#include <functional>

namespace platform {

// Runs `body` on a new thread that nobody waits for. False when no thread could be
// started; `body` is then destroyed without running (what it captured is released).
[[nodiscard]] bool start_detached_thread(std::move_only_function<void()> body);

} // namespace platform
