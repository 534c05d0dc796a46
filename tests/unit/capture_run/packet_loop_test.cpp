#include "audio_host/capture_run/packet_loop.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>

#include "common/platform_error.h"
#include "fake_capture_platform.h"

namespace quorle::host {
namespace {

using ::testing::ElementsAre;
using testing::FakeAudio;
using testing::FakePacket;
using testing::FakeProcess;
using testing::FakeSink;
using testing::Wake;

constexpr std::uint32_t kTimestampError = 0x4;
constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;
constexpr std::uint32_t kWaitAbandoned = 0x80u;

// A running capture as the loop sees it, every part a fake. When the wake script runs out
// the console stop flag is set, so the loop ends with success at its next check.
struct LoopRig {
    explicit LoopRig(bool with_target = true) : has_target(with_target) {
        audio.on_script_end = [this] { console_stop = true; };
        zeros.fill(0.0f);
    }

    Status run() {
        const PacketLoopContext context{
            .console_stop = console_stop,
            .shared_stop = shared_stop,
            .translator = translator,
            .target = has_target ? &target : nullptr,
            .event = *event,
            .service = *service,
            .buffer_frames = buffer_frames,
            .sink = sink,
            .zeros = zeros,
        };
        return run_packet_loop(context);
    }

    // One wake-up of the event with these packets waiting.
    void signal(std::vector<FakePacket> packets) {
        audio.wakes.push_back(Wake{kWaitObject0, std::move(packets), {}});
    }

