#include "audio_host/capture_run/capture_run.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <map>
#include <thread>

#include "audio_host/capture_run/activation.h"
#include "audio_host/cli/output_protocol.h"
#include "common/platform_error.h"
#include "fake_capture_platform.h"
#include "fakes/fake_process_platform.h"

namespace quorle::host {
namespace {

using namespace std::chrono_literals;
using fakes::FakeProcessPlatform;
using testing::CallLog;
using testing::Completion;
using ::testing::ElementsAreArray;
using testing::FakeAudio;
using testing::FakePacket;
using testing::FakeTime;
using testing::Wake;

constexpr std::uint32_t kTranslator = 100;
constexpr std::uint32_t kTarget = 200;
constexpr std::uint32_t kHost = 300;

// The scripted process platform, with opens, polls and closes also written to the shared
// call log (by pid), so that one log shows the order across all fakes.
class LoggedProcesses final : public ProcessPlatform {
  public:
    LoggedProcesses(FakeProcessPlatform& fake, CallLog& log) : fake_(fake), log_(log) {}

    RawResult<RawHandle> create_process_snapshot() override {
        log_.add("snapshot");
        return fake_.create_process_snapshot();
    }
    RawResult<ProcessEntry> first_process(RawHandle snapshot) override {
        return fake_.first_process(snapshot);
    }
    RawResult<ProcessEntry> next_process(RawHandle snapshot) override {
        return fake_.next_process(snapshot);
    }
    void close_snapshot(RawHandle snapshot) override {
        log_.add("close snapshot");
        fake_.close_snapshot(snapshot);
    }
    RawResult<RawHandle> open_process(std::uint32_t pid) override {
        log_.add("open " + std::to_string(pid));
        auto handle = fake_.open_process(pid);
        if (handle) pids_[*handle] = pid;
        return handle;
    }
    RawResult<std::u16string> process_image_name(RawHandle process, std::uint32_t pid) override {
        return fake_.process_image_name(process, pid);
    }
    RawResult<std::uint64_t> process_creation_time(RawHandle process, std::uint32_t pid) override {
        return fake_.process_creation_time(process, pid);
    }
    std::uint32_t wait_process(RawHandle process) override {
        log_.add("poll " + std::to_string(pids_[process]));
        return fake_.wait_process(process);
    }
    void close_process(RawHandle process) override {
        log_.add("close " + std::to_string(pids_[process]));
        fake_.close_process(process);
    }
    RawResult<std::vector<std::uint32_t>> visible_window_pids() override {
        return fake_.visible_window_pids();
    }
    std::uint32_t current_process_id() override { return fake_.current_process_id(); }

  private:
    FakeProcessPlatform& fake_;
    CallLog& log_;
    std::map<RawHandle, std::uint32_t> pids_;
};

// A stream that logs each write ("stderr <text>" or "stdout <n> bytes") and lets a test wait
// for output; `broken` makes every write fail.
class LoggedStream final : public OutputStream {
  public:
    LoggedStream(CallLog& log, std::string name) : log_(log), name_(std::move(name)) {}

    Status write(std::string_view bytes) override {
        std::lock_guard lock(mutex_);
        ++writes_;
        changed_.notify_all();
        if (broken) return fail("Broken pipe (0x00000020)");
        log_.add(name_ == "stderr" ? "stderr " + std::string(bytes)
                                   : name_ + " " + std::to_string(bytes.size()) + " bytes");
        text_.append(bytes);
        return {};
    }

    // Waits (in real time; the worker runs on its own thread) until `count` writes were tried.
    bool wait_for_writes(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 60s, [&] { return writes_ >= count; });
    }

    std::string text() {
        std::lock_guard lock(mutex_);
        return text_;
    }

    std::atomic<bool> broken{false};

