#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "audio/backend/command_queue.h"
#include "audio/backend/reply_channel.h"

namespace quorle::audio {
namespace {

using namespace std::chrono_literals;

// Counts live instances, to show which end destroys undelivered messages.
struct Tracked {
    explicit Tracked(std::atomic<int>& live_count, int v) : live(&live_count), value(v) {
        live->fetch_add(1, std::memory_order_relaxed);
    }
    Tracked(Tracked&& other) noexcept : live(other.live), value(other.value) {
        live->fetch_add(1, std::memory_order_relaxed);
    }
    Tracked& operator=(Tracked&&) = delete;
    ~Tracked() { live->fetch_sub(1, std::memory_order_relaxed); }
    std::atomic<int>* live;
    int value;
};

// A long wait that a correct queue never sits out: the message or the closing wakes it.
constexpr auto kNeverReached = 60s;

TEST(CommandQueue, DeliversInOrderThenReportsClosedOnceTheSenderIsGoneAndEmpty) {
    auto queue = make_command_queue<int>();
    ASSERT_TRUE(queue.sender.send(1));
    ASSERT_TRUE(queue.sender.send(2));
    { auto gone = std::move(queue.sender); }
    for (int expected : {1, 2}) {
        auto received = queue.receiver.receive_for(kNeverReached);
        ASSERT_EQ(received.status, ReceiveStatus::Message);
        EXPECT_EQ(*received.message, expected);
    }
    EXPECT_EQ(queue.receiver.receive_for(kNeverReached).status, ReceiveStatus::Closed);
}

TEST(CommandQueue, AnEmptyOpenQueueTimesOut) {
    auto queue = make_command_queue<int>();
    const auto received = queue.receiver.receive_for(1ms);
    EXPECT_EQ(received.status, ReceiveStatus::TimedOut);
    EXPECT_FALSE(received.message);
}

TEST(CommandQueue, WithoutReceiverSendingFailsAndQueuedMessagesAreDestroyed) {
    std::atomic<int> live{0};
    auto queue = make_command_queue<Tracked>();
    ASSERT_TRUE(queue.sender.send(Tracked(live, 1)));
    ASSERT_TRUE(queue.sender.send(Tracked(live, 2)));
    EXPECT_EQ(live.load(), 2);
    queue.receiver.close();
    EXPECT_EQ(live.load(), 0);
    EXPECT_FALSE(queue.sender.send(Tracked(live, 3)));
    EXPECT_EQ(live.load(), 0);
}

TEST(CommandQueue, DroppingTheReceiverClosesIt) {
    std::atomic<int> live{0};
    auto queue = make_command_queue<Tracked>();
    ASSERT_TRUE(queue.sender.send(Tracked(live, 1)));
    { auto gone = std::move(queue.receiver); }
    EXPECT_EQ(live.load(), 0);
    EXPECT_FALSE(queue.sender.send(Tracked(live, 2)));
}

TEST(CommandQueue, ManySendersOneReceiverKeepEachSendersOrder) {
    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    auto queue = make_command_queue<int>();
    const auto& sender = queue.sender;
    std::vector<std::thread> producers;
    for (int t = 0; t < kThreads; ++t) {
        producers.emplace_back([&sender, t] {
            for (int i = 0; i < kPerThread; ++i)
                ASSERT_TRUE(sender.send(t * kPerThread + i));
        });
    }
    std::vector<int> next(kThreads, 0);
    for (int n = 0; n < kThreads * kPerThread; ++n) {
        auto received = queue.receiver.receive_for(kNeverReached);
        ASSERT_EQ(received.status, ReceiveStatus::Message);
        const int producer = *received.message / kPerThread;
        EXPECT_EQ(*received.message % kPerThread, next[static_cast<std::size_t>(producer)]++);
    }
    for (auto& p : producers)
        p.join();
    EXPECT_EQ(queue.receiver.receive_for(1ms).status, ReceiveStatus::TimedOut);
}

TEST(ReplyChannel, CarriesOneValueAcrossThreads) {
    auto channel = make_reply_channel<std::unique_ptr<int>>();
    std::thread answer([sender = std::move(channel.sender)]() mutable {
        EXPECT_TRUE(sender.send(std::make_unique<int>(7)));
        EXPECT_FALSE(sender.send(std::make_unique<int>(8)));  // one slot, one message
    });
    auto value = channel.receiver.receive();
    answer.join();
    ASSERT_TRUE(value && *value);
    EXPECT_EQ(**value, 7);
    EXPECT_FALSE(channel.receiver.receive());  // taken already: no second wait
}

TEST(ReplyChannel, ASenderThatGoesWithoutSendingWakesTheReceiverEmpty) {
    auto channel = make_reply_channel<int>();
    std::thread drop(
        [sender = std::move(channel.sender)]() mutable { auto gone = std::move(sender); });
    EXPECT_FALSE(channel.receiver.receive());
    drop.join();
}

TEST(ReplyChannel, SendingToAGoneReceiverFailsAndDropsTheValue) {
    std::atomic<int> live{0};
    auto channel = make_reply_channel<Tracked>();
    { auto gone = std::move(channel.receiver); }
    EXPECT_FALSE(channel.sender.send(Tracked(live, 1)));
    EXPECT_EQ(live.load(), 0);
}

TEST(ReplyChannel, AnUnreadValueGoesWithTheReceiver) {
    std::atomic<int> live{0};
    auto channel = make_reply_channel<Tracked>();
    ASSERT_TRUE(channel.sender.send(Tracked(live, 1)));
    EXPECT_EQ(live.load(), 1);
    { auto gone = std::move(channel.receiver); }
    EXPECT_EQ(live.load(), 0);
}

}  // namespace
}  // namespace quorle::audio
