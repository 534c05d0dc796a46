#include "audio/backend/controller_registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <optional>
#include <stdexcept>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>

#include <cstdlib>
#endif

#include "audio/backend/audio_controller.h"
#include "backend_fakes.h"
#include "common/platform_error.h"

namespace quorle::audio {
namespace {

using namespace std::chrono_literals;
using testing::CallLog;
using testing::EnumerateAnswer;
using testing::FakePlatform;

constexpr std::int32_t kRpcChangedMode = static_cast<std::int32_t>(0x80010106u);
constexpr std::int32_t kOutOfMemory = static_cast<std::int32_t>(0x8007000Eu);

const AudioEndpoint kMic{"mic", "Microphone", 16000, 1, EndpointDirection::Capture, true};
const AudioEndpoint kSpeakers{"spk", "Speakers", 48000, 2, EndpointDirection::Render, true};
const AudioEndpoint kHeadset{"hs", "Headset", 44100, 2, EndpointDirection::Render, false};

// Index of `entry` in the log, or the log's size when absent.
std::size_t position(const std::vector<std::string>& log, const std::string& entry) {
    return static_cast<std::size_t>(std::find(log.begin(), log.end(), entry) - log.begin());
}

// A registered audio object that reports what happens to it.
class LoggingObject final : public AudioObject {
  public:
    LoggingObject(CallLog& log, std::string name, std::atomic<int>* rounds = nullptr,
                  std::promise<void>* first_round = nullptr)
        : log_(log), name_(std::move(name)), rounds_(rounds), first_round_(first_round) {}
    ~LoggingObject() override { log_.record("release " + name_); }
    void diagnostics() override {
        if (rounds_ != nullptr && rounds_->fetch_add(1, std::memory_order_acq_rel) == 0 &&
            first_round_ != nullptr) {
            first_round_->set_value();
        }
    }

  private:
    CallLog& log_;
    std::string name_;
    std::atomic<int>* rounds_;
    std::promise<void>* first_round_;
};

// Submits an empty job when destroyed (once, whichever copy holds it) and keeps the outcome.
class SubmitOnRelease {
  public:
    SubmitOnRelease(const AudioController& controller, std::optional<Status>& outcome)
        : controller_(&controller), outcome_(&outcome) {}
    SubmitOnRelease(SubmitOnRelease&& other) noexcept
        : controller_(std::exchange(other.controller_, nullptr)), outcome_(other.outcome_) {}
    SubmitOnRelease& operator=(SubmitOnRelease&&) = delete;
    ~SubmitOnRelease() {
        if (controller_ != nullptr)
            outcome_->emplace(controller_->submit([](ControlThreadState&) {}));
    }

  private:
    const AudioController* controller_;
    std::optional<Status>* outcome_;
};

class Controller : public ::testing::Test {
  protected:
    void SetUp() override {
        platform.cubeb.devices[1] = {{"mic", "Microphone", kCubebDeviceStateEnabled, 1, 1, 16000}};
        platform.cubeb.devices[2] = {{"spk", "Speakers", kCubebDeviceStateEnabled, 1, 2, 48000},
                                     {"hs", "Headset", kCubebDeviceStateEnabled, 0, 2, 44100}};
    }

    ControllerRegistry& registry(std::chrono::nanoseconds queue_wait = kQueueWait) {
        if (!registry_) registry_.emplace(platform.environment(queue_wait));
        return *registry_;
    }
    // Stops the control thread (the registry holds the last reference) and waits for it.
    void stop() { registry_.reset(); }

    std::shared_ptr<AudioController> controller() {
        auto acquired = registry().acquire();
        EXPECT_TRUE(acquired) << acquired.error();
        return acquired ? *acquired : nullptr;
    }

    // One round trip through the queue: every job queued before has run, with its
    // diagnostics check, when this returns.
    void round_trip(const AudioController& c) {
        const auto done = call_on_control_thread<int>(c, [](ControlThreadState&) { return 0; });
        ASSERT_TRUE(done) << done.error();
    }

