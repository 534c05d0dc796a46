#include "audio_host/pulse/loopback_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "audio_host/pulse/pulse_codes.h"

namespace quorle::pulse {
namespace {

// The server layer: records every command, can fail attach or query with a code.
class FakeServer final : public MonitorServer {
  public:
    std::vector<std::string> calls;
    std::set<std::uint32_t> attached;
    std::map<std::uint32_t, std::int32_t> attach_failures;
    std::int32_t query_failure = 0;

    std::int32_t attach(std::uint32_t index) override {
        calls.push_back("attach " + std::to_string(index));
        if (const auto it = attach_failures.find(index); it != attach_failures.end())
            return it->second;
        attached.insert(index);
        return 0;
    }
    void detach(std::uint32_t index) override {
        calls.push_back("detach " + std::to_string(index));
        attached.erase(index);
    }
    std::int32_t query(std::uint32_t index) override {
        calls.push_back("query " + std::to_string(index));
        return query_failure;
    }
};

// 1 -> 50 (translator) -> 51 ; 1 -> 60 (an application) -> 61
class FakeProcesses final : public ProcessLookup {
  public:
    std::optional<std::uint32_t> parent_of(std::uint32_t pid) const override {
        static const std::map<std::uint32_t, std::uint32_t> parents = {
            {1, 0}, {50, 1}, {51, 50}, {60, 1}, {61, 60}};
        const auto it = parents.find(pid);
        if (it == parents.end()) return std::nullopt;
        return it->second;
    }
};

struct Packet {
    float left = 0;  // first left sample
    std::uint32_t flags = 0;
};

constexpr std::uint64_t kStart = 1'000'000;

// Takes every packet the queue holds, in order.
std::vector<Packet> drain_packets(PacketQueue& packets) {
    std::vector<Packet> result;
    for (;;) {
        const float* data = nullptr;
        std::uint32_t frames = 0;
        std::uint32_t flags = 0;
        EXPECT_EQ(packets.get_buffer(data, frames, flags), 0);
        if (frames == 0) return result;
        result.push_back({data[0], flags});
        EXPECT_EQ(packets.release_buffer(frames), 0);
    }
}

// Settles a core whose only tap is sink input 1 (of the target) and starts it; returns the
// start's time.
std::uint64_t start_with_one_tap(LoopbackCore& core) {
    core.on_sink_input({1, 60});
    core.on_listing_done();
    core.on_tap_ready(1);
    core.finish_setup();
    return core.start(kStart);
}

// Hands tap 1 `count` whole packets at once: packet p (counted from `first`) has left samples
// left(p) and silent right ones.
void deliver_packets(LoopbackCore& core, std::size_t first, std::size_t count,
                     const std::function<float(std::size_t)>& left, std::uint64_t now) {
    std::vector<float> samples;
    for (std::size_t p = first; p < first + count; ++p) {
        for (std::size_t f = 0; f < kFramesPerPacket; ++f) {
            samples.push_back(left(p));
            samples.push_back(0.0f);
        }
    }
    core.on_tap_data(1, samples.data(), samples.size() * sizeof(float), now);
}

class CoreTest : public ::testing::Test {
  protected:
    explicit CoreTest(LoopbackTarget target = {60, LoopbackMode::IncludeTargetTree})
        : packets_(64), core_(server_, processes_, target, packets_, small_config()) {}

    static CoreConfig small_config() {
        CoreConfig config;
        config.queue_frames = 4 * kFramesPerPacket;
        config.start_frames = kFramesPerPacket;  // contribute as soon as one tick is there
        config.max_pending = 8;
        return config;
    }

    // Opens with these sink inputs (index -> owning pid) and settles every tap.
    void open(const std::map<std::uint32_t, std::optional<std::uint32_t>>& inputs) {
        for (const auto& [index, pid] : inputs)
            core_.on_sink_input({index, pid});
        core_.on_listing_done();
        for (const std::uint32_t index : std::set<std::uint32_t>(server_.attached)) {
            core_.on_tap_ready(index);
        }
        ASSERT_TRUE(core_.setup_settled());
        core_.finish_setup();
        now_ = core_.start(kStart) - kTickMicros;
    }

