// Whole-pipeline measurement of the capture path: sink, ring, worker thread, block assembly
// and conversion, into a writer that discards (throughput) or timestamps (latency) the
// blocks. Prints "summary: <name> <value> <unit>" lines that scripts/bench collects.
//
//   pipeline_realtime_factor  seconds of 48 kHz stereo audio delivered per second of CPU time
//                             of both threads: the worker's whole CPU time, and the producer's
//                             while it pushes (it waits for room outside the measured pushes,
//                             so nothing is dropped)
//   block_latency_p50_ms/p99  from the push of a block's last sample to its bytes reaching the
//                             writer, with packets pushed at real-time pace
//   push_allocations          heap allocations on the producer thread inside push_samples
//
// QUORLE_BENCH_AUDIO_SECONDS (default 600) and QUORLE_BENCH_LATENCY_SECONDS (default 10) set
// the lengths of the two runs.
#include <pthread.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture/capture_worker.h"

namespace {

// Heap allocations made by the current thread, counted by the replaced operator new below.
thread_local std::uint64_t t_allocations = 0;

void* counted_alloc(std::size_t size) {
    ++t_allocations;
    return std::malloc(size == 0 ? 1 : size);
}

void* counted_aligned_alloc(std::size_t size, std::align_val_t alignment) {
    ++t_allocations;
    const auto align = static_cast<std::size_t>(alignment);
    const std::size_t rounded = (size + align - 1) / align * align;
    return std::aligned_alloc(align, rounded == 0 ? align : rounded);
}

}  // namespace