    FakePlatform platform;
    std::optional<ControllerRegistry> registry_;  // declared after the fakes it uses
};

TEST_F(Controller, FirstRequestStartsTheThreadWhichListsRecordingThenPlayback) {
    const auto endpoints = list_audio_endpoints(registry());
    ASSERT_TRUE(endpoints) << endpoints.error();
    EXPECT_EQ(*endpoints, (std::vector<AudioEndpoint>{kMic, kSpeakers, kHeadset}));
    EXPECT_EQ(
        platform.log.entries(),
        (std::vector<std::string>{"thread_launch quorle-audio-control", "com_init",
                                  "cubeb_init Quorle wasapi", "cubeb_get_backend_id",
                                  "cubeb_enumerate_devices 1", "cubeb_device_collection_destroy",
                                  "cubeb_enumerate_devices 2", "cubeb_device_collection_destroy"}));
    EXPECT_EQ(platform.standard_error.text(), "QUORLE_AUDIO backend=wasapi binding=0.38.0\n");

    // Every cubeb call ran on one thread, and not on the requester's.
    const auto threads = platform.cubeb.calling_threads();
    ASSERT_EQ(threads.size(), 1u);
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());

    // Later requests share the running thread: no second start, no second backend line.
    ASSERT_TRUE(list_audio_endpoints(registry()));
    EXPECT_EQ(platform.threads.launched(), 1);
    EXPECT_EQ(platform.standard_error.text(), "QUORLE_AUDIO backend=wasapi binding=0.38.0\n");
    EXPECT_EQ(controller()->backend_id(), "wasapi");

    // The last reference stops the thread, which destroys the context, then leaves COM.
    stop();
    const auto log = platform.log.entries();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2], "cubeb_destroy");
    EXPECT_EQ(log.back(), "com_uninit");
    EXPECT_EQ(platform.cubeb.live_contexts(), 0u);
    EXPECT_EQ(platform.cubeb.calling_threads().size(), 1u);
}

TEST_F(Controller, TheThreadCarriesItsName) {
    auto c = controller();
    ASSERT_TRUE(c);
    const auto name = call_on_control_thread<std::string>(*c, [](ControlThreadState&) {
        std::string text;
#ifdef __linux__
        char buffer[64] = {};
        if (pthread_getname_np(pthread_self(), buffer, sizeof buffer) == 0) text = buffer;
#endif
        return Result<std::string>(text);
    });
    ASSERT_TRUE(name);
#ifdef __linux__
    EXPECT_EQ(*name, "quorle-audio-co");  // the kernel keeps 15 bytes
#endif
    EXPECT_EQ(platform.log.entries().front(), "thread_launch quorle-audio-control");
}

