#pragma once
// Scripted fakes of the capture run's platform operations. One FakeAudio holds the script
// (packets, event wake-ups, activation behaviour, failing calls) and one CallLog in which every
// call and every release is recorded in order, so that tests prove step order and the
// reverse-order clean-up on every path.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio_host/capture_run/activation_completion.h"
#include "audio_host/capture_run/capture_platform.h"
#include "audio_host/capture_run/console_stop.h"
#include "audio_host/capture_run/packet_loop.h"
#include "fake_time.h"

namespace quorle::host::testing {

// Every call and release, in order; safe to write from the completion thread.
class CallLog {
  public:
    void add(std::string entry);
    [[nodiscard]] std::vector<std::string> entries() const;
    // The entries that are one of `names`, in order (to look at one kind of call).
    [[nodiscard]] std::vector<std::string> only(const std::vector<std::string>& names) const;
    [[nodiscard]] bool contains(const std::string& entry) const;
    [[nodiscard]] std::size_t count(const std::string& entry) const;

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// Scripted failures: the n-th call (counted from 1) of a named operation answers `code`.
class Faults {
  public:
    void fail(const std::string& operation, std::uint32_t code, int nth = 1);
    // Counts a call of `operation` and returns its scripted failure, if any.
    [[nodiscard]] std::optional<std::uint32_t> hit(const std::string& operation);

  private:
    std::mutex mutex_;
    std::map<std::string, std::map<int, std::uint32_t>> planned_;
    std::map<std::string, int> calls_;
};

// One packet waiting in the capture service.
struct FakePacket {
    enum class Data { Samples, Null, Misaligned };
    FakePacket(std::uint32_t packet_frames, std::uint32_t packet_flags = 0,
               Data packet_data = Data::Samples)
        : frames(packet_frames), flags(packet_flags), data(packet_data) {}
    // GetNextPacketSize answers `size` for this packet instead of its frame count.
    FakePacket& announce(std::uint32_t size) {
        announced = size;
        return *this;
    }
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    Data data = Data::Samples;
    std::optional<std::uint32_t> announced;
};

// One return of the capture event's wait: `before` runs first (a process exits, a flag is
// set), then `packets` join the capture service's queue, then `result` is returned.
struct Wake {
    std::uint32_t result = kWaitObject0;
    std::vector<FakePacket> packets;
    std::function<void()> before;
};

// When the platform calls the completion handler.
enum class Completion {
    Inline,    // inside the asynchronous call, before it returns
    OnThread,  // on a thread of its own, right away
    At,        // at a simulated time (FakeTime::at), measured from the test's start
    Never,     // the platform keeps the handler until the FakeAudio ends
};

// What the activation does and what its operation reports.
struct ActivationScript {
    Completion when = Completion::Inline;
    std::chrono::nanoseconds at{};
    bool no_operation_object = false;          // the asynchronous call gives no operation
    bool completes_without_operation = false;  // ActivateCompleted(nullptr)
    HResult get_result_call = kSOk;            // GetActivateResult's own result
    HResult activation_result = kSOk;          // the activation's result
    bool activated_interface = true;           // an activated interface is handed over
    HResult query_result = kSOk;               // QueryInterface(IAudioClient)
    bool query_gives_null = false;             // ... success without a pointer
};

class FakeAudio final : public CapturePlatform {
  public:
    explicit FakeAudio(FakeTime* time = nullptr) : time_(time) {}
    ~FakeAudio() override;
    FakeAudio(const FakeAudio&) = delete;
    FakeAudio& operator=(const FakeAudio&) = delete;

    CallLog log;
    Faults faults;
    ActivationScript activation;
    ActivationService service = ActivationService::WindowsProcessLoopback;
    HResult apartment_result = kSOk;  // S_FALSE (1) for an apartment joined before
    std::uint32_t buffer_frames = 480;
    bool service_null = false;  // GetService succeeds without a service
    std::deque<Wake> wakes;
    std::deque<FakePacket> queue;         // packets waiting in the capture service
    std::function<void()> on_script_end;  // runs at each wait once the wake script is empty

    // Recorded arguments.
    std::optional<ActivationParameters> parameters;
    std::optional<ClientInitialization> initialization;
    ConsoleStop* console = nullptr;

    // Live fake objects (a leak leaves these above 0 once everything is released).
    std::atomic<int> live_clients{0};
    std::atomic<int> live_handlers{0};

    // The float samples a Samples packet carries: 0, 1, 2, ... over the whole capture.
    [[nodiscard]] float next_sample_value() { return static_cast<float>(sample_counter_++); }

    // Fake platform objects, as activation and set-up would hand them out.
    [[nodiscard]] std::unique_ptr<AudioClient> make_client();
    [[nodiscard]] std::unique_ptr<CaptureService> make_service();
    [[nodiscard]] std::unique_ptr<CaptureEvent> make_event();

    // Waits for a completion thread to end (Completion::OnThread).
    void join_completion();

    // CapturePlatform
    ActivationService activation_service() const override { return service; }
    HResult join_multithreaded_apartment(std::unique_ptr<PlatformReference>& membership) override;
    ActivationStart activate_process_loopback(const ActivationParameters& parameters,
                                              ActivationCompletion completion) override;
    Win32Call create_capture_event(std::unique_ptr<CaptureEvent>& event) override;
    Win32Call install_console_handler(ConsoleStop& stop) override;

    // Used by the fake objects.
    [[nodiscard]] HResult result_of(const std::string& operation);
    [[nodiscard]] std::uint32_t next_wake();

    struct Handler;

  private:
    void complete(const std::shared_ptr<Handler>& handler);

    FakeTime* time_;
    std::uint64_t sample_counter_ = 0;
    std::thread completion_thread_;
    std::vector<std::shared_ptr<Handler>> kept_handlers_;  // the platform's references
};

// A sink that records what it is given, in the shared log and in detail.
class FakeSink final : public PacketSink {
  public:
    explicit FakeSink(CallLog& log) : log_(log) {}
    void push_samples(const float* samples, std::size_t count) override;
    void mark_discontinuity() override;

    std::vector<std::size_t> pushes;  // sample count of every call
    std::vector<float> samples;       // every sample, in order
    std::vector<const float*> sources;
    int discontinuities = 0;

  private:
    CallLog& log_;
};

// A process that runs until told otherwise; every poll is logged as "poll <name>".
class FakeProcess final : public ProcessWatch {
  public:
    FakeProcess(CallLog& log, std::string name) : log_(log), name_(std::move(name)) {}
    bool running() override;
    std::atomic<bool> alive{true};

  private:
    CallLog& log_;
    std::string name_;
};

}  // namespace quorle::host::testing