  private:
    CallLog& log_;
    std::string name_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int writes_ = 0;
    std::string text_;
};

// Starts real threads and logs when the worker's body has ended; or refuses to start.
class LoggedLauncher final : public ThreadLauncher {
  public:
    explicit LoggedLauncher(CallLog& log) : log_(log) {}
    std::expected<std::thread, ThreadStartError> launch(const std::string& name,
                                                        std::function<void()> body) override {
        if (refuse != 0) return std::unexpected(ThreadStartError{refuse});
        log_.add("worker started");
        return system_thread_launcher().launch(name, [this, body = std::move(body)] {
            body();
            log_.add("worker ended");
        });
    }
    int refuse = 0;

  private:
    CallLog& log_;
};

// The translator (100) started the host (300); the player (200) runs in a tree of its own.
struct RunRig {
    explicit RunRig(bool process_target = false) {
        fake_processes.own_pid = kHost;
        fake_processes.add(1, 0, u"C:\\Windows\\explorer.exe", 10);
        fake_processes.add(kTranslator, 1, u"C:\\Apps\\Translator.exe", 1000);
        fake_processes.add(kTarget, 1, u"C:\\Apps\\Player.EXE", 2000);
        fake_processes.add(kHost, kTranslator, u"C:\\Apps\\quorle_audio_host.exe", 3000);
        request.excluded_pid = kTranslator;
        if (process_target) {
            request.target = ProcessTarget{kTarget};
            request.expected_exe = "c:\\apps\\player.exe";
            request.expected_start = 2000;
        } else {
            request.target = SystemTarget{};
        }
        // When the script of wake-ups runs out, the translator presses Ctrl+C.
        audio.on_script_end = [this] { (void)console.handle_control_event(kCtrlCEvent); };
    }

    Status run() {
        capture::WorkerOptions worker;
        worker.out = &out;
        worker.err = &err;
        worker.launcher = &launcher;
        worker.diagnostics = false;
        const CaptureRunContext context{processes, audio, console, time, err, worker};
        return run_capture(request, context);
    }

    // The entries of the log that release something, in order.
    std::vector<std::string> releases() const {
        return audio.log.only({"Stop", "release audio client", "worker ended", "CloseHandle(event)",
                               "release capture service", "CoUninitialize", "close 200",
                               "close 100"});
    }

    bool header_written() const { return audio.log.contains("stderr " + header_line()); }

