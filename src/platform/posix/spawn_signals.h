#pragma once
// Spawn attributes that start a child with clean signal state. Header of the posix
// implementation folder only.

#include <csignal>
#include <spawn.h>

namespace platform::posix {

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

} // namespace platform::posix
