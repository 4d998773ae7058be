#pragma once
// A value behind a mutex that remembers when a holder failed (threw) while holding it.
// Such a lock is "poisoned" for good: later holders still get the value, told that it
// may be half-updated, and pick their fallback.

#include <atomic>
#include <mutex>
#include <utility>

namespace core {

template <class T>
class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T value) : m_value(std::move(value)) {}

    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    // Holds the lock for its lifetime. `poisoned()` tells whether an earlier holder failed.
    class Lock {
    public:
        explicit Lock(Guarded& g) : m_guard(g), m_lock(g.m_mutex) {}
        ~Lock()
        {
            if (std::uncaught_exceptions() > m_exceptions_at_start)
                m_guard.m_poisoned.store(true, std::memory_order_relaxed);
        }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

        [[nodiscard]] bool poisoned() const { return m_guard.m_poisoned.load(std::memory_order_relaxed); }
        T& value() { return m_guard.m_value; }
        T* operator->() { return &m_guard.m_value; }
        T& operator*() { return m_guard.m_value; }

    private:
        Guarded& m_guard;
        std::unique_lock<std::mutex> m_lock;
        int m_exceptions_at_start = std::uncaught_exceptions();
    };

    [[nodiscard]] Lock lock() { return Lock(*this); }

    // Copy of the value, or `fallback` when the lock is poisoned (the value is not read).
    [[nodiscard]] T snapshot_or(T fallback)
    {
        auto l = lock();
        if (l.poisoned())
            return fallback;
        return l.value();
    }

    // Marks the lock poisoned, as a holder that failed would. For tests of the fallbacks.
    void poison_for_test() { m_poisoned.store(true, std::memory_order_relaxed); }

private:
    std::mutex m_mutex;
    std::atomic<bool> m_poisoned{false};
    T m_value{};
};

} // namespace core
