#include "audio_host/pulse/packet_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <vector>

#include "audio_host/pulse/pulse_codes.h"

namespace quorle::pulse {
namespace {

std::vector<float> packet(float value) {
    return std::vector<float>(kFramesPerPacket * kChannels, value);
}

struct Reader {
    PacketQueue& queue;
    // Reads one packet: its first sample and flags; -1 when none is queued.
    std::pair<float, std::uint32_t> take() {
        std::uint32_t frames = 0;
        EXPECT_EQ(queue.next_packet_size(frames), 0);
        if (frames == 0) return {-1.0f, 0};
        const float* data = nullptr;
        std::uint32_t flags = 0;
        EXPECT_EQ(queue.get_buffer(data, frames, flags), 0);
        EXPECT_EQ(frames, kFramesPerPacket);
        const float first = data[0];
        EXPECT_EQ(queue.release_buffer(frames), 0);
        return {first, flags};
    }
};

TEST(PacketQueue, PacketsComeOutInOrderWithTheirFlagsAndWakeTheReader) {
    int wakes = 0;
    PacketQueue queue(4);
    queue.set_signal([&] { ++wakes; });
    EXPECT_EQ(queue.buffer_frames(), 4 * kFramesPerPacket);
    ASSERT_TRUE(queue.push(packet(1).data(), 0));
    ASSERT_TRUE(queue.push(packet(2).data(), kFlagSilent));
    EXPECT_EQ(wakes, 2);
    Reader reader{queue};
    EXPECT_EQ(reader.take(), std::make_pair(1.0f, 0u));
    EXPECT_EQ(reader.take(), std::make_pair(2.0f, kFlagSilent));
    EXPECT_EQ(reader.take().first, -1.0f);
}

TEST(PacketQueue, AFullQueueDropsTheNewPacketAndFlagsTheNextOne) {
    PacketQueue queue(2);
    EXPECT_TRUE(queue.push(packet(1).data(), 0));
    EXPECT_TRUE(queue.push(packet(2).data(), 0));
    EXPECT_FALSE(queue.push(packet(3).data(), 0));
    EXPECT_FALSE(queue.push(packet(4).data(), kFlagSilent));
    Reader reader{queue};
    EXPECT_EQ(reader.take(), std::make_pair(1.0f, 0u));
    EXPECT_TRUE(queue.push(packet(5).data(), kFlagSilent));
    EXPECT_EQ(reader.take(), std::make_pair(2.0f, 0u));
    EXPECT_TRUE(queue.push(packet(6).data(), 0));
    EXPECT_EQ(reader.take(), std::make_pair(5.0f, kFlagSilent | kFlagDataDiscontinuity));
    EXPECT_EQ(reader.take(), std::make_pair(6.0f, 0u));
}

TEST(PacketQueue, TheLockedPacketStaysValidWhileTheServerKeepsQueueing) {
    PacketQueue queue(2);
    ASSERT_TRUE(queue.push(packet(1).data(), 0));
    const float* data = nullptr;
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    ASSERT_EQ(queue.get_buffer(data, frames, flags), 0);
    EXPECT_TRUE(queue.push(packet(2).data(), 0));
    EXPECT_FALSE(queue.push(packet(3).data(), 0));
    queue.clear();  // a new start keeps the packet that is handed out
    EXPECT_EQ(data[0], 1.0f);
    EXPECT_EQ(data[kFramesPerPacket * 2 - 1], 1.0f);
    EXPECT_EQ(queue.release_buffer(frames), 0);
    Reader reader{queue};
    EXPECT_EQ(reader.take().first, -1.0f);
}

TEST(PacketQueue, CallsOutOfOrderAreRefused) {
    PacketQueue queue(2);
    const float* data = nullptr;
    std::uint32_t frames = 7;
    std::uint32_t flags = 7;
    // Nothing queued: an empty answer, and releasing nothing is fine.
    EXPECT_EQ(queue.get_buffer(data, frames, flags), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(queue.release_buffer(0), 0);
    EXPECT_EQ(queue.release_buffer(kFramesPerPacket), bad_state_code());

    ASSERT_TRUE(queue.push(packet(1).data(), 0));
    ASSERT_EQ(queue.get_buffer(data, frames, flags), 0);
    EXPECT_EQ(queue.get_buffer(data, frames, flags), bad_state_code());
    EXPECT_EQ(queue.release_buffer(5), invalid_argument_code());
    // Releasing 0 frames hands the packet back unread.
    EXPECT_EQ(queue.release_buffer(0), 0);
    Reader reader{queue};
    EXPECT_EQ(reader.take().first, 1.0f);
}

TEST(PacketQueue, AFailureIsAnsweredToEveryLaterCallAndWakesTheReader) {
    int wakes = 0;
    PacketQueue queue(2);
    queue.set_signal([&] { ++wakes; });
    ASSERT_TRUE(queue.push(packet(1).data(), 0));
    const std::int32_t lost = pulse_code(11);
    queue.fail(lost);
    queue.fail(pulse_code(3));  // the first failure stays
    EXPECT_EQ(wakes, 2);
    std::uint32_t frames = 0;
    EXPECT_EQ(queue.next_packet_size(frames), lost);
    const float* data = nullptr;
    std::uint32_t flags = 0;
    EXPECT_EQ(queue.get_buffer(data, frames, flags), lost);
    EXPECT_EQ(queue.release_buffer(0), lost);
    EXPECT_FALSE(queue.push(packet(2).data(), 0));
}

// The reader woken by a packet or a failure finds the queue unlocked: another thread can
// read it while the signal is still being given.
TEST(PacketQueue, TheSignalIsGivenWithTheQueueUnlocked) {
    PacketQueue queue(2);
    std::vector<std::future<std::int32_t>> readers;  // outlive the signal
    std::vector<bool> answered;
    queue.set_signal([&] {
        readers.push_back(std::async(std::launch::async, [&queue] {
            std::uint32_t frames = 0;
            return queue.next_packet_size(frames);
        }));
        answered.push_back(readers.back().wait_for(std::chrono::seconds(5)) ==
                           std::future_status::ready);
    });
    ASSERT_TRUE(queue.push(packet(1).data(), 0));
    queue.fail(pulse_code(11));
    EXPECT_EQ(answered, (std::vector<bool>{true, true}));
    EXPECT_EQ(readers[0].get(), 0);
    EXPECT_EQ(readers[1].get(), pulse_code(11));
}

}  // namespace
}  // namespace quorle::pulse