TEST_F(Controller, FailedStartsReportTheirMessageLeaveNothingAndTheNextRequestStartsAfresh) {
    struct Row {
        const char* what;
        void (*script)(FakePlatform&);
        std::string message;
        std::vector<std::string> calls;
    };
    const std::vector<Row> rows = {
        {"COM in another apartment",
         [](FakePlatform& p) { p.com.results = {kRpcChangedMode}; },
         "COM MTA initialization failed: 0x80010106",
         {"thread_launch quorle-audio-control", "com_init"}},
        {"COM out of memory",
         [](FakePlatform& p) { p.com.results = {kOutOfMemory}; },
         "COM MTA initialization failed: 0x8007000e",
         {"thread_launch quorle-audio-control", "com_init"}},
        {"no cubeb context",
         [](FakePlatform& p) { p.cubeb.init_results = {kCubebErrorNotSupported}; },
         "cubeb context: NotSupported",
         {"thread_launch quorle-audio-control", "com_init", "cubeb_init Quorle wasapi",
          "com_uninit"}},
        {"no thread",
         [](FakePlatform& p) { p.threads.failures = {11}; },
         "audio control thread: Resource temporarily unavailable (os error 11)",
         {"thread_launch quorle-audio-control"}},
        {"thread ends before answering",
         [](FakePlatform& p) { p.cubeb.throw_on_init = true; },
         "audio control thread exited",
         {"thread_launch quorle-audio-control", "com_init", "cubeb_init Quorle wasapi",
          "com_uninit"}},
    };
    for (const Row& row : rows) {
        FakePlatform p;
        p.cubeb.devices[2] = {{"spk", "Speakers", kCubebDeviceStateEnabled, 1, 2, 48000}};
        row.script(p);
        ControllerRegistry reg(p.environment());

        const auto failed = list_audio_endpoints(reg);
        ASSERT_FALSE(failed) << row.what;
        EXPECT_EQ(failed.error(), row.message) << row.what;
        EXPECT_EQ(p.log.entries(), row.calls) << row.what;
        EXPECT_EQ(p.standard_error.text(), "") << row.what;
        EXPECT_EQ(p.cubeb.live_contexts(), 0u) << row.what;

        p.cubeb.throw_on_init = false;
        p.log.clear();
        const auto next = list_audio_endpoints(reg);
        ASSERT_TRUE(next) << row.what << ": " << next.error();
        EXPECT_EQ(*next, std::vector<AudioEndpoint>{kSpeakers}) << row.what;
        EXPECT_EQ(p.log.entries().front(), "thread_launch quorle-audio-control") << row.what;
        EXPECT_EQ(p.log.count("com_init"), 1u) << row.what;
    }
}

TEST_F(Controller, ComAlreadyInitialisedCountsAsJoinedAndIsLeftAtTheEnd) {
    platform.com.results = {1};  // S_FALSE
    ASSERT_TRUE(list_audio_endpoints(registry()));
    stop();
    EXPECT_EQ(platform.log.count("com_uninit"), 1u);
    EXPECT_EQ(platform.log.entries().back(), "com_uninit");
}

TEST_F(Controller, AStartEndedByAnExceptionPoisonsTheRegistry) {
    platform.threads.throw_on_launch = true;
    EXPECT_THROW((void)registry().acquire(), std::runtime_error);
    platform.threads.throw_on_launch = false;
    for (int i = 0; i < 2; ++i) {
        const auto poisoned = list_audio_endpoints(registry());
        ASSERT_FALSE(poisoned);
        EXPECT_EQ(poisoned.error(), "audio controller registry poisoned");
    }
    EXPECT_EQ(platform.threads.launched(), 0);
}

TEST_F(Controller, AJobThatEndsTheThreadLeavesADeadControllerThatRefusesRequests) {
    auto c = controller();
    ASSERT_TRUE(c);
    // The failing job also carries a probe that, when the job is released, sends a request:
    // by then the queue must already refuse it, or a requester woken by the release could
    // queue work that nobody runs.
    std::optional<Status> sent_during_release;
    const auto ended = call_on_control_thread<int>(
        *c, [probe = SubmitOnRelease(*c, sent_during_release)](ControlThreadState&) -> Result<int> {
            throw std::runtime_error("job failed");
        });
    ASSERT_FALSE(ended);
    EXPECT_EQ(ended.error(), "audio controller exited during operation");
    ASSERT_TRUE(sent_during_release);
    ASSERT_FALSE(*sent_during_release);
    EXPECT_EQ(sent_during_release->error(), "audio controller closed");
    c.reset();

    for (int i = 0; i < 2; ++i) {
        const auto closed = list_audio_endpoints(registry());
        ASSERT_FALSE(closed);
        EXPECT_EQ(closed.error(), "audio controller closed");
    }
    EXPECT_EQ(platform.threads.launched(), 1);

    stop();  // joins the dead thread
    const auto log = platform.log.entries();
    EXPECT_LT(position(log, "cubeb_destroy"), position(log, "com_uninit"));
    EXPECT_LT(position(log, "com_uninit"), log.size());
    EXPECT_EQ(platform.cubeb.live_contexts(), 0u);
}

