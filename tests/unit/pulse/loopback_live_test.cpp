// The capture against a real PulseAudio daemon with a float32 null sink (run by ctest under
// tests/fixtures/with-pulseaudio): real players, real taps, real timing.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <numbers>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "audio_host/pulse/event_fd.h"
#include "audio_host/pulse/loopback_capture.h"
#include "audio_host/pulse/pulse_codes.h"
#include "support/scoped_environment.h"

extern char** environ;

namespace quorle::pulse {
namespace {

using namespace std::chrono_literals;

// A tone_player child process; the constructor returns once it has named its pid.
class Player {
  public:
    explicit Player(const std::vector<std::string>& arguments) : arguments_(arguments) {
        std::string program = QUORLE_TONE_PLAYER;
        std::vector<char*> argv{program.data()};
        for (std::string& argument : arguments_)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        int pipe_fds[2];
        if (pipe2(pipe_fds, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        close(pipe_fds[1]);
        out_ = fdopen(pipe_fds[0], "r");
        if (pid_ > 0) reported_pid_ = read_number("pid");
    }
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player() {
        // The playing child first: once its parent is gone it is no longer ours to reap.
        if (child_ > 0) kill(child_, SIGKILL);
        if (pid_ > 0 && !reaped_) {
            kill(pid_, SIGKILL);
            wait();
        }
        if (out_ != nullptr) fclose(out_);
    }

    [[nodiscard]] std::uint32_t pid() const { return static_cast<std::uint32_t>(reported_pid_); }
    // Waits for a line "<tag>" (the keeper's "awake").
    bool wait_for_line(const char* tag) {
        char line[128];
        while (out_ != nullptr && fgets(line, sizeof line, out_) != nullptr) {
            if (std::string(line) == std::string(tag) + "\n") return true;
        }
        return false;
    }
    // The playing child of a --fork player.
    [[nodiscard]] std::uint32_t child_pid() {
        if (child_ < 0) child_ = static_cast<pid_t>(read_number("child"));
        return static_cast<std::uint32_t>(child_);
    }
    int wait() {
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    long read_number(const char* tag) {
        char line[128];
        const std::string prefix = std::string(tag) + " ";
        while (out_ != nullptr && fgets(line, sizeof line, out_) != nullptr) {
            if (std::string(line).rfind(prefix, 0) == 0) return std::atol(line + prefix.size());
        }
        return -1;
    }
    std::vector<std::string> arguments_;
    pid_t pid_ = -1;
    pid_t child_ = -1;
    FILE* out_ = nullptr;
    long reported_pid_ = -1;
    bool reaped_ = false;
};

// A capture with its event.
struct Capture {
    std::unique_ptr<EventFd> event;  // where the capture's signal points: a stable address
    std::unique_ptr<LoopbackCapture> capture;
    LoopbackCapture* operator->() { return capture.get(); }
    explicit operator bool() const { return capture != nullptr; }
    void reset() { capture.reset(); }
};

// What a capture delivered.
struct Captured {
    std::vector<float> samples;  // interleaved stereo; silent packets as zeros
    std::size_t packets = 0;
    std::size_t silent = 0;
    std::size_t discontinuities = 0;
    std::int32_t failure = 0;
};

// Reads packets until `done` holds, the capture fails, or `limit` passes.
Captured read_packets(Capture& capture, const std::function<bool(const Captured&)>& done,
                      std::chrono::milliseconds limit) {
    Captured result;
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end && !done(result)) {
        const EventWaitResult waited = capture.event->wait(250);
        if (waited.outcome == EventWait::Failed) {
            result.failure = -1;
            return result;
        }
        for (;;) {
            std::uint32_t size = 0;
            if (const std::int32_t code = capture->next_packet_size(size); code != 0) {
                result.failure = code;
                return result;
            }
            if (size == 0) break;
            const float* data = nullptr;
            std::uint32_t frames = 0;
            std::uint32_t flags = 0;
            if (const std::int32_t code = capture->get_buffer(data, frames, flags); code != 0) {
                result.failure = code;
                return result;
            }
            ++result.packets;
            if (flags & kFlagDataDiscontinuity) ++result.discontinuities;
            if (flags & kFlagSilent) {
                ++result.silent;
                result.samples.insert(result.samples.end(), std::size_t{frames} * 2, 0.0f);
            } else {
                result.samples.insert(result.samples.end(), data, data + std::size_t{frames} * 2);
            }
            if (const std::int32_t code = capture->release_buffer(frames); code != 0) {
                result.failure = code;
                return result;
            }
        }
    }
    return result;
}

std::size_t nonzero_frames(const Captured& captured) {
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < captured.samples.size(); i += 2) {
        if (captured.samples[i] != 0.0f || captured.samples[i + 1] != 0.0f) ++count;
    }
    return count;
}

// Goertzel power of `frequency` in the left channel, per sample, over the frames that carry
// sound (the silence before a stream starts or while it is re-attached does not count).
double tone_power(const std::vector<float>& stereo, double frequency) {
    const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * frequency / 48000.0);
    double s1 = 0.0;
    double s2 = 0.0;
    std::size_t n = 0;
    for (std::size_t i = 0; i + 1 < stereo.size(); i += 2) {
        if (stereo[i] == 0.0f && stereo[i + 1] == 0.0f) continue;
        ++n;
        const double s0 = stereo[i] + coefficient * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    if (n == 0) return 0.0;
    const double power = s1 * s1 + s2 * s2 - coefficient * s1 * s2;
    return power / (static_cast<double>(n) * static_cast<double>(n));
}

std::string write_temp_floats(const std::vector<float>& samples) {
    char path[] = "/tmp/quorle-live-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0) return {};
    const auto* bytes = reinterpret_cast<const char*>(samples.data());
    std::size_t left = samples.size() * sizeof(float);
    while (left > 0) {
        const ssize_t n = write(fd, bytes, left);
        if (n <= 0) break;
        bytes += n;
        left -= static_cast<std::size_t>(n);
    }
    close(fd);
    return path;
}

Capture open_capture(LoopbackTarget target) {
    auto event = EventFd::create();
    if (!event) {
        ADD_FAILURE() << "eventfd: " << event.error();
        std::abort();
    }
    Capture result{std::make_unique<EventFd>(std::move(*event)), nullptr};
    auto opened = LoopbackCapture::open(target, std::chrono::steady_clock::now() + 10s);
    if (!opened) {
        ADD_FAILURE() << "open failed: stage " << static_cast<int>(opened.error().stage) << " "
                      << capture_error_text(opened.error().code);
        return result;
    }
    result.capture = std::move(*opened);
    result.capture->set_packet_signal([fd = result.event.get()] { fd->signal(); });
    return result;
}

using quorle::test_support::ScopedEnvironment;

// Runs a shell command (pactl and friends); returns its exit status.
int shell(const std::string& command) {
    return std::system(command.c_str());
}

std::string shell_output(const std::string& command) {
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[256];
        while (fgets(buffer, sizeof buffer, pipe) != nullptr)
            output += buffer;
        pclose(pipe);
    }
    return output;
}

// The first index of `pattern` inside `samples`, or npos.
std::size_t find_run(const std::vector<float>& samples, const std::vector<float>& pattern) {
    if (pattern.empty() || samples.size() < pattern.size()) return std::string::npos;
    for (std::size_t at = 0; at + pattern.size() <= samples.size(); at += 2) {
        if (std::equal(pattern.begin(), pattern.end(), samples.begin() + static_cast<long>(at))) {
            return at;
        }
    }
    return std::string::npos;
}

// Keeps the daemon's sink rendering in small steps for the whole run (see tone_player).
class AwakeSink : public ::testing::Environment {
  public:
    void SetUp() override {
        keeper_ = std::make_unique<Player>(std::vector<std::string>{"--keep-sink-awake"});
        ASSERT_TRUE(keeper_->wait_for_line("awake"));
    }
    void TearDown() override { keeper_.reset(); }