    // Delivers `frames` frames of `value` (left) / -`value` (right) from a tap.
    void deliver(std::uint32_t index, float value, std::size_t frames = kFramesPerPacket) {
        std::vector<float> samples;
        for (std::size_t i = 0; i < frames; ++i) {
            samples.push_back(value);
            samples.push_back(-value);
        }
        core_.on_tap_data(index, samples.data(), samples.size() * sizeof(float), now_);
    }

    // Advances the clock by `ticks` ticks and returns the packets produced.
    std::vector<Packet> run(std::size_t ticks = 1) {
        now_ += ticks * kTickMicros;
        core_.on_timer(now_);
        return drain();
    }

    std::vector<Packet> drain() { return drain_packets(packets_); }

    std::int32_t failure() {
        std::uint32_t frames = 0;
        return packets_.next_packet_size(frames);
    }

    FakeServer server_;
    FakeProcesses processes_;
    PacketQueue packets_;
    LoopbackCore core_;
    std::uint64_t now_ = 0;
};

class SystemCoreTest : public CoreTest {
  protected:
    SystemCoreTest() : CoreTest({50, LoopbackMode::ExcludeTargetTree}) {}
};

bool operator==(const Packet& a, const Packet& b) {
    return a.left == b.left && a.flags == b.flags;
}
void PrintTo(const Packet& p, std::ostream* os) {
    *os << "{" << p.left << ", " << p.flags << "}";
}

TEST_F(CoreTest, TapsOnlyTheTargetTree) {
    open({{1, 60}, {2, 61}, {3, 51}, {4, std::nullopt}, {5, 999}});
    EXPECT_EQ(server_.calls, (std::vector<std::string>{"attach 1", "attach 2"}));
}

TEST_F(SystemCoreTest, TapsEverythingButTheTranslatorTree) {
    open({{1, 60}, {2, 61}, {3, 51}, {4, std::nullopt}, {5, 50}, {6, 999}});
    EXPECT_EQ(server_.calls,
              (std::vector<std::string>{"attach 1", "attach 2", "attach 4", "attach 6"}));
}

TEST_F(CoreTest, SetUpSettlesOnlyWhenTheListingEndedAndEveryTapAnswered) {
    core_.on_sink_input({1, 60});
    core_.on_sink_input({2, 61});
    EXPECT_FALSE(core_.setup_settled());
    core_.on_listing_done();
    EXPECT_FALSE(core_.setup_settled());
    core_.on_tap_ready(1);
    EXPECT_FALSE(core_.setup_settled());
    // A sink input that ended before its tap connected is no failure.
    core_.on_tap_failed(2, TapFailure::SinkInputMissing, pulse_code(5));
    EXPECT_TRUE(core_.setup_settled());
    EXPECT_EQ(core_.setup_failure(), 0);
    EXPECT_EQ(core_.tap_count(), 1u);
}

TEST_F(CoreTest, ARefusedTapFailsTheSetUp) {
    struct Row {
        bool at_once;  // attach fails immediately, or the stream fails while connecting
    };
    for (const Row row : {Row{true}, Row{false}}) {
        FakeServer server;
        PacketQueue packets(4);
        LoopbackCore core(server, processes_, {60, LoopbackMode::IncludeTargetTree}, packets);
        if (row.at_once) server.attach_failures[1] = pulse_code(19);
        core.on_sink_input({1, 60});
        if (!row.at_once) core.on_tap_failed(1, TapFailure::Refused, pulse_code(19));
        core.on_sink_input({2, 60});
        core.on_tap_failed(2, TapFailure::Refused, pulse_code(3));
        core.on_listing_done();
        EXPECT_EQ(core.setup_failure(), pulse_code(19)) << row.at_once;  // the first one
        EXPECT_TRUE(core.setup_settled());
    }
}

TEST_F(CoreTest, MixesTheTapsByAdditionOnEveryTick) {
    open({{1, 60}, {2, 61}});
    deliver(1, 0.25f);
    deliver(2, 0.5f);
    EXPECT_EQ(run(), (std::vector<Packet>{{0.75f, 0}}));
    deliver(1, 0.125f);
    deliver(2, 0.5f);
    EXPECT_EQ(run(), (std::vector<Packet>{{0.625f, 0}}));
}

TEST_F(CoreTest, APacketWaitsForLateDataUpToTheGracePeriod) {
    open({{1, 60}, {2, 61}});
    deliver(1, 0.25f);
    EXPECT_EQ(run(), (std::vector<Packet>{{0.25f, 0}}));  // tap 2 not playing yet
    deliver(2, 0.5f);
    EXPECT_EQ(run(), (std::vector<Packet>{}));  // tap 1 plays and is late
    deliver(1, 0.125f);                         // its data produces the packet at once
    EXPECT_EQ(drain(), (std::vector<Packet>{{0.625f, 0}}));

    // Tap 1 stays silent: the due packets wait until the grace period of the oldest ends,
    // which goes out with what tap 2 had.
    deliver(2, 0.5f);
    EXPECT_EQ(run(3), (std::vector<Packet>{}));  // due at +30, +40 and +50 ms
    EXPECT_EQ(run(1), (std::vector<Packet>{}));
    EXPECT_EQ(core_.on_timer(now_), kStart + 30000 + 40000);  // the oldest one's grace ends
    now_ = kStart + 70000;
    EXPECT_EQ(run(0), (std::vector<Packet>{{0.5f, 0}}));
    // Tap 2 played its last frames and is late now too: one more grace period, then all
    // due packets (up to +80 ms) go out.
    now_ = kStart + 80000;
    EXPECT_EQ(run(0), std::vector<Packet>(5, Packet{0, kFlagSilent}));
}

TEST_F(CoreTest, WhileStreamsDeliverTheirDataProducesTheTicks) {
    open({{1, 60}});
    EXPECT_EQ(core_.next_wake_us(), now_ + kTickMicros);  // nothing delivers: the timer ticks
    deliver(1, 0.25f);
    EXPECT_EQ(run(), (std::vector<Packet>{{0.25f, 0}}));
    // Tap 1 plays: the timer only stands by, a grace period after the next tick.
    EXPECT_EQ(core_.next_wake_us(), now_ + kTickMicros + 40000);
    // Data arriving after the next tick is due produces it, without the timer.
    now_ += kTickMicros + 3000;
    deliver(1, 0.5f);
    EXPECT_EQ(drain(), (std::vector<Packet>{{0.5f, 0}}));
    // Data arriving before the tick is due waits in the queue until it makes a whole
    // packet, which goes out at once, ahead of its tick.
    now_ += 5000;
    deliver(1, 0.125f, kFramesPerPacket / 2);
    EXPECT_EQ(drain(), (std::vector<Packet>{}));
    deliver(1, 0.125f, kFramesPerPacket / 2);
    EXPECT_EQ(drain(), (std::vector<Packet>{{0.125f, 0}}));
}

TEST_F(CoreTest, ATapThatStopsPlayingReleasesTheWaitingPackets) {
    open({{1, 60}});
    deliver(1, 0.25f);
    EXPECT_EQ(run(), (std::vector<Packet>{{0.25f, 0}}));
    EXPECT_EQ(run(2), (std::vector<Packet>{}));
    core_.on_sink_input_removed(1);
    EXPECT_EQ(drain(), (std::vector<Packet>{{0, kFlagSilent}, {0, kFlagSilent}}));
}

TEST_F(CoreTest, PacketsKeepComingAndAreSilentWhileNothingPlays) {
    open({});
    EXPECT_EQ(run(3), (std::vector<Packet>{{0, kFlagSilent}, {0, kFlagSilent}, {0, kFlagSilent}}));
    // A tap that delivers digital silence is playing: its packets are not flagged silent.
    core_.on_sink_input({7, 60});
    core_.on_tap_ready(7);
    deliver(7, 0.0f);
    EXPECT_EQ(run(), (std::vector<Packet>{{0, 0}}));
}

TEST_F(CoreTest, LateTicksAreCaughtUpAndTooManySkippedWithADiscontinuity) {
    open({});
    EXPECT_EQ(run(3).size(), 3u);  // catch-up within the limit: every tick is produced
    EXPECT_EQ(run(0).size(), 0u);  // the same time again produces nothing
    const std::vector<Packet> late = run(20);
    ASSERT_EQ(late.size(), 8u);  // the limit of due packets; the older ones are skipped
    EXPECT_EQ(late[0].flags, kFlagSilent | kFlagDataDiscontinuity);
    EXPECT_EQ(late[1].flags, kFlagSilent);
}

TEST_F(CoreTest, AQueuedBacklogGoesOutAheadOfTheTicksUpToTheBound) {
    // Tap 1 brings six packets at once (a stall's backlog) as its first tick comes due,
    // then tap 2 delivers (zeros: it plays without changing the mix) or is still
    // connecting. Afterwards the ticks run on until the queues are empty: every packet of
    // tap 1 comes out once, in order, whenever it is produced.
    struct Row {
        const char* what;
        std::uint64_t ahead_us;
        bool tap2_ready;
        std::size_t tap2_frames;
        std::size_t at_once;  // packets out right after the deliveries
    };
    constexpr std::size_t kBacklog = 6;
    const Row rows[] = {
        {"the backlog drains", 200000, true, kBacklog * kFramesPerPacket, kBacklog},
        {"no further ahead than the bound", 20000, true, kBacklog * kFramesPerPacket, 3},
        {"a playing stream short of a packet holds the rest", 200000, true,
         3 * kFramesPerPacket / 2, 2},
        {"a stream still collecting holds the rest", 200000, true, kFramesPerPacket / 2, 1},
        {"a stream not connected yet holds nothing", 200000, false, 0, kBacklog},
    };
    for (const Row& row : rows) {
        FakeServer server;
        PacketQueue packets(64);
        CoreConfig config = small_config();
        config.queue_frames = 8 * kFramesPerPacket;
        config.ahead_us = row.ahead_us;
        LoopbackCore core(server, processes_, {60, LoopbackMode::IncludeTargetTree}, packets,
                          config);
        core.on_sink_input({1, 60});
        core.on_sink_input({2, 61});
        core.on_listing_done();
        core.on_tap_ready(1);
        if (row.tap2_ready) core.on_tap_ready(2);
        core.finish_setup();
        std::uint64_t now = core.start(kStart);

        deliver_packets(
            core, 0, kBacklog, [](std::size_t p) { return 0.125f * static_cast<float>(p + 1); },
            now);
        const std::vector<float> zeros(row.tap2_frames * kChannels, 0.0f);
        core.on_tap_data(2, zeros.data(), zeros.size() * sizeof(float), now);

        std::vector<float> lefts;
        std::size_t at_once = 0;
        for (int tick = 0; tick <= 20; ++tick) {
            if (tick > 0) core.on_timer(now += kTickMicros);
            for (const Packet& packet : drain_packets(packets)) {
                if (tick == 0) ++at_once;
                if (packet.left != 0.0f) lefts.push_back(packet.left);
            }
            // The schedule never runs further ahead of the clock than the bound.
            EXPECT_LE(core.next_wake_us(), now + row.ahead_us + kTickMicros + config.grace_us)
                << row.what;
        }
        EXPECT_EQ(at_once, row.at_once) << row.what;
        EXPECT_EQ(lefts, (std::vector<float>{0.125f, 0.25f, 0.375f, 0.5f, 0.625f, 0.75f}))
            << row.what;
    }
}

TEST_F(CoreTest, AStallOrALateStreamNeverTurnsDeliveredSoundIntoSilence) {
    // One stream plays a signal whose packet n has the value signal(n). The steps: Deliver
    // hands over the next `count` packets of it at once, Tick runs the clock on by `count`
    // ticks with the timer firing when it asked to, Stall lets the timer fire `count` ms late
    // (this thread was stopped).
    enum class Op { Deliver, Tick, Stall };
    struct Step {
        Op op;
        std::size_t count;
    };
    struct Row {
        const char* what;
        std::vector<Step> steps;
        std::vector<Packet> expected;
    };
    const auto signal = [](std::size_t n) { return static_cast<float>(n + 1) / 64.0f; };
    const auto played = [&](std::size_t from, std::size_t to, std::uint32_t first_flags = 0) {
        std::vector<Packet> out;
        for (std::size_t n = from; n < to; ++n)
            out.push_back({signal(n), n == from ? first_flags : 0u});
        return out;
    };
    const auto concat = [](std::initializer_list<std::vector<Packet>> parts) {
        std::vector<Packet> out;
        for (const auto& part : parts)
            out.insert(out.end(), part.begin(), part.end());
        return out;
    };
    const Packet silent{0.0f, kFlagSilent};
    std::vector<Step> steady;  // three packets, each delivered as its tick comes
    for (int n = 0; n < 3; ++n) {
        steady.push_back({Op::Deliver, 1});
        steady.push_back({Op::Tick, 1});
    }
    const auto after_steady = [&](std::initializer_list<Step> more) {
        std::vector<Step> steps = steady;
        steps.insert(steps.end(), more);
        return steps;
    };
    const Row rows[] = {
        // The timer runs before the reads of the data that piled up during the stall: that
        // data is on time, and comes through whole and unflagged.
        {"the timer fires 100 ms late, then the data arrives",
         after_steady({{Op::Stall, 100},
                       {Op::Deliver, 1},
                       {Op::Deliver, 4},
                       {Op::Deliver, 3},
                       {Op::Deliver, 3},
                       {Op::Tick, 2}}),
         played(0, 14)},
        {"a stall shorter than the grace",
         after_steady({{Op::Stall, 30}, {Op::Deliver, 2}, {Op::Deliver, 3}}), played(0, 8)},
        // The grace starts again at the first wake-up after the stall; only then does the
        // stream count as late.
        {"the timer fires 100 ms late and the data comes only after the grace",
         after_steady({{Op::Stall, 100}, {Op::Tick, 5}, {Op::Deliver, 3}, {Op::Tick, 1}}),
         concat({played(0, 3), std::vector<Packet>(15, silent),
                 played(3, 6, kFlagDataDiscontinuity)})},
        // Late beyond the grace: silence in its place, then the late sound itself, flagged
        // where it starts again.
        {"the data is late beyond the grace",
         after_steady(
             {{Op::Tick, 6}, {Op::Deliver, 4}, {Op::Tick, 1}, {Op::Deliver, 1}, {Op::Tick, 1}}),
         concat(
             {played(0, 3), std::vector<Packet>(6, silent), played(3, 8, kFlagDataDiscontinuity)})},
        {"the stream stops", after_steady({{Op::Tick, 150}}),
         concat({played(0, 3), std::vector<Packet>(150, silent)})},
        {"the stream stops, then starts again", after_steady({{Op::Tick, 150}, {Op::Deliver, 2}}),
         concat({played(0, 3), std::vector<Packet>(150, silent), played(3, 5)})},
        // Only a bounded queue that overflows drops sound, and that shows.
        {"more late data than the queue holds",
         after_steady({{Op::Tick, 6}, {Op::Deliver, 6}, {Op::Tick, 1}}),
         concat(
             {played(0, 3), std::vector<Packet>(6, silent), played(5, 9, kFlagDataDiscontinuity)})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        FakeServer server;
        PacketQueue packets(256);
        CoreConfig config = small_config();
        config.max_pending = 32;
        LoopbackCore core(server, processes_, {60, LoopbackMode::IncludeTargetTree}, packets,
                          config);
        std::uint64_t now = start_with_one_tap(core) - kTickMicros;
        std::size_t next = 0;  // the next packet of the signal
        for (const Step& step : row.steps) {
            switch (step.op) {
                case Op::Deliver:
                    deliver_packets(core, next, step.count, signal, now);
                    next += step.count;
                    break;
                case Op::Tick: {
                    const std::uint64_t until = now + step.count * kTickMicros;
                    while (core.next_wake_us() <= until) {
                        now = std::max(now, core.next_wake_us());
                        core.on_timer(now);
                    }
                    now = until;
                    core.on_timer(now);
                    break;
                }
                case Op::Stall:
                    now += step.count * 1000;
                    core.on_timer(now);
                    break;
            }
        }
        EXPECT_EQ(drain_packets(packets), row.expected) << row.what;
    }
}

TEST_F(CoreTest, DataBeforeTheStartIsNotPartOfTheCapture) {
    core_.on_sink_input({1, 60});
    core_.on_listing_done();
    core_.on_tap_ready(1);
    core_.finish_setup();
    deliver(1, 9.0f, 5 * kFramesPerPacket);  // overflows too, before the start
    now_ = core_.start(kStart) - kTickMicros;
    deliver(1, 0.5f);
    EXPECT_EQ(run(), (std::vector<Packet>{{0.5f, 0}}));
}

TEST_F(CoreTest, HolesAndOverflowsFlagADiscontinuity) {
    open({{1, 60}});
    core_.on_tap_hole(1, kFramesPerPacket * kBytesPerFrame);
    deliver(1, 0.5f);
    // The hole's silence, then the data behind it (both queued: they go out at once).
    EXPECT_EQ(run(), (std::vector<Packet>{{0.0f, kFlagDataDiscontinuity}, {0.5f, 0}}));
    deliver(1, 0.25f, 5 * kFramesPerPacket);  // one packet more than the queue holds
    EXPECT_EQ(run(), (std::vector<Packet>{
                         {0.25f, kFlagDataDiscontinuity}, {0.25f, 0}, {0.25f, 0}, {0.25f, 0}}));
}

TEST_F(CoreTest, AMovedStreamIsTappedAgainAndTheRestartIsFlagged) {
    open({{1, 60}, {2, 61}});
    // Tap 2 still collects (and so holds tap 1's data in its queue until the ticks).
    deliver(2, 0.0f, kFramesPerPacket / 2);
    deliver(1, 0.5f, 2 * kFramesPerPacket);
    server_.calls.clear();
    core_.on_tap_failed(1, TapFailure::SinkInputKilled, pulse_code(12));
    EXPECT_EQ(server_.calls, (std::vector<std::string>{"detach 1", "query 1"}));
    // What was queued keeps playing while the sink input is looked up.
    EXPECT_EQ(run(), (std::vector<Packet>{{0.5f, 0}}));
    core_.on_sink_input({1, 60});  // still there (moved)
    EXPECT_EQ(server_.calls.back(), "attach 1");
    EXPECT_EQ(run(), (std::vector<Packet>{{0.5f, 0}}));
    core_.on_tap_ready(1);
    deliver(1, 0.75f);
    EXPECT_EQ(run(), (std::vector<Packet>{{0.75f, kFlagDataDiscontinuity}}));
}

TEST_F(CoreTest, AnEndedStreamPlaysOutAndIsDropped) {
    for (const char* how : {"missing", "removed", "query fails", "no longer matches"}) {
        FakeServer server;
        PacketQueue packets(64);
        LoopbackCore core(server, processes_, {60, LoopbackMode::IncludeTargetTree}, packets,
                          small_config());
        std::uint64_t now = start_with_one_tap(core);
        // Two packets go out at once, half of one stays queued.
        std::vector<float> samples(5 * kFramesPerPacket / 2 * kChannels, 0.5f);
        core.on_tap_data(1, samples.data(), samples.size() * sizeof(float), now);

        const std::string way = how;
        if (way == "removed") {
            core.on_sink_input_removed(1);
            EXPECT_EQ(server.calls.back(), "detach 1") << how;
        } else {
            if (way == "query fails") server.query_failure = pulse_code(11);
            core.on_tap_failed(1, TapFailure::SinkInputKilled, pulse_code(12));
            if (way == "missing") core.on_sink_input_missing(1);
            if (way == "no longer matches") core.on_sink_input({1, 51});
        }
        EXPECT_TRUE(core.has_tap(1)) << how;  // still playing out
        core.on_timer(now += kTickMicros);
        EXPECT_TRUE(core.has_tap(1)) << how;  // its tick is not due yet
        core.on_timer(now += kTickMicros);
        EXPECT_FALSE(core.has_tap(1)) << how;
        EXPECT_EQ(std::count(server.calls.begin(), server.calls.end(), "attach 1"), 1) << how;
    }
}

TEST_F(CoreTest, ATapThatKeepsFailingWithoutDataIsGivenUp) {
    open({{1, 60}});
    for (int attempt = 0; attempt < 2; ++attempt) {
        core_.on_tap_failed(1, TapFailure::SinkInputKilled, pulse_code(12));
        core_.on_sink_input({1, 60});
        core_.on_tap_ready(1);
    }
    (void)run();  // the re-attachments' own discontinuity
    core_.on_tap_failed(1, TapFailure::SinkInputKilled, pulse_code(12));
    EXPECT_FALSE(core_.has_tap(1));
    EXPECT_EQ(std::count(server_.calls.begin(), server_.calls.end(), "query 1"), 2);
    // The stream is lost to the capture: that shows.
    EXPECT_EQ(run(), (std::vector<Packet>{{0.0f, kFlagSilent | kFlagDataDiscontinuity}}));
    // A later announcement of the sink input (it changed) tries afresh.
    core_.on_sink_input({1, 60});
    EXPECT_TRUE(core_.has_tap(1));
}

TEST_F(CoreTest, DataResetsTheFailureCount) {
    open({{1, 60}});
    for (int attempt = 0; attempt < 5; ++attempt) {
        core_.on_tap_failed(1, TapFailure::SinkInputKilled, pulse_code(12));
        core_.on_sink_input({1, 60});
        core_.on_tap_ready(1);
        deliver(1, 0.5f, 1);
    }
    EXPECT_TRUE(core_.has_tap(1));
}

TEST_F(CoreTest, FailuresWhileCapturingReachThePacketQueue) {
    struct Row {
        const char* what;
        std::int32_t code;
    };
    for (const Row row :
         {Row{"refused new tap", pulse_code(19)}, Row{"refused at once", pulse_code(3)},
          Row{"connection lost", pulse_code(11)}}) {
        FakeServer server;
        PacketQueue packets(4);
        LoopbackCore core(server, processes_, {60, LoopbackMode::IncludeTargetTree}, packets);
        core.on_listing_done();
        core.finish_setup();
        core.start(kStart);
        const std::string what = row.what;
        if (what == "refused new tap") {
            core.on_sink_input({4, 61});
            core.on_tap_failed(4, TapFailure::Refused, row.code);
        } else if (what == "refused at once") {
            server.attach_failures[4] = row.code;
            core.on_sink_input({4, 61});
        } else {
            core.on_connection_failed(row.code);
        }
        std::uint32_t frames = 0;
        EXPECT_EQ(packets.next_packet_size(frames), row.code) << row.what;
        EXPECT_EQ(core.setup_failure(), 0) << row.what;
    }
}

TEST_F(CoreTest, AFailedReadyTapIsLookedUpAgainWhateverTheReason) {
    open({{1, 60}});
    core_.on_tap_failed(1, TapFailure::Refused, pulse_code(11));
    EXPECT_EQ(server_.calls.back(), "query 1");
    EXPECT_EQ(failure(), 0);
}

TEST_F(CoreTest, EventsForUnknownOrDetachedTapsAreIgnored) {
    open({{1, 60}});
    deliver(9, 0.5f);
    core_.on_tap_hole(9, 64);
    core_.on_tap_ready(9);
    core_.on_tap_failed(9, TapFailure::Refused, pulse_code(3));
    core_.on_sink_input_missing(9);
    core_.on_sink_input_removed(9);
    core_.on_sink_input({1, 60});  // a change of a live tap
    EXPECT_EQ(server_.calls, (std::vector<std::string>{"attach 1"}));
    EXPECT_EQ(failure(), 0);
    EXPECT_EQ(run(), (std::vector<Packet>{{0, kFlagSilent}}));
}

}  // namespace
}  // namespace quorle::pulse
