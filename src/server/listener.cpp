#include "server/listener.h"

#include "platform/thread.h"
#include "server/connection.h"

#include <atomic>
#include <memory>
#include <thread>

namespace server {
namespace {

bool should_stop(ServerState& state, bool idle_exit, const AcceptLoopTimes& times)
{
    if (state.quit_requested())
        return true;
    if (!idle_exit)
        return false;
    // Read in this order: a request recorded after `now` gives last > now, handled as 0.
    const std::uint64_t now = elapsed_ms(state.start_instant());
    const bool seen = state.page_seen();
    const std::uint64_t last = state.last_seen_ms();
    // A selection still being analysed is one the page has yet to show and start.
    if (state.job_busy() || state.analysis_pending())
        return false;
    return idle_time_up(now, seen, last, times);
}

using ConnectionCount = std::shared_ptr<std::atomic<std::size_t>>;

// One place among the connections served at once, given back when the connection's
// thread ends (or was never started). Shared with the threads: they may outlive the loop.
class ConnectionSlot {
public:
    explicit ConnectionSlot(ConnectionCount count) : m_count(std::move(count)) { m_count->fetch_add(1); }
    ConnectionSlot(ConnectionSlot&& other) noexcept = default;
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;
    ~ConnectionSlot()
    {
        if (m_count)
            m_count->fetch_sub(1);
    }

private:
    ConnectionCount m_count;
};

void serve_on_new_thread(platform::Socket conn, const SharedState& state, RouteTable routes,
                         platform::MonoInstant deadline, const ConnectionTimes& times, ConnectionSlot slot)
{
    // No thread to be had: the connection is dropped (closed with the thread's
    // arguments, its slot given back) and the loop goes on with the next one.
    (void)platform::start_detached_thread([conn = std::move(conn), state, routes, deadline, times,
                                              slot = std::move(slot)]() mutable {
        handle_connection(std::move(conn), state, routes, deadline, times);
    });
}

} // namespace

core::Result<LocalListener> bind_local_listener()
{
    auto listener = platform::Listener::open_loopback(0, LISTEN_BACKLOG);
    if (!listener)
        return core::fail("로컬 공유 서버 포트 바인딩 실패: " + listener.error());
    auto port = listener->local_port();
    if (!port)
        return core::fail("로컬 포트 조회 실패: " + port.error());
    (void)listener->set_nonblocking(); // a blocking listener still serves, only slower to quit
    return LocalListener{std::move(*listener), *port};
}

bool idle_time_up(std::uint64_t now, bool seen, std::uint64_t last, const AcceptLoopTimes& times)
{
    const std::uint64_t idle = last > now ? 0 : now - last;
    return idle > (seen ? times.idle_limit_ms : times.no_page_limit_ms);
}

void accept_loop(platform::Listener listener, SharedState state, RouteTable routes, bool idle_exit)
{
    accept_loop(std::move(listener), std::move(state), routes, idle_exit, AcceptLoopTimes{});
}

void accept_loop(platform::Listener listener, SharedState state, RouteTable routes, bool idle_exit,
                 const AcceptLoopTimes& times)
{
    const ConnectionCount served = std::make_shared<std::atomic<std::size_t>>(0);
    while (!should_stop(*state, idle_exit, times)) {
        if (served->load() >= times.max_connections) {
            // At the cap: new connections wait in the backlog, not accepted to be dropped.
            std::this_thread::sleep_for(times.poll_interval);
            continue;
        }
        platform::AcceptOutcome got = listener.accept();
        switch (got.status) {
        case platform::AcceptStatus::accepted:
            serve_on_new_thread(std::move(got.connection), state, routes,
                                platform::monotonic_now() + times.request_limit, times.connection,
                                ConnectionSlot(served));
            break;
        case platform::AcceptStatus::would_block:
            std::this_thread::sleep_for(times.poll_interval);
            break;
        case platform::AcceptStatus::failed:
            std::this_thread::sleep_for(times.retry_interval);
            break;
        }
    }
    // Ended by idleness as well: from here on a newcomer must become the instance itself.
    state->request_quit();
    state.reset();
    listener.close();
}

} // namespace server
