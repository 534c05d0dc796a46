// The PulseAudio capture's event state machine driven by arbitrary event sequences: sink
// inputs appearing, changing and ending, taps connecting, failing, delivering data of any
// size (partial frames, NaNs, holes), the clock jumping, the capture starting and stopping,
// and a reader taking packets. Every packet must be one whole tick, the tick schedule must
// stay within its bound ahead of the clock, and every call must keep the machine's own
// bookkeeping sound (checked by the sanitizers).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "audio_host/pulse/loopback_core.h"
#include "audio_host/pulse/pulse_codes.h"

namespace {

using namespace quorle::pulse;

class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    [[nodiscard]] bool empty() const { return at_ >= size_; }
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    // Up to `limit` bytes straight from the input.
    std::vector<std::uint8_t> bytes(std::size_t limit) {
        const std::size_t n = std::min(limit, size_ - std::min(at_, size_));
        std::vector<std::uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

class FuzzServer final : public MonitorServer {
  public:
    bool fail_next = false;
    std::set<std::uint32_t> attached;
    std::int32_t attach(std::uint32_t index) override {
        if (fail_next) {
            fail_next = false;
            return pulse_code(3);
        }
        attached.insert(index);
        return 0;
    }
    void detach(std::uint32_t index) override { attached.erase(index); }
    std::int32_t query(std::uint32_t) override { return fail_next ? pulse_code(11) : 0; }
};

// 1 -> 50 -> 51 ; 1 -> 60 -> 61
class FuzzProcesses final : public ProcessLookup {
  public:
    std::optional<std::uint32_t> parent_of(std::uint32_t pid) const override {
        switch (pid) {
            case 1:
                return 0;
            case 50:
            case 60:
                return 1;
            case 51:
                return 50;
            case 61:
                return 60;
            default:
                return std::nullopt;
        }
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input input(data, size);
    FuzzServer server;
    FuzzProcesses processes;
    PacketQueue packets(8);
    CoreConfig config;
    config.max_pending = 8;
    config.queue_frames = 4 * kFramesPerPacket;  // small, so that overflows happen
    const LoopbackTarget target{
        input.byte() % 2 ? 60u : 50u,
        input.byte() % 2 ? LoopbackMode::IncludeTargetTree : LoopbackMode::ExcludeTargetTree};
    LoopbackCore core(server, processes, target, packets, config);
    std::uint64_t now = 1000000;
    bool running = false;
    static const std::optional<std::uint32_t> kPids[] = {std::nullopt, 1, 50, 51, 60, 61, 999};

    while (!input.empty()) {
        const std::uint8_t op = input.byte();
        const std::uint32_t index = input.byte() % 6;
        switch (op % 12) {
            case 0:
                core.on_sink_input({index, kPids[input.byte() % 7]});
                break;
            case 1:
                core.on_listing_done();
                break;
            case 2:
                core.on_sink_input_missing(index);
                break;
            case 3:
                core.on_sink_input_removed(index);
                break;
            case 4:
                core.on_tap_ready(index);
                break;
            case 5:
                core.on_tap_failed(index, static_cast<TapFailure>(input.byte() % 3),
                                   pulse_code(input.byte() % 30 + 1));
                break;
            case 6: {
                const std::vector<std::uint8_t> bytes = input.bytes(input.byte() * 16u);
                core.on_tap_data(index, bytes.data(), bytes.size(), now);
                break;
            }
            case 7:
                core.on_tap_hole(index, input.byte() * 64u);
                break;
            case 8:
                now += std::uint64_t{input.byte()} * 1000u;
                (void)core.on_timer(now);
                break;
            case 9:
                if (running) {
                    core.stop();
                } else {
                    core.finish_setup();
                    (void)core.start(now);
                }
                running = !running;
                break;
            case 10: {
                // The reader takes what is there.
                for (;;) {
                    const float* samples = nullptr;
                    std::uint32_t frames = 0;
                    std::uint32_t flags = 0;
                    if (packets.get_buffer(samples, frames, flags) != 0 || frames == 0) break;
                    if (frames != kFramesPerPacket || samples == nullptr) __builtin_trap();
                    if (packets.release_buffer(frames) != 0) __builtin_trap();
                }
                break;
            }
            default:
                server.fail_next = true;
                break;
        }
        (void)core.setup_settled();
        // Packets go out ahead of their ticks only up to the bound: the schedule never runs
        // further ahead of the clock.
        if (core.next_wake_us() > now + config.ahead_us + kTickMicros + config.grace_us)
            __builtin_trap();
    }
    return 0;
}