    FakeAudio audio;
    std::unique_ptr<CaptureService> service = audio.make_service();
    std::unique_ptr<CaptureEvent> event = audio.make_event();
    std::atomic<bool> console_stop{false};
    std::atomic<bool> shared_stop{false};
    FakeProcess translator{audio.log, "translator"};
    FakeProcess target{audio.log, "target"};
    bool has_target;
    FakeSink sink{audio.log};
    std::uint32_t buffer_frames = 1056;
    std::array<float, kZeroAreaSamples> zeros{};
};

// One pass of the stop checks followed by a wait, as the log shows it.
const std::vector<std::string> kChecksAndWait = {"poll translator", "poll target",
                                                 "wait event 250"};

std::vector<std::string> repeat(const std::vector<std::string>& part, int times) {
    std::vector<std::string> all;
    for (int i = 0; i < times; ++i)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Each way the loop ends, and what it did before.
struct StopCase {
    const char* name;
    std::function<void(LoopRig&)> arrange;
    bool with_target;
    std::string message;  // empty: success
    std::vector<std::string> calls;
};

TEST(PacketLoop, StopConditionsInTheirOrder) {
    const std::vector<StopCase> cases = {
        {"console stop before anything",
         [](LoopRig& rig) {
             rig.console_stop = true;
             rig.shared_stop = true;
             rig.translator.alive = false;
         },
         true,
         "",
         {}},
        {"shared stop", [](LoopRig& rig) { rig.shared_stop = true; }, true, "", {}},
        {"translator exited, even when the target did too",
         [](LoopRig& rig) {
             rig.translator.alive = false;
             rig.target.alive = false;
         },
         true,
         "",
         {"poll translator"}},
        {"target exited",
         [](LoopRig& rig) { rig.target.alive = false; },
         true,
         "selected process exited",
         {"poll translator", "poll target"}},
        {"no target is polled for a system capture",
         [](LoopRig&) {},
         false,
         "",
         {"poll translator", "wait event 250"}},
        {"failed event wait",
         [](LoopRig& rig) {
             rig.audio.wakes.push_back({kWaitFailed, {}, {}});
         },
         true, "capture event wait failed", kChecksAndWait},
        {"abandoned event wait",
         [](LoopRig& rig) {
             rig.audio.wakes.push_back({kWaitAbandoned, {}, {}});
         },
         true, "capture event wait failed", kChecksAndWait},
        {"translator exits while the loop waits",
         [](LoopRig& rig) {
             rig.audio.wakes.push_back(
                 {kWaitTimeout, {}, [&rig] { rig.translator.alive = false; }});
         },
         true, "", kChecksAndWait + std::vector<std::string>{"poll translator"}},
        {"target exits while silent",
         [](LoopRig& rig) {
             rig.audio.wakes.push_back({kWaitTimeout, {}, {}});
             rig.audio.wakes.push_back({kWaitTimeout, {}, [&rig] { rig.target.alive = false; }});
         },
         true, "selected process exited",
         repeat(kChecksAndWait, 2) + std::vector<std::string>{"poll translator", "poll target"}},
        {"console stop during a wait",
         [](LoopRig& rig) {
             rig.audio.wakes.push_back({kWaitTimeout, {}, [&rig] { rig.console_stop = true; }});
         },
         true, "", kChecksAndWait},
        {"shared stop during a wait",
         [](LoopRig& rig) {
             rig.audio.wakes.push_back({kWaitTimeout, {}, [&rig] { rig.shared_stop = true; }});
         },
         true, "", kChecksAndWait},
    };
    for (const StopCase& test : cases) {
        SCOPED_TRACE(test.name);
        LoopRig rig(test.with_target);
        test.arrange(rig);
        const Status result = rig.run();
        if (test.message.empty()) {
            EXPECT_TRUE(result) << result.error();
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error(), test.message);
        }
        EXPECT_EQ(rig.audio.log.entries(), test.calls);
    }
}

TEST(PacketLoop, TimeoutsNeverDrainPackets) {
    LoopRig rig;
    rig.audio.queue.push_back(FakePacket(480));
    rig.audio.wakes.push_back({kWaitTimeout, {}, {}});
    rig.audio.wakes.push_back({kWaitTimeout, {}, {}});
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.audio.log.entries(), repeat(kChecksAndWait, 3));
    EXPECT_TRUE(rig.sink.pushes.empty());
}

TEST(PacketLoop, SeventyWaitingPacketsAreDrainedSixtyFourThenSix) {
    LoopRig rig;
    rig.signal(std::vector<FakePacket>(70, FakePacket(10)));
    rig.audio.wakes.push_back({kWaitTimeout, {}, {}});  // a time-out drains nothing
    rig.signal({});
    ASSERT_TRUE(rig.run());

    std::vector<std::string> packet = {"GetNextPacketSize", "GetBuffer", "push 20",
                                       "ReleaseBuffer 10"};
    const std::vector<std::string> expected =
        kChecksAndWait + repeat(packet, 64) + kChecksAndWait + kChecksAndWait + repeat(packet, 6) +
        std::vector<std::string>{"GetNextPacketSize"} + kChecksAndWait;
    EXPECT_EQ(rig.audio.log.entries(), expected);
    EXPECT_EQ(rig.sink.pushes.size(), 70u);
}

TEST(PacketLoop, EmptyQueueEndsTheWakeUpAfterOneSizeQuery) {
    LoopRig rig;
    rig.signal({FakePacket(5), FakePacket(6)});
    ASSERT_TRUE(rig.run());
    const std::vector<std::string> drained = {
        "GetNextPacketSize", "GetBuffer",         "push 10",
        "ReleaseBuffer 5",   "GetNextPacketSize", "GetBuffer",
        "push 12",           "ReleaseBuffer 6",   "GetNextPacketSize"};
    EXPECT_EQ(rig.audio.log.entries(), kChecksAndWait + drained + kChecksAndWait);
}

// GetBuffer's success code for an empty buffer locks nothing: nothing is released, the
// wake-up ends, and the packet is taken at the next one.
TEST(PacketLoop, EmptyBufferGoesBackToWaitingWithoutARelease) {
    LoopRig rig;
    rig.audio.faults.fail("GetBuffer", static_cast<std::uint32_t>(kBufferEmpty));
    rig.signal({FakePacket(2)});
    rig.signal({});
    ASSERT_TRUE(rig.run());
    const std::vector<std::string> empty = {"GetNextPacketSize", "GetBuffer"};
    const std::vector<std::string> taken = {"GetNextPacketSize", "GetBuffer", "push 4",
                                            "ReleaseBuffer 2", "GetNextPacketSize"};
    EXPECT_EQ(rig.audio.log.entries(),
              kChecksAndWait + empty + kChecksAndWait + taken + kChecksAndWait);
}

TEST(PacketLoop, SamplesReachTheSinkUnchangedInOneCall) {
    LoopRig rig;
    rig.signal({FakePacket(480, kTimestampError), FakePacket(3)});
    ASSERT_TRUE(rig.run());
    ASSERT_EQ(rig.sink.pushes, (std::vector<std::size_t>{960, 6}));
    ASSERT_EQ(rig.sink.samples.size(), 966u);
    for (std::size_t i = 0; i < rig.sink.samples.size(); ++i) {
        ASSERT_EQ(rig.sink.samples[i], static_cast<float>(i)) << i;
    }
    EXPECT_EQ(rig.sink.discontinuities, 0);
}

// How one packet is handed over: the sink's calls and the release, in order.
struct PacketCase {
    const char* name;
    FakePacket packet;
    std::vector<std::string> handling;  // from GetBuffer on
    std::string message;                // empty: the loop goes on
};

TEST(PacketLoop, PacketHandling) {
    using Data = FakePacket::Data;
    const std::uint32_t silent = kBufferFlagSilent;
    const std::uint32_t gap = kBufferFlagDataDiscontinuity;
    const std::vector<PacketCase> cases = {
        {"zero frames without flags",
         FakePacket(0).announce(1),
         {"GetBuffer", "ReleaseBuffer 0"},
         ""},
        {"zero frames, null pointer",
         FakePacket(0, 0, Data::Null).announce(1),
         {"GetBuffer", "ReleaseBuffer 0"},
         ""},
        {"silent with a null pointer",
         FakePacket(10, silent, Data::Null),
         {"GetBuffer", "push 20", "ReleaseBuffer 10"},
         ""},
        {"silent runs of 1024",
         FakePacket(1000, silent, Data::Null),
         {"GetBuffer", "push 1024", "push 976", "ReleaseBuffer 1000"},
         ""},
        {"silent, whole runs only",
         FakePacket(1024, silent),
         {"GetBuffer", "push 1024", "push 1024", "ReleaseBuffer 1024"},
         ""},
        {"silent, misaligned pointer ignored",
         FakePacket(4, silent, Data::Misaligned),
         {"GetBuffer", "push 8", "ReleaseBuffer 4"},
         ""},
        {"silent with zero frames",
         FakePacket(0, silent).announce(1),
         {"GetBuffer", "ReleaseBuffer 0"},
         ""},
        {"silent and discontinuity",
         FakePacket(2, silent | gap),
         {"GetBuffer", "discontinuity", "push 4", "ReleaseBuffer 2"},
         ""},
        {"discontinuity before the samples",
         FakePacket(2, gap | kTimestampError),
         {"GetBuffer", "discontinuity", "push 4", "ReleaseBuffer 2"},
         ""},
        {"exactly the buffer size",
         FakePacket(1056),
         {"GetBuffer", "push 2112", "ReleaseBuffer 1056"},
         ""},
        {"one frame over the buffer size",
         FakePacket(1057),
         {"GetBuffer", "ReleaseBuffer 1057"},
         "capture packet exceeded negotiated buffer"},
        {"over the buffer size, even when silent",
         FakePacket(1057, silent | gap),
         {"GetBuffer", "ReleaseBuffer 1057"},
         "capture packet exceeded negotiated buffer"},
        {"null data",
         FakePacket(1, 0, Data::Null),
         {"GetBuffer", "ReleaseBuffer 1"},
         "invalid float capture buffer"},
        {"misaligned data",
         FakePacket(1, 0, Data::Misaligned),
         {"GetBuffer", "ReleaseBuffer 1"},
         "invalid float capture buffer"},
        {"null data after a discontinuity",
         FakePacket(1, gap, Data::Null),
         {"GetBuffer", "discontinuity", "ReleaseBuffer 1"},
         "invalid float capture buffer"},
    };
    for (const PacketCase& test : cases) {
        SCOPED_TRACE(test.name);
        LoopRig rig;
        rig.signal({test.packet});
        const Status result = rig.run();
        std::vector<std::string> expected =
            kChecksAndWait + std::vector<std::string>{"GetNextPacketSize"} + test.handling;
        if (test.message.empty()) {
            EXPECT_TRUE(result) << result.error();
            expected = expected + std::vector<std::string>{"GetNextPacketSize"} + kChecksAndWait;
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error(), test.message);
        }
        EXPECT_EQ(rig.audio.log.entries(), expected);
    }
}

