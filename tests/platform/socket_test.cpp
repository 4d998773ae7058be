// Writing a whole buffer to a loopback peer that reads it all, or that resets the
// connection in the middle.
#include "platform/socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>

namespace {

using namespace std::chrono_literals;

// Only a guard against a send that never ends; nothing here is timed.
constexpr auto wait_limit = 20s;

// Several times what the socket buffers hold, so that the send blocks and goes out in
// many partial writes.
constexpr std::size_t payload_bytes = 16u << 20;

std::string patterned(std::size_t size)
{
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = static_cast<char>((i * 7 + i / 4093) & 0xff);
    return out;
}

struct Pair {
    platform::Socket sender; // the accepted side, as the server has it
    platform::Socket peer;
};

Pair connected_pair()
{
    auto listener = platform::Listener::open_loopback(0, 4);
    EXPECT_TRUE(listener);
    auto port = listener->local_port();
    EXPECT_TRUE(port);
    auto peer = platform::connect_loopback(*port, wait_limit);
    EXPECT_TRUE(peer);
    platform::AcceptOutcome got = listener->accept();
    EXPECT_EQ(got.status, platform::AcceptStatus::accepted);
    return {std::move(got.connection), std::move(*peer)};
}

TEST(SocketSendAll, EndsWithEveryByteOnceOrWithAnError)
{
    struct Case {
        std::string_view name;
        bool peer_resets; // closes with the reply's first part unread, before the rest
    };
    const Case cases[] = {
        {"peer reads everything", false},
        {"peer resets in the middle", true},
    };
    const auto payload = std::make_shared<const std::string>(patterned(payload_bytes));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto pair = std::make_shared<Pair>(connected_pair());
        ASSERT_TRUE(pair->sender.is_open());
        // The reset comes between two writes of one reply: under wine a reset that comes
        // while a send is blocked is not always reported.
        if (c.peer_resets) {
            ASSERT_TRUE(pair->sender.send_all("HTTP/1.1 200 OK\r\n"));
            (void)pair->peer.set_recv_timeout(wait_limit);
            char first = 0;
            ASSERT_EQ(pair->peer.recv_some(&first, 1).value_or(0), 1u); // the rest of the line stays unread
            pair->peer.close();
        }
        // Detached, so that a send that never ends fails the test instead of hanging it.
        auto sent = std::make_shared<std::promise<bool>>();
        auto result = sent->get_future();
        std::thread([pair, payload, sent] { sent->set_value(pair->sender.send_all(*payload).has_value()); }).detach();

        std::string got;
        if (!c.peer_resets) {
            char buf[65536];
            (void)pair->peer.set_recv_timeout(wait_limit);
            while (got.size() < payload->size()) {
                auto n = pair->peer.recv_some(buf, sizeof buf);
                if (!n || *n == 0)
                    break;
                got.append(buf, *n);
            }
        }
        ASSERT_EQ(result.wait_for(wait_limit), std::future_status::ready) << "send_all never ended";
        if (c.peer_resets) {
            EXPECT_FALSE(result.get());
        } else {
            EXPECT_TRUE(result.get());
            EXPECT_TRUE(got == *payload) << "received " << got.size() << " bytes, not the payload";
        }
    }
}

enum class MoveInto { new_listener, empty_listener, open_listener };

platform::Listener moved(platform::Listener& from, MoveInto into)
{
    if (into == MoveInto::new_listener)
        return platform::Listener(std::move(from));
    platform::Listener to;
    if (into == MoveInto::open_listener) {
        auto open = platform::Listener::open_loopback(0, 4);
        EXPECT_TRUE(open);
        if (open)
            to = std::move(*open);
        EXPECT_TRUE(to.is_open());
    }
    to = std::move(from);
    return to;
}

// A listener moved into another keeps listening on its port, whatever the target held.
TEST(Listener, MovedListenerStillAccepts)
{
    struct Case {
        std::string_view name;
        MoveInto into;
    };
    const Case cases[] = {
        {"moved into a new one", MoveInto::new_listener},
        {"moved over an empty one", MoveInto::empty_listener},
        {"moved over an open one", MoveInto::open_listener},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto from = platform::Listener::open_loopback(0, 4);
        ASSERT_TRUE(from) << from.error();
        const auto port = from->local_port();
        ASSERT_TRUE(port) << port.error();
        platform::Listener to = moved(*from, c.into);
        EXPECT_FALSE(from->is_open());
        ASSERT_TRUE(to.is_open());
        EXPECT_EQ(to.local_port().value_or(0), *port);
        auto peer = platform::connect_loopback(*port, wait_limit);
        ASSERT_TRUE(peer) << peer.error();
        EXPECT_EQ(to.accept().status, platform::AcceptStatus::accepted);
    }
}

} // namespace