TEST_F(Controller, JobsStillQueuedWhenTheThreadEndsAreDroppedUnrun) {
    auto c = controller();
    ASSERT_TRUE(c);
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    ASSERT_TRUE(c->submit([released](ControlThreadState&) {
        released.wait();
        throw std::runtime_error("job failed");
    }));
    auto reply = make_reply_channel<int>();
    std::atomic<bool> ran{false};
    ASSERT_TRUE(c->submit([sender = std::move(reply.sender), &ran](ControlThreadState&) mutable {
        ran.store(true, std::memory_order_release);
        (void)sender.send(1);
    }));
    release.set_value();
    EXPECT_FALSE(reply.receiver.receive());
    EXPECT_FALSE(ran.load(std::memory_order_acquire));
}

TEST_F(Controller, AFailedRecordingListEndsTheCallBeforeThePlaybackList) {
    platform.cubeb.enumerate_answers[1] = {EnumerateAnswer{kCubebError, {}}};
    const auto failed = list_audio_endpoints(registry());
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error(), "cubeb enumerate: Error");
    EXPECT_EQ(platform.log.count("cubeb_enumerate_devices 2"), 0u);

    // The context stays usable for the next request.
    const auto next = list_audio_endpoints(registry());
    ASSERT_TRUE(next) << next.error();
    EXPECT_EQ(next->size(), 3u);
}

TEST_F(Controller, StoppingReleasesRegisteredObjectsInKeyOrderThenTheContextThenCom) {
    auto c = controller();
    ASSERT_TRUE(c);
    CallLog& log = platform.log;
    ASSERT_TRUE(call_on_control_thread<int>(*c, [&log](ControlThreadState& state) {
        for (std::uint64_t key : {3u, 1u, 2u}) {
            state.objects.emplace(key, std::make_unique<LoggingObject>(log, std::to_string(key)));
        }
        return Result<int>(0);
    }));
    c.reset();
    log.clear();
    stop();
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"release 1", "release 2", "release 3",
                                                       "cubeb_destroy", "com_uninit"}));
}

TEST_F(Controller, DiagnosticsRunAfterAJobOnceAWholeSecondHasPassed) {
    for (const bool on : {true, false}) {
        FakePlatform p;
        p.diagnostics.store(on, std::memory_order_release);
        ControllerRegistry reg(p.environment());
        auto acquired = reg.acquire();
        ASSERT_TRUE(acquired);
        const AudioController& c = **acquired;
        std::atomic<int> rounds{0};
        CallLog& log = p.log;
        ASSERT_TRUE(call_on_control_thread<int>(c, [&](ControlThreadState& state) {
            state.objects.emplace(1, std::make_unique<LoggingObject>(log, "1", &rounds));
            return Result<int>(0);
        }));

        p.clock.advance(999ms);
        round_trip(c);
        EXPECT_EQ(rounds.load(), 0) << on;
        p.clock.advance(1ms);
        round_trip(c);  // its check sees a whole second
        round_trip(c);  // and this one sees the new tick
        EXPECT_EQ(rounds.load(), on ? 1 : 0) << on;
        p.clock.advance(1s);
        round_trip(c);
        round_trip(c);
        EXPECT_EQ(rounds.load(), on ? 2 : 0) << on;
    }
}

