#include "audio_host/capture_run/one_slot_channel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "fake_time.h"

namespace quorle::host {
namespace {

using namespace std::chrono_literals;

// Counts the live instances, so a test sees on which side a message was destroyed.
struct Tracked {
    static inline std::atomic<int> live{0};
    int value = 0;
    explicit Tracked(int v) : value(v) { ++live; }
    Tracked(Tracked&& other) noexcept : value(other.value) { ++live; }
    Tracked& operator=(Tracked&&) = delete;
    ~Tracked() { --live; }
};

class OneSlotChannelTest : public ::testing::Test {
  protected:
    void SetUp() override { Tracked::live = 0; }
    void TearDown() override { EXPECT_EQ(Tracked::live.load(), 0); }
};

TEST_F(OneSlotChannelTest, MessageSentFromAnotherThreadArrives) {
    auto [sender, receiver] = make_one_slot_channel<std::unique_ptr<Tracked>>();
    std::thread producer(
        [s = std::move(sender)]() mutable { EXPECT_TRUE(s.send(std::make_unique<Tracked>(7))); });
    auto message = receiver.receive_until(system_timed_wait(), system_timed_wait().now() + 60s);
    producer.join();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ((*message)->value, 7);
}

TEST_F(OneSlotChannelTest, SenderGoneWithoutMessageEndsTheWaitAtOnce) {
    testing::FakeTime time;
    auto [sender, receiver] = make_one_slot_channel<int>();
    time.at(2s, [&sender] { sender = SlotSender<int>(); });
    EXPECT_FALSE(receiver.receive_until(time, time.now() + 10s).has_value());
    EXPECT_EQ(time.elapsed(), 2s);
}

TEST_F(OneSlotChannelTest, NothingWithinTheDeadline) {
    testing::FakeTime time;
    auto [sender, receiver] = make_one_slot_channel<int>();
    EXPECT_FALSE(receiver.receive_until(time, time.now() + 10s).has_value());
    EXPECT_EQ(time.elapsed(), 10s);
    EXPECT_TRUE(sender.send(1)) << "the receiver still exists, so the slot takes it";
}

TEST_F(OneSlotChannelTest, MessageForAGoneReceiverIsDestroyedBySender) {
    auto [sender, receiver] = make_one_slot_channel<std::unique_ptr<Tracked>>();
    receiver = SlotReceiver<std::unique_ptr<Tracked>>();
    EXPECT_FALSE(sender.send(std::make_unique<Tracked>(1)));
    EXPECT_EQ(Tracked::live.load(), 0);
}

TEST_F(OneSlotChannelTest, UnreadMessageIsDestroyedWithTheReceiver) {
    auto [sender, receiver] = make_one_slot_channel<std::unique_ptr<Tracked>>();
    EXPECT_TRUE(sender.send(std::make_unique<Tracked>(1)));
    EXPECT_EQ(Tracked::live.load(), 1);
    receiver = SlotReceiver<std::unique_ptr<Tracked>>();
    EXPECT_EQ(Tracked::live.load(), 0);
}

TEST_F(OneSlotChannelTest, CarriesExactlyOneMessage) {
    auto [sender, receiver] = make_one_slot_channel<std::unique_ptr<Tracked>>();
    EXPECT_TRUE(sender.send(std::make_unique<Tracked>(1)));
    EXPECT_FALSE(sender.send(std::make_unique<Tracked>(2)));
    EXPECT_EQ(Tracked::live.load(), 1);
    testing::FakeTime time;
    auto first = receiver.receive_until(time, time.now() + 1s);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ((*first)->value, 1);
}

}  // namespace
}  // namespace quorle::host