TEST(PacketLoop, SilenceComesFromTheZeroArea) {
    LoopRig rig;
    rig.signal({FakePacket(600, kBufferFlagSilent | kBufferFlagDataDiscontinuity)});
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.sink.discontinuities, 1);
    ASSERT_EQ(rig.sink.samples.size(), 1200u);
    for (float sample : rig.sink.samples)
        ASSERT_EQ(sample, 0.0f);
    for (const float* source : rig.sink.sources)
        EXPECT_EQ(source, rig.zeros.data());
}

TEST(PacketLoop, ReportedBufferSizeBoundsPackets) {
    // {reported buffer size, packet frames, accepted}
    const std::vector<std::tuple<std::uint32_t, std::uint32_t, bool>> cases = {
        {7, 7, true},         {7, 8, false},
        {0, 48000, true},     {0, 48001, false},  // a report of 0 means one second
        {96000, 96000, true}, {96000, 96001, false},
    };
    for (const auto& [reported, frames, accepted] : cases) {
        SCOPED_TRACE(std::to_string(reported) + " / " + std::to_string(frames));
        LoopRig rig;
        rig.buffer_frames = reported;
        rig.signal({FakePacket(frames, kBufferFlagSilent)});
        const Status result = rig.run();
        EXPECT_EQ(result.has_value(), accepted);
        EXPECT_EQ(rig.audio.log.count("ReleaseBuffer " + std::to_string(frames)), 1u);
    }
    EXPECT_EQ(packet_frame_bound(0), 48000u);
    EXPECT_EQ(packet_frame_bound(1), 1u);
    EXPECT_EQ(packet_frame_bound(0xFFFFFFFFu), 0xFFFFFFFFu);
}