    FakeTime time;
    FakeAudio audio{&time};
    FakeProcessPlatform fake_processes;
    LoggedProcesses processes{fake_processes, audio.log};
    ConsoleStop console{time};
    LoggedStream out{audio.log, "stdout"};
    LoggedStream err{audio.log, "stderr"};
    LoggedLauncher launcher{audio.log};
    CaptureRequest request;
};

const std::vector<std::string> kFullRelease = {"Stop",
                                               "release audio client",
                                               "worker ended",
                                               "CloseHandle(event)",
                                               "release capture service",
                                               "CoUninitialize",
                                               "close 100"};

TEST(CaptureRun, SystemCaptureInStepOrder) {
    RunRig rig;
    const Status result = rig.run();
    ASSERT_TRUE(result) << result.error();
    const std::vector<std::string> expected = {"snapshot",
                                               "close snapshot",
                                               "open 100",
                                               "CoInitializeEx",
                                               "ActivateAudioInterfaceAsync",
                                               "ActivateCompleted",
                                               "GetActivateResult",
                                               "QueryInterface(IAudioClient)",
                                               "release activated interface",
                                               "release operation",
                                               "release handler",
                                               "handler destroyed",
                                               "Initialize",
                                               "GetBufferSize",
                                               "GetService",
                                               "CreateEventW",
                                               "SetEventHandle",
                                               "worker started",
                                               "SetConsoleCtrlHandler",
                                               "poll 100",
                                               "stderr " + header_line(),
                                               "Start",
                                               "poll 100",
                                               "wait event 250",
                                               "Stop",
                                               "release audio client",
                                               "worker ended",
                                               "CloseHandle(event)",
                                               "release capture service",
                                               "CoUninitialize",
                                               "close 100"};
    EXPECT_EQ(rig.audio.log.entries(), expected);
    EXPECT_EQ(rig.audio.parameters,
              activation_parameters(kTranslator, LoopbackMode::ExcludeTargetProcessTree));
    EXPECT_EQ(rig.audio.console, &rig.console);
    EXPECT_EQ(rig.fake_processes.open_handle_count(), 0u);
    EXPECT_TRUE(rig.fake_processes.misuse().empty());
    EXPECT_EQ(rig.audio.live_clients.load(), 0);
}

TEST(CaptureRun, ProcessCaptureWatchesBothProcesses) {
    RunRig rig(true);
    const Status result = rig.run();
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(rig.audio.parameters,
              activation_parameters(kTarget, LoopbackMode::IncludeTargetProcessTree));
    EXPECT_EQ(rig.audio.log.only({"open 100", "open 200", "poll 100", "poll 200", "Start"}),
              (std::vector<std::string>{"open 100", "open 200", "poll 100", "poll 200", "Start",
                                        "poll 100", "poll 200"}));
    EXPECT_EQ(rig.releases(),
              (std::vector<std::string>{"Stop", "release audio client", "worker ended",
                                        "CloseHandle(event)", "release capture service",
                                        "CoUninitialize", "close 200", "close 100"}));
}

// One failing step: the message, whether the header line came first, and every release.
struct StepFailure {
    const char* name;
    bool process_target;
    std::function<void(RunRig&)> arrange;
    std::string message;
    bool header;
    std::vector<std::string> releases;
};

TEST(CaptureRun, EachFailingStepEndsTheRunAndReleasesInReverse) {
    const std::vector<std::string> after_client = {"release audio client", "CoUninitialize",
                                                   "close 100"};
    const std::vector<std::string> after_worker = {
        "release audio client",    "worker ended",   "CloseHandle(event)",
        "release capture service", "CoUninitialize", "close 100"};
    const std::vector<StepFailure> cases = {
        {"process snapshot",
         false,
         [](RunRig& rig) {
             rig.fake_processes.fail_call(FakeProcessPlatform::Call::CreateSnapshot, 1,
                                          RawError(0x80070005u));
         },
         context_error("process snapshot", 0x80070005u),
         false,
         {}},
        {"host is not the translator's child",
         false,
         [](RunRig& rig) { rig.request.excluded_pid = 1; },
         "excluded PID must be the helper's parent application",
         false,
         {}},
        {"translator cannot be opened",
         false,
         [](RunRig& rig) {
             rig.fake_processes.processes[kTranslator].open_error = RawError(0x80070005u);
         },
         context_error("open process", 0x80070005u),
         false,
         {}},
        {"target started at another time",
         true,
         [](RunRig& rig) { rig.request.expected_start = 2001; },
         "selected process identity changed; refresh the process list",
         false,
         {"close 200", "close 100"}},
        {"target path differs beyond ASCII case",
         true,
         [](RunRig& rig) { rig.request.expected_exe = "c:/apps/player.exe"; },
         "selected process identity changed; refresh the process list",
         false,
         {"close 200", "close 100"}},
        {"COM apartment",
         false,
         [](RunRig& rig) { rig.audio.faults.fail("CoInitializeEx", 0x80010106u); },
         context_error("COM MTA", 0x80010106u),
         false,
         {"close 100"}},
        {"activation call",
         false,
         [](RunRig& rig) { rig.audio.faults.fail("ActivateAudioInterfaceAsync", 0x80070005u); },
         context_error("activate process loopback", 0x80070005u),
         false,
         {"CoUninitialize", "close 100"}},
        {"activation never completes",
         false,
         [](RunRig& rig) { rig.audio.activation.when = Completion::Never; },
         "process-loopback activation timed out",
         false,
         {"CoUninitialize", "close 100"}},
        {"activation fails",
         false,
         [](RunRig& rig) {
             rig.audio.activation.activation_result = static_cast<HResult>(0x80070002u);
         },
         context_error("process-loopback activation (requires supported Windows build)",
                       0x80070002u),
         false,
         {"CoUninitialize", "close 100"}},
        {"Initialize", false, [](RunRig& rig) { rig.audio.faults.fail("Initialize", 0x88890008u); },
         context_error("initialize float32 process capture", 0x88890008u), false, after_client},
        {"SetEventHandle",
         true,
         [](RunRig& rig) { rig.audio.faults.fail("SetEventHandle", 0x80070006u); },
         context_error("set capture event", 0x80070006u),
         false,
         {"CloseHandle(event)", "release capture service", "release audio client", "CoUninitialize",
          "close 200", "close 100"}},
        {"worker thread",
         false,
         [](RunRig& rig) { rig.launcher.refuse = 11; },
         "capture worker: Resource temporarily unavailable (os error 11)",
         false,
         {"release audio client", "CloseHandle(event)", "release capture service", "CoUninitialize",
          "close 100"}},
        {"console handler", false,
         [](RunRig& rig) { rig.audio.faults.fail("SetConsoleCtrlHandler", 5); },
         context_error("console stop handler", 0x80070005u), false, after_worker},
        {"translator gone before the capture", false,
         [](RunRig& rig) {
             rig.fake_processes.processes[kTranslator].wait_result = kWaitSignalled;
         },
         "selected or parent process exited before capture", false, after_worker},
        {"target's poll fails before the capture",
         true,
         [](RunRig& rig) { rig.fake_processes.processes[kTarget].wait_result = kWaitFailed; },
         "selected or parent process exited before capture",
         false,
         {"release audio client", "worker ended", "CloseHandle(event)", "release capture service",
          "CoUninitialize", "close 200", "close 100"}},
        {"header line cannot be written", false, [](RunRig& rig) { rig.err.broken = true; },
         "Broken pipe (0x00000020)", false, after_worker},
        {"client start", false, [](RunRig& rig) { rig.audio.faults.fail("Start", 0x88890001u); },
         context_error("start process capture", 0x88890001u), true, after_worker},
        {"packet loop", false,
         [](RunRig& rig) {
             rig.audio.faults.fail("GetNextPacketSize", 0x88890004u);
             rig.audio.wakes.push_back(Wake{kWaitObject0, {}, {}});
         },
         context_error("next capture packet", 0x88890004u), true, kFullRelease},
    };
    for (const StepFailure& test : cases) {
        SCOPED_TRACE(test.name);
        RunRig rig(test.process_target);
        test.arrange(rig);
        const Status result = rig.run();
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error(), test.message);
        EXPECT_EQ(rig.header_written(), test.header);
        EXPECT_EQ(rig.releases(), test.releases);
        EXPECT_EQ(rig.out.text(), "") << "no PCM without a running capture";
        EXPECT_EQ(rig.fake_processes.open_handle_count(), 0u);
        EXPECT_TRUE(rig.fake_processes.misuse().empty());
        EXPECT_EQ(rig.audio.live_clients.load(), 0);
        if (rig.audio.activation.when != Completion::Never) {
            EXPECT_EQ(rig.audio.live_handlers.load(), 0) << "only a pending platform holds it";
        }
    }
}