  private:
    std::unique_ptr<Player> keeper_;
};
[[maybe_unused]] ::testing::Environment* const awake_sink =
    ::testing::AddGlobalTestEnvironment(new AwakeSink);

// Where the capture (from its first non-zero frame) first departs from the played samples.
std::string describe_difference(const std::vector<float>& captured,
                                const std::vector<float>& played) {
    std::size_t first = 0;
    while (first < captured.size() && captured[first] == 0.0f)
        first += 2;
    std::size_t i = 0;
    while (i < played.size() && first + i < captured.size() && captured[first + i] == played[i])
        ++i;
    std::size_t zeros = 0;
    while (first + i + zeros < captured.size() && captured[first + i + zeros] == 0.0f)
        ++zeros;
    return "the capture follows the played samples for " + std::to_string(i / 2) +
           " frames, then has " + std::to_string(zeros / 2) + " silent frames";
}

TEST(LoopbackLive, OneStreamComesThroughBitForBitAndIsDroppedWhenItEnds) {
    std::mt19937 random(1234);
    std::uniform_real_distribution<float> sample(-0.9f, 0.9f);
    std::vector<float> played(48000 * 2);  // one second
    for (float& value : played)
        value = sample(random);
    const std::string path = write_temp_floats(played);
    ASSERT_FALSE(path.empty());

    // The player's stream appears only after the capture is open: it is picked up late.
    // Its buffer is large so that a busy machine cannot make it underrun (the server then
    // skips the late samples, and what was played is no longer what the file holds), and a
    // second of silence leads in, so that the tap is surely attached when the signal plays.
    Player player({"--file", path, "--delay", "0.3", "--lead-in", "1", "--latency-ms", "250"});
    ASSERT_GT(player.pid(), 0u);
    auto capture = open_capture({player.pid(), LoopbackMode::IncludeTargetTree});
    ASSERT_TRUE(capture);
    ASSERT_EQ(capture->start(), 0);
    const std::size_t played_frames = played.size() / 2;
    Captured captured = read_packets(
        capture, [&](const Captured& c) { return nonzero_frames(c) >= played_frames; }, 20s);
    std::remove(path.c_str());
    ASSERT_EQ(captured.failure, 0) << capture_error_text(captured.failure);
    EXPECT_EQ(captured.discontinuities, 0u);
    EXPECT_NE(find_run(captured.samples, played), std::string::npos)
        << describe_difference(captured.samples, played);
    EXPECT_EQ(nonzero_frames(captured), played_frames);

    // After the player ended, packets keep coming, silent.
    EXPECT_EQ(player.wait(), 0);
    const Captured after = read_packets(
        capture, [](const Captured& c) { return c.packets >= 20; }, 10s);
    EXPECT_EQ(after.failure, 0);
    EXPECT_GE(after.packets, 20u);
    EXPECT_GE(after.silent, 15u);  // the tail of the stream may still be in the first ones
    EXPECT_EQ(capture->stop(), 0);
}

TEST(LoopbackLive, IncludeAndExcludeFollowChildProcesses) {
    // The "translator" forks a child that plays 440 Hz; an unrelated player plays 1000 Hz.
    Player translator({"--fork", "--frequency", "440", "--level", "0.5", "--seconds", "6"});
    const std::uint32_t child = translator.child_pid();
    ASSERT_GT(child, 0u);
    Player other({"--frequency", "1000", "--level", "0.5", "--seconds", "6"});
    ASSERT_GT(other.pid(), 0u);

    auto inside = open_capture({translator.pid(), LoopbackMode::IncludeTargetTree});
    auto outside = open_capture({translator.pid(), LoopbackMode::ExcludeTargetTree});
    ASSERT_TRUE(inside && outside);
    ASSERT_EQ(inside->start(), 0);
    ASSERT_EQ(outside->start(), 0);
    // Half a second of sound from each, read alternately.
    Captured in;
    Captured out;
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end &&
           (nonzero_frames(in) < 24000 || nonzero_frames(out) < 24000)) {
        const Captured a = read_packets(
            inside, [](const Captured& c) { return c.packets > 0; }, 1s);
        const Captured b = read_packets(
            outside, [](const Captured& c) { return c.packets > 0; }, 1s);
        ASSERT_EQ(a.failure, 0);
        ASSERT_EQ(b.failure, 0);
        in.samples.insert(in.samples.end(), a.samples.begin(), a.samples.end());
        out.samples.insert(out.samples.end(), b.samples.begin(), b.samples.end());
    }
    ASSERT_GE(nonzero_frames(in), 24000u);
    ASSERT_GE(nonzero_frames(out), 24000u);
    // A sine of amplitude 0.5 has a Goertzel power of 0.0625 per sample; the other tone
    // must be absent (leakage of a rectangular window stays far below 1e-4).
    EXPECT_GT(tone_power(in.samples, 440), 1e-3);
    EXPECT_LT(tone_power(in.samples, 1000), 1e-5);
    EXPECT_GT(tone_power(out.samples, 1000), 1e-3);
    EXPECT_LT(tone_power(out.samples, 440), 1e-5);
}

TEST(LoopbackLive, AStreamMovedToAnotherSinkIsFollowed) {
    const std::string module = shell_output(
        "pactl load-module module-null-sink sink_name=quorle_other rate=48000 "
        "channels=2 format=float32le");
    ASSERT_FALSE(module.empty());
    Player player({"--frequency", "440", "--level", "0.5", "--seconds", "8", "--name", "moving"});
    auto capture = open_capture({player.pid(), LoopbackMode::IncludeTargetTree});
    ASSERT_TRUE(capture);
    ASSERT_EQ(capture->start(), 0);
    const Captured before = read_packets(
        capture, [](const Captured& c) { return nonzero_frames(c) >= 4800; }, 20s);
    ASSERT_GE(nonzero_frames(before), 4800u);

    // The player's sink input (streams of earlier tests may still be going away).
    const std::string index = shell_output(
        "pactl list sink-inputs | awk '/^Sink Input #/ {idx = substr($3, 2)} "
        "/application.process.id = \"" +
        std::to_string(player.pid()) + "\"/ {print idx}'");
    ASSERT_FALSE(index.empty());
    ASSERT_EQ(shell("pactl move-sink-input " + index.substr(0, index.find('\n')) + " quorle_other"),
              0);
    // The tone goes on after a discontinuity, tapped on the new sink.
    const Captured after = read_packets(
        capture,
        [](const Captured& c) { return c.discontinuities > 0 && nonzero_frames(c) >= 48000; }, 20s);
    EXPECT_EQ(after.failure, 0) << capture_error_text(after.failure);
    EXPECT_GE(after.discontinuities, 1u);
    EXPECT_GE(nonzero_frames(after), 48000u);
    EXPECT_GT(tone_power(after.samples, 440), 1e-3);
    shell("pactl unload-module " + module.substr(0, module.find('\n')));
}

TEST(LoopbackLive, NoReachableServerIsAConnectFailure) {
    const ScopedEnvironment server("PULSE_SERVER", "unix:/nonexistent/quorle/native");
    auto opened = LoopbackCapture::open({1, LoopbackMode::ExcludeTargetTree},
                                        std::chrono::steady_clock::now() + 10s);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().stage, OpenStage::Connect);
    EXPECT_EQ(capture_error_text(opened.error().code), "Connection refused (0xA0500006)");
}