// A failing capture call: its message, and the last calls the loop made.
struct CallFailure {
    const char* operation;
    std::string context;
    std::vector<std::string> last_calls;
};

TEST(PacketLoop, FailedCaptureCallsEndTheLoopWithTheirContext) {
    const std::vector<CallFailure> cases = {
        {"GetNextPacketSize", "next capture packet", {"wait event 250", "GetNextPacketSize"}},
        // Nothing was locked, so nothing is released.
        {"GetBuffer", "read capture packet", {"GetNextPacketSize", "GetBuffer"}},
        {"ReleaseBuffer", "release capture packet", {"push 4", "ReleaseBuffer 2"}},
    };
    for (const std::uint32_t code : {0x88890001u, 0x80004005u}) {
        for (const CallFailure& test : cases) {
            SCOPED_TRACE(test.operation);
            LoopRig rig;
            rig.audio.faults.fail(test.operation, code);
            rig.signal({FakePacket(2)});
            const Status result = rig.run();
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error(), context_error(test.context, code));
            EXPECT_EQ(result.error().rfind(test.context + ": ", 0), 0u);
            const auto log = rig.audio.log.entries();
            ASSERT_GE(log.size(), test.last_calls.size());
            EXPECT_EQ(
                std::vector<std::string>(
                    log.end() - static_cast<std::ptrdiff_t>(test.last_calls.size()), log.end()),
                test.last_calls);
        }
    }
}

TEST(PacketLoop, FailureOfALaterPacketKeepsTheEarlierSamples) {
    LoopRig rig;
    rig.audio.faults.fail("GetBuffer", 0x88890004u, 2);
    rig.signal({FakePacket(3), FakePacket(3)});
    ASSERT_FALSE(rig.run());
    EXPECT_EQ(rig.sink.pushes, (std::vector<std::size_t>{6}));
    EXPECT_EQ(rig.audio.log.count("ReleaseBuffer 3"), 1u);
}

}  // namespace
}  // namespace quorle::host