TEST_F(Controller, AnIdleThreadRunsDiagnosticsOnItsQueueTimeOut) {
    platform.diagnostics.store(true, std::memory_order_release);
    // A short queue wait lets the time-out come quickly; the fake clock decides the tick.
    auto& reg = registry(1ms);
    auto acquired = reg.acquire();
    ASSERT_TRUE(acquired);
    const AudioController& idle = **acquired;
    round_trip(idle);
    platform.clock.advance(10s);
    round_trip(idle);
    // Nothing is registered: the rounds have nothing to call and write nothing.
    const auto before = platform.log.entries();

    std::atomic<int> rounds{0};
    std::promise<void> first_round;
    auto fired = first_round.get_future();
    CallLog& log = platform.log;
    ASSERT_TRUE(call_on_control_thread<int>(idle, [&](ControlThreadState& state) {
        state.objects.emplace(7, std::make_unique<LoggingObject>(log, "7", &rounds, &first_round));
        return Result<int>(0);
    }));
    round_trip(idle);  // the registration's own check is over
    const int after_jobs = rounds.load();
    platform.clock.advance(1s);
    ASSERT_EQ(fired.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(after_jobs, 0);
    EXPECT_EQ(before, platform.log.entries());
    EXPECT_EQ(platform.standard_error.text(), "QUORLE_AUDIO backend=wasapi binding=0.38.0\n");
}

TEST_F(Controller, TwoFirstCallersRacingShareOneStart) {
    for (int round = 0; round < 20; ++round) {
        FakePlatform p;
        p.cubeb.devices[2] = {{"spk", "Speakers", kCubebDeviceStateEnabled, 1, 2, 48000}};
        ControllerRegistry reg(p.environment());
        std::atomic<int> ready{0};
        std::optional<Result<std::vector<AudioEndpoint>>> results[2];
        std::vector<std::thread> callers;
        for (auto& result : results) {
            callers.emplace_back([&reg, &ready, &result] {
                ready.fetch_add(1, std::memory_order_acq_rel);
                while (ready.load(std::memory_order_acquire) < 2)
                    std::this_thread::yield();
                result.emplace(list_audio_endpoints(reg));
            });
        }
        for (auto& t : callers)
            t.join();
        for (const auto& result : results) {
            ASSERT_TRUE(result && *result) << (result ? result->error() : "no result");
            EXPECT_EQ(**result, std::vector<AudioEndpoint>{kSpeakers});
        }
        EXPECT_EQ(p.threads.launched(), 1);
        EXPECT_EQ(p.log.count("com_init"), 1u);
        EXPECT_EQ(p.log.count("cubeb_init Quorle wasapi"), 1u);
    }
}

TEST(ComFailureMessage, IsLowerCaseHexWithoutLeadingZeros) {
    EXPECT_EQ(com_failure_message(kRpcChangedMode), "COM MTA initialization failed: 0x80010106");
    EXPECT_EQ(com_failure_message(kOutOfMemory), "COM MTA initialization failed: 0x8007000e");
    EXPECT_EQ(com_failure_message(-1), "COM MTA initialization failed: 0xffffffff");
    EXPECT_EQ(com_failure_message(0x1F), "COM MTA initialization failed: 0x1f");
    EXPECT_EQ(com_failure_message(0), "COM MTA initialization failed: 0x0");
}

TEST(SystemCom, JoinsTheMultithreadedApartmentOnAFreshThread) {
    std::int32_t result = -1;
    std::thread worker([&result] {
        result = system_com_initializer().initialize_multithreaded();
        if (result >= 0) system_com_initializer().uninitialize();
    });
    worker.join();
    EXPECT_EQ(result, 0);  // S_OK on Windows; always success on Linux
}

TEST(Diagnostics, ThePresenceOfTheVariableTurnsThemOnEvenWhenEmpty) {
#ifdef _WIN32
    ASSERT_TRUE(SetEnvironmentVariableW(L"QUORLE_AUDIO_DIAGNOSTICS", L""));
    EXPECT_TRUE(audio_diagnostics_requested());
    ASSERT_TRUE(SetEnvironmentVariableW(L"QUORLE_AUDIO_DIAGNOSTICS", nullptr));
#else
    ASSERT_EQ(setenv("QUORLE_AUDIO_DIAGNOSTICS", "", 1), 0);
    EXPECT_TRUE(audio_diagnostics_requested());
    ASSERT_EQ(unsetenv("QUORLE_AUDIO_DIAGNOSTICS"), 0);
#endif
    EXPECT_FALSE(audio_diagnostics_requested());
}

}  // namespace
}  // namespace quorle::audio