TEST(CaptureRun, ActivationWaitsTenSecondsOfSimulatedTime) {
    RunRig rig;
    rig.audio.activation.when = Completion::At;
    rig.audio.activation.at = 9s;
    const Status result = rig.run();
    EXPECT_TRUE(result) << result.error();
    EXPECT_EQ(rig.time.elapsed(), 9s);
}

// How a running capture ends: the result, and the processes' fates.
struct StopCase {
    const char* name;
    bool process_target;
    std::function<void(RunRig&)> during_capture;  // runs at the first wake-up
    std::string message;                          // empty: success
};

TEST(CaptureRun, HowARunningCaptureEnds) {
    const std::vector<StopCase> cases = {
        {"Ctrl+C", true, [](RunRig& rig) { (void)rig.console.handle_control_event(kCtrlCEvent); },
         ""},
        {"the translator exits", true,
         [](RunRig& rig) {
             rig.fake_processes.processes[kTranslator].wait_result = kWaitSignalled;
         },
         ""},
        {"the translator's poll fails", false,
         [](RunRig& rig) { rig.fake_processes.processes[kTranslator].wait_result = kWaitFailed; },
         ""},
        {"the target exits", true,
         [](RunRig& rig) { rig.fake_processes.processes[kTarget].wait_result = kWaitSignalled; },
         "selected process exited"},
    };
    for (const StopCase& test : cases) {
        SCOPED_TRACE(test.name);
        RunRig rig(test.process_target);
        rig.audio.on_script_end = nullptr;
        rig.audio.wakes.push_back(Wake{kWaitTimeout, {}, [&] { test.during_capture(rig); }});
        rig.audio.wakes.push_back(Wake{0xFFFFFFFFu, {}, {}});  // never reached
        const Status result = rig.run();
        if (test.message.empty()) {
            EXPECT_TRUE(result) << result.error();
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error(), test.message);
        }
        const auto release = rig.releases();
        ASSERT_GE(release.size(), 3u);
        EXPECT_EQ(std::vector<std::string>(release.begin(), release.begin() + 3),
                  (std::vector<std::string>{"Stop", "release audio client", "worker ended"}));
        EXPECT_EQ(rig.audio.wakes.size(), 1u) << "the stop was seen at the next check";
    }
}