TEST(LoopbackLive, TheDeadlineCoversConnecting) {
    // A socket that accepts connections but never answers.
    char dir[] = "/tmp/quorle-mute-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string socket_path = std::string(dir) + "/native";
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket_path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 4), 0);

    const ScopedEnvironment server("PULSE_SERVER", "unix:" + socket_path);
    auto opened = LoopbackCapture::open({1, LoopbackMode::ExcludeTargetTree},
                                        std::chrono::steady_clock::now() + 300ms);
    close(listener);
    unlink(socket_path.c_str());
    rmdir(dir);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().stage, OpenStage::TimedOut);
}

TEST(LoopbackLive, LosingTheServerFailsTheCapture) {
    // A daemon of this test's own, so that killing it leaves the others alone.
    char dir[] = "/tmp/quorle-lost-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string socket_path = std::string(dir) + "/native";
    const std::string command =
        "pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no --disable-shm=yes "
        "--log-target=file:" +
        std::string(dir) +
        "/log "
        "--load='module-native-protocol-unix auth-anonymous=1 socket=" +
        socket_path +
        "' "
        "--load='module-null-sink sink_name=lost rate=48000 channels=2 format=float32le' "
        "</dev/null >/dev/null 2>&1 & echo $!";
    const ScopedEnvironment home("HOME", dir);
    const ScopedEnvironment runtime("XDG_RUNTIME_DIR", dir);
    const ScopedEnvironment server("PULSE_SERVER", "unix:" + socket_path);
    const std::string daemon = shell_output(command);
    ASSERT_FALSE(daemon.empty());
    for (int i = 0; i < 100 && shell("pactl info >/dev/null 2>&1") != 0; ++i)
        usleep(50000);

    auto capture = open_capture({1, LoopbackMode::ExcludeTargetTree});
    ASSERT_TRUE(capture);
    ASSERT_EQ(capture->start(), 0);
    const Captured running = read_packets(
        capture, [](const Captured& c) { return c.packets >= 5; }, 5s);
    EXPECT_EQ(running.failure, 0);
    shell("kill -9 " + daemon);
    const Captured lost = read_packets(
        capture, [](const Captured& c) { return c.failure != 0; }, 5s);
    EXPECT_EQ(capture_error_text(lost.failure), "Connection terminated (0xA050000B)");
    capture.reset();
    shell(std::string("rm -rf ") + dir);
}

}  // namespace
}  // namespace quorle::pulse
