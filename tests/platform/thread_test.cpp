// Threads started and never joined.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// Only a guard against a thread that never runs; nothing here is timed.
constexpr auto wait_limit = 20s;

TEST(DetachedThread, RunsTheBodyAndThenReleasesWhatItHeld)
{
    auto held = std::make_shared<int>(7);
    const std::weak_ptr<int> watch = held;
    std::promise<int> seen;
    auto got = seen.get_future();
    ASSERT_TRUE(platform::start_detached_thread(
        [held = std::move(held), seen = std::move(seen)]() mutable { seen.set_value(*held); }));
    ASSERT_EQ(got.wait_for(wait_limit), std::future_status::ready);
    EXPECT_EQ(got.get(), 7);
    const auto deadline = std::chrono::steady_clock::now() + wait_limit;
    while (!watch.expired() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_TRUE(watch.expired());
}

// Threads started while others end, from several threads at once: each must run. (A
// detached std::thread under winpthreads can leave the next thread never running, or
// crash it, when the previous one ends just as it is detached.)
TEST(DetachedThread, ThreadsStartedAsOthersEndAllRun)
{
    constexpr int starters = 8;
    constexpr int rounds = 150;
    std::atomic<int> lost{0};
    std::vector<std::thread> workers;
    for (int s = 0; s < starters; ++s)
        workers.emplace_back([&lost] {
            for (int i = 0; i < rounds && lost.load() == 0; ++i) {
                auto first_ran = std::make_shared<std::atomic<bool>>(false);
                if (!platform::start_detached_thread([first_ran] { first_ran->store(true); })) {
                    ++lost;
                    return;
                }
                const auto deadline = std::chrono::steady_clock::now() + wait_limit;
                while (!first_ran->load() && std::chrono::steady_clock::now() < deadline)
                    std::this_thread::yield();
                std::promise<void> ran;
                auto second_ran = ran.get_future();
                if (!first_ran->load()
                    || !platform::start_detached_thread([ran = std::move(ran)]() mutable { ran.set_value(); })
                    || second_ran.wait_for(wait_limit) != std::future_status::ready) {
                    ++lost;
                    return;
                }
            }
        });
    for (auto& w : workers)
        w.join();
    EXPECT_EQ(lost.load(), 0);
}

} // namespace