TEST(CaptureRun, HeaderLineComesBeforeAnyPcm) {
    RunRig rig;
    rig.audio.on_script_end = nullptr;
    // 960 frames make one 20 ms block; the next wake-up waits until the worker wrote it.
    rig.audio.wakes.push_back(Wake{kWaitObject0, {FakePacket(480), FakePacket(480)}, {}});
    rig.audio.wakes.push_back(Wake{kWaitTimeout, {}, [&rig] {
                                       ASSERT_TRUE(rig.out.wait_for_writes(1));
                                       rig.console.request();
                                   }});
    ASSERT_TRUE(rig.run());
    EXPECT_EQ(rig.out.text().size(), 1920u);
    const auto log = rig.audio.log.entries();
    const auto header = std::find(log.begin(), log.end(), "stderr " + header_line());
    const auto pcm = std::find(log.begin(), log.end(), "stdout 1920 bytes");
    ASSERT_NE(header, log.end());
    ASSERT_NE(pcm, log.end());
    EXPECT_LT(header, pcm);
    EXPECT_EQ(rig.err.text(), header_line()) << "one header line, nothing else";
}

TEST(CaptureRun, BrokenStandardOutputEndsTheCaptureWithSuccess) {
    RunRig rig;
    rig.out.broken = true;
    rig.audio.wakes.push_back(Wake{kWaitObject0, {FakePacket(480), FakePacket(480)}, {}});
    // The worker sets the shared stop flag once its write has failed; the loop sees it at
    // its next check. Until then every wake-up is a time-out.
    rig.audio.on_script_end = [&rig] {
        ASSERT_TRUE(rig.out.wait_for_writes(1));
        std::this_thread::sleep_for(1ms);
    };
    const Status result = rig.run();
    EXPECT_TRUE(result) << result.error();
    EXPECT_FALSE(rig.console.flag().load()) << "ended by the shared stop flag";
    EXPECT_EQ(rig.out.text(), "");
}

TEST(CaptureRun, ZeroBufferSizeReportStillCaptures) {
    RunRig rig;
    rig.audio.buffer_frames = 0;
    rig.audio.wakes.push_back(Wake{kWaitObject0, {FakePacket(960)}, {}});
    const Status result = rig.run();
    EXPECT_TRUE(result) << result.error();
    EXPECT_EQ(rig.audio.log.count("ReleaseBuffer 960"), 1u);
}

TEST(CaptureRun, CloseEventWaitsOnlyUntilTheShutdown) {
    RunRig rig;
    ASSERT_TRUE(rig.run());
    const auto before = rig.time.elapsed();
    EXPECT_EQ(rig.console.handle_control_event(kCtrlCloseEvent), ConsoleHandlerNext::KeepWaiting);
    EXPECT_EQ(rig.time.elapsed(), before) << "the run had finished its shutdown";
}

}  // namespace
}  // namespace quorle::host
