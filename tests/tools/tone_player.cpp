// tone_player: plays a test signal through the PulseAudio simple API, paced in real time
// by a small server buffer, at full stream volume, as 48 kHz stereo float.
//
//   tone_player [--frequency HZ] [--level AMPLITUDE] [--seconds S]   a sine on both channels
//               [--file PATH]          instead: raw interleaved stereo float32le samples
//               [--onsets N --interval-ms MS]  instead: silence with N short 1 kHz bursts,
//                                      one every MS ms; prints "onset <microseconds>"
//                                      (CLOCK_MONOTONIC) as each burst is written
//               [--lead-in S]          silence played before the signal, in the same stream
//               [--delay S]            wait before connecting to the server
//               [--latency-ms MS]      server buffer (default 20)
//               [--fork]               a child process plays; this one waits for it
//   tone_player --keep-sink-awake [--sink NAME]
//               records the sink's monitor with a 10 ms fragment until killed, printing
//               "awake" once data flows. An idle null sink renders up to two seconds ahead
//               and rewinds when a stream arrives, so new streams start late and their
//               first second may be cut; a low-latency reader keeps it rendering in small
//               steps, as any running capture on a desktop does.
//               [--sink NAME] [--name STREAM]
//
// Prints "pid <pid>" first (and "child <pid>" with --fork), each line flushed at once, so
// that a test can name the process before it plays. Exit status 0 after the whole signal
// was played, 1 on a failure (message on standard error), 2 on a wrong command line.
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr unsigned kRate = 48000;
constexpr std::size_t kBlockFrames = 240;  // 5 ms per write

struct Options {
    double frequency = 440.0;
    double level = 0.5;
    double seconds = 2.0;
    std::optional<std::string> file;
    int onsets = 0;
    int interval_ms = 500;
    double delay = 0.0;
    double lead_in = 0.0;
    int latency_ms = 20;
    bool fork_child = false;
    bool keep_awake = false;
    std::optional<std::string> sink;
    std::string name = "tone";
};

int usage(const char* message) {
    std::fprintf(stderr, "tone_player: %s\n", message);
    return 2;
}

std::optional<Options> parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "--fork") {
            options.fork_child = true;
            continue;
        }
        if (flag == "--keep-sink-awake") {
            options.keep_awake = true;
            continue;
        }
        if (i + 1 >= argc) return std::nullopt;
        const char* value = argv[++i];
        char* end = nullptr;
        errno = 0;
        const double number = std::strtod(value, &end);
        const bool numeric = end != value && *end == '\0' && errno == 0 && std::isfinite(number);
        if (flag == "--file") {
            options.file = value;
        } else if (flag == "--sink") {
            options.sink = value;
        } else if (flag == "--name") {
            options.name = value;
        } else if (!numeric || number < 0) {
            return std::nullopt;
        } else if (flag == "--frequency") {
            options.frequency = number;
        } else if (flag == "--level") {
            options.level = number;
        } else if (flag == "--seconds") {
            options.seconds = number;
        } else if (flag == "--onsets") {
            options.onsets = static_cast<int>(number);
        } else if (flag == "--interval-ms") {
            options.interval_ms = static_cast<int>(number);
        } else if (flag == "--lead-in") {
            options.lead_in = number;
        } else if (flag == "--delay") {
            options.delay = number;
        } else if (flag == "--latency-ms") {
            options.latency_ms = static_cast<int>(number);
        } else {
            return std::nullopt;
        }
    }
    return options;
}

std::uint64_t monotonic_micros() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

void sleep_seconds(double seconds) {
    if (seconds <= 0) return;
    timespec request{};
    request.tv_sec = static_cast<time_t>(seconds);
    request.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
    while (nanosleep(&request, &request) != 0 && errno == EINTR) {
    }
}

// The whole signal as interleaved stereo floats.
std::optional<std::vector<float>> make_signal(const Options& options) {
    std::vector<float> samples;
    if (options.file) {
        std::FILE* in = std::fopen(options.file->c_str(), "rb");
        if (in == nullptr) return std::nullopt;
        float buffer[1024];
        std::size_t n = 0;
        while ((n = std::fread(buffer, sizeof(float), 1024, in)) > 0) {
            samples.insert(samples.end(), buffer, buffer + n);
        }
        std::fclose(in);
        samples.resize(samples.size() / 2 * 2);
        return samples;
    }
    if (options.onsets > 0) {
        // Silence, with a 20 ms 1 kHz burst at the start of every interval.
        const std::size_t interval = static_cast<std::size_t>(options.interval_ms) * kRate / 1000u /
                                     kBlockFrames * kBlockFrames;
        const std::size_t frames = interval * static_cast<std::size_t>(options.onsets);
        samples.assign(frames * 2, 0.0f);
        for (std::size_t start = 0; start < frames; start += interval) {
            for (std::size_t i = 0; i < kRate / 50 && start + i < frames; ++i) {
                const double phase =
                    2.0 * std::numbers::pi * 1000.0 * static_cast<double>(i) / kRate;
                const auto value = static_cast<float>(options.level * std::sin(phase + 0.5));
                samples[(start + i) * 2] = value;
                samples[(start + i) * 2 + 1] = value;
            }
        }
        return samples;
    }
    const auto frames = static_cast<std::size_t>(options.seconds * kRate);
    samples.resize(frames * 2);
    for (std::size_t i = 0; i < frames; ++i) {
        const double phase =
            2.0 * std::numbers::pi * options.frequency * static_cast<double>(i) / kRate;
        const auto value = static_cast<float>(options.level * std::sin(phase));
        samples[i * 2] = value;
        samples[i * 2 + 1] = value;
    }
    return samples;
}