void* operator new(std::size_t size) {
    if (void* p = counted_alloc(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return counted_alloc(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return counted_alloc(size);
}
void* operator new(std::size_t size, std::align_val_t alignment) {
    if (void* p = counted_aligned_alloc(size, alignment))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
    return operator new(size, alignment);
}
void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return counted_aligned_alloc(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
    return counted_aligned_alloc(size, alignment);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
    std::free(p);
}
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace {

using quorle::Status;
using quorle::capture::CapturePipeline;
using quorle::capture::start_capture_worker;
using quorle::capture::stop_capture_worker;
using quorle::capture::WorkerOptions;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kPacketFrames = 480;  // 10 ms, a typical capture packet
constexpr std::size_t kPacketSamples = 2 * kPacketFrames;
constexpr std::uint64_t kBlockBytes = 1920;

double env_seconds(const char* name, double fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr)
        return fallback;
    const double value = std::atof(text);
    return value > 0 ? value : fallback;
}

double cpu_seconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// One second of stereo noise that the packets cycle through.
std::vector<float> source_audio() {
    std::mt19937 random(1);
    std::uniform_real_distribution<float> audio(-0.9f, 0.9f);
    std::vector<float> samples(2 * 48000);
    for (float& s : samples)
        s = audio(random);
    return samples;
}

// Counts and drops the blocks. It also notes the CPU clock of the thread that writes (the
// worker), so that the worker's CPU time can be read from outside.
class DiscardingStream final : public quorle::OutputStream {
  public:
    Status write(std::string_view bytes) override {
        if (!clock_known_.load(std::memory_order_relaxed)) {
            pthread_getcpuclockid(pthread_self(), &writer_clock_);
            clock_known_.store(true, std::memory_order_release);
        }
        bytes_.fetch_add(bytes.size(), std::memory_order_release);
        return {};
    }
    std::uint64_t bytes() const { return bytes_.load(std::memory_order_acquire); }
    // CPU seconds of the writing thread so far; call while it still runs.
    double writer_cpu_seconds() const {
        if (!clock_known_.load(std::memory_order_acquire))
            return 0;
        return cpu_seconds(writer_clock_);
    }

  private:
    std::atomic<std::uint64_t> bytes_{0};
    std::atomic<bool> clock_known_{false};
    clockid_t writer_clock_{};
};

class TimestampingStream final : public quorle::OutputStream {
  public:
    explicit TimestampingStream(std::size_t blocks) { arrivals_.reserve(blocks); }
    Status write(std::string_view) override {
        const Clock::time_point now = Clock::now();
        if (arrivals_.size() < arrivals_.capacity())
            arrivals_.push_back(now);
        count_.fetch_add(1, std::memory_order_release);
        return {};
    }
    std::size_t count() const { return count_.load(std::memory_order_acquire); }
    // Read only after the worker has been joined.
    const std::vector<Clock::time_point>& arrivals() const { return arrivals_; }

  private:
    std::vector<Clock::time_point> arrivals_;
    std::atomic<std::size_t> count_{0};
};

CapturePipeline start(quorle::OutputStream& out, quorle::OutputStream& err,
                      const std::shared_ptr<std::atomic<bool>>& stop) {
    WorkerOptions options;
    options.out = &out;
    options.err = &err;
    options.diagnostics = false;
    auto pipeline = start_capture_worker(2, 48000, stop, options);
    if (!pipeline) {
        std::fprintf(stderr, "capture_pipeline_bench: %s\n", pipeline.error().c_str());
        std::exit(1);
    }
    return std::move(*pipeline);
}

void wait_until(const std::function<bool()>& done) {
    while (!done())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace

int main() {
    const std::vector<float> audio = source_audio();
    const std::size_t packets_per_second = 48000 / kPacketFrames;
    std::uint64_t push_allocations = 0;
    const auto push = [&](CapturePipeline& pipeline, std::size_t packet) {
        const float* data = audio.data() + (packet % packets_per_second) * kPacketSamples;
        const std::uint64_t before = t_allocations;
        (void)pipeline.sink.push_samples(data, kPacketSamples);
        push_allocations += t_allocations - before;
    };

    // Throughput: as fast as the pipeline takes it, never dropping.
    const double audio_seconds = env_seconds("QUORLE_BENCH_AUDIO_SECONDS", 600);
    const auto packets = static_cast<std::size_t>(audio_seconds * packets_per_second);
    DiscardingStream discard;
    DiscardingStream discard_err;
    auto stop = std::make_shared<std::atomic<bool>>(false);
    CapturePipeline pipeline = start(discard, discard_err, stop);
    const Clock::time_point wall_start = Clock::now();
    double producer_cpu = 0;
    double burst_start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
    for (std::size_t p = 0; p < packets; ++p) {
        if (!pipeline.sink.has_room()) {
            producer_cpu += cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - burst_start;
            while (!pipeline.sink.has_room()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            burst_start = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
        }
        push(pipeline, p);
    }
    producer_cpu += cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - burst_start;
    const std::uint64_t expected_bytes = packets * kPacketFrames / 960 * kBlockBytes;
    wait_until([&] { return discard.bytes() >= expected_bytes; });
    const double worker_cpu = discard.writer_cpu_seconds();
    const double total_cpu = producer_cpu + worker_cpu;
    const double wall_seconds = std::chrono::duration<double>(Clock::now() - wall_start).count();
    const std::uint64_t dropped = pipeline.sink.counters().dropped_frames.load();
    pipeline.sink.reset();
    stop_capture_worker(pipeline.worker);
    if (dropped != 0 || discard.bytes() != expected_bytes || stop->load()) {
        std::fprintf(stderr, "capture_pipeline_bench: %llu frames dropped, %llu of %llu bytes\n",
                     static_cast<unsigned long long>(dropped),
                     static_cast<unsigned long long>(discard.bytes()),
                     static_cast<unsigned long long>(expected_bytes));
        return 1;
    }
    std::printf(
        "throughput: %.0f s of audio, CPU %.4f s (producer %.4f s, worker %.4f s), %.2f s wall, "
        "0 frames dropped\n",
        audio_seconds, total_cpu, producer_cpu, worker_cpu, wall_seconds);

    // Latency: one packet every 10 ms, as a capture device delivers them.
    const double latency_seconds = env_seconds("QUORLE_BENCH_LATENCY_SECONDS", 10);
    const auto blocks = static_cast<std::size_t>(latency_seconds * 50);
    TimestampingStream stamps(blocks);
    auto latency_stop = std::make_shared<std::atomic<bool>>(false);
    CapturePipeline paced = start(stamps, discard_err, latency_stop);
    std::vector<Clock::time_point> last_sample_pushed(blocks);
    Clock::time_point deadline = Clock::now();
    for (std::size_t p = 0; p < 2 * blocks; ++p) {
        deadline += std::chrono::milliseconds(10);
        std::this_thread::sleep_until(deadline);
        if (p % 2 == 1)
            last_sample_pushed[p / 2] = Clock::now();
        push(paced, p);
    }
    wait_until([&] { return stamps.count() >= blocks; });
    const std::uint64_t paced_dropped = paced.sink.counters().dropped_frames.load();
    paced.sink.reset();
    stop_capture_worker(paced.worker);
    if (paced_dropped != 0 || stamps.arrivals().size() != blocks) {
        std::fprintf(stderr, "capture_pipeline_bench: paced run lost blocks\n");
        return 1;
    }
    std::vector<double> latencies_ms(blocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        latencies_ms[b] =
            std::chrono::duration<double, std::milli>(stamps.arrivals()[b] - last_sample_pushed[b])
                .count();
    }
    std::sort(latencies_ms.begin(), latencies_ms.end());
    const auto percentile = [&](double q) {
        const auto index = static_cast<std::size_t>(q * static_cast<double>(blocks - 1) + 0.5);
        return latencies_ms[index];
    };
    std::printf("latency: %zu blocks, max %.3f ms\n", blocks, latencies_ms.back());

    std::printf("summary: pipeline_realtime_factor %.0f x\n", audio_seconds / total_cpu);
    std::printf("summary: block_latency_p50_ms %.3f ms\n", percentile(0.50));
    std::printf("summary: block_latency_p99_ms %.3f ms\n", percentile(0.99));
    std::printf("summary: push_allocations %llu count\n",
                static_cast<unsigned long long>(push_allocations));
    return 0;
}