int play(const Options& options) {
    std::optional<std::vector<float>> signal = make_signal(options);
    if (!signal) {
        std::fprintf(stderr, "tone_player: cannot read %s\n", options.file->c_str());
        return 1;
    }
    // A capture taps a stream only once the server announced it, so the very first
    // milliseconds of a stream may pass untapped; a silent lead-in keeps the signal whole.
    const auto lead_in_frames = static_cast<std::size_t>(options.lead_in * kRate);
    signal->insert(signal->begin(), lead_in_frames * 2, 0.0f);
    sleep_seconds(options.delay);

    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, 2};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(options.latency_ms) * kRate / 1000u * 8u;
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    int error = 0;
    pa_simple* stream = pa_simple_new(nullptr, "Quorle tone player", PA_STREAM_PLAYBACK,
                                      options.sink ? options.sink->c_str() : nullptr,
                                      options.name.c_str(), &spec, nullptr, &attributes, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "tone_player: %s\n", pa_strerror(error));
        return 1;
    }
    const std::size_t interval_frames = options.onsets > 0
                                            ? static_cast<std::size_t>(options.interval_ms) *
                                                  kRate / 1000u / kBlockFrames * kBlockFrames
                                            : 0;
    const std::size_t frames = signal->size() / 2;
    int status = 0;
    for (std::size_t at = 0; at < frames; at += kBlockFrames) {
        const std::size_t count = std::min(kBlockFrames, frames - at);
        if (interval_frames > 0 && at >= lead_in_frames &&
            (at - lead_in_frames) % interval_frames == 0) {
            std::printf("onset %llu\n", static_cast<unsigned long long>(monotonic_micros()));
            std::fflush(stdout);
        }
        if (pa_simple_write(stream, signal->data() + at * 2, count * 2 * sizeof(float), &error) <
            0) {
            std::fprintf(stderr, "tone_player: %s\n", pa_strerror(error));
            status = 1;
            break;
        }
    }
    if (status == 0 && pa_simple_drain(stream, &error) < 0) {
        std::fprintf(stderr, "tone_player: %s\n", pa_strerror(error));
        status = 1;
    }
    pa_simple_free(stream);
    return status;
}

int keep_awake(const Options& options) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, kRate, 2};
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.fragsize = kRate / 100u * 8u;
    const std::string monitor = options.sink ? *options.sink + ".monitor" : "@DEFAULT_MONITOR@";
    int error = 0;
    pa_simple* stream =
        pa_simple_new(nullptr, "Quorle sink keeper", PA_STREAM_RECORD, monitor.c_str(), "keeper",
                      &spec, nullptr, &attributes, &error);
    if (stream == nullptr) {
        std::fprintf(stderr, "tone_player: %s\n", pa_strerror(error));
        return 1;
    }
    float block[kBlockFrames * 2];
    bool announced = false;
    while (pa_simple_read(stream, block, sizeof block, &error) == 0) {
        if (!announced) {
            std::printf("awake\n");
            std::fflush(stdout);
            announced = true;
        }
    }
    std::fprintf(stderr, "tone_player: %s\n", pa_strerror(error));
    pa_simple_free(stream);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parse(argc, argv);
    if (!options) return usage("usage: see the comment at the top of tone_player.cpp");
    std::printf("pid %d\n", static_cast<int>(getpid()));
    std::fflush(stdout);
    if (options->keep_awake) return keep_awake(*options);
    if (!options->fork_child) return play(*options);

    const pid_t child = fork();
    if (child < 0) {
        std::fprintf(stderr, "tone_player: fork: %s\n", std::strerror(errno));
        return 1;
    }
    if (child == 0) _exit(play(*options));
    std::printf("child %d\n", static_cast<int>(child));
    std::fflush(stdout);
    int child_status = 0;
    while (waitpid(child, &child_status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(child_status) ? WEXITSTATUS(child_status) : 1;
}
