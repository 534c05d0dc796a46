// Micro-benchmarks of the capture path: the downmix against a plain copy of the same bytes,
// and one chunk through the lock-free ring with both threads busy. Ends with summary lines
// "summary: <name> <value> <unit>" that scripts/bench collects.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture/capture_ring.h"
#include "audio/capture/chunking.h"
#include "audio/capture/downmix.h"

namespace {

using quorle::capture::CaptureChunk;
using quorle::capture::kChunkCapacity;
using quorle::capture::kRingCapacity;

// One 20 ms stereo block at 48 kHz (what the worker converts), one second, ten seconds.
constexpr std::int64_t kBlockSamples = 1920;
constexpr std::int64_t kSizes[] = {kBlockSamples, 96000, 960000};

std::vector<float> random_audio(std::size_t n) {
    std::mt19937 random(42);
    std::uniform_real_distribution<float> audio(-1.0f, 1.0f);
    std::vector<float> samples(n);
    for (float& s : samples)
        s = audio(random);
    return samples;
}

void BM_Downmix(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::vector<float> samples = random_audio(n);
    for (auto _ : state) {
        auto bytes = quorle::capture::downmix_to_s16le(samples.data(), n, 2);
        benchmark::DoNotOptimize(bytes->data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) *
                            static_cast<std::int64_t>(sizeof(float)));
}

// The conversion alone, into a reused buffer: the difference to BM_Downmix is the per-block
// allocation of the result.
void BM_DownmixInto(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::vector<float> samples = random_audio(n);
    std::vector<std::uint8_t> out(n);
    for (auto _ : state) {
        quorle::capture::downmix_frames_to_s16le(samples.data(), n / 2, 2, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) *
                            static_cast<std::int64_t>(sizeof(float)));
}

void BM_Memcpy(benchmark::State& state) {
    const auto n = static_cast<std::size_t>(state.range(0));
    const std::vector<float> samples = random_audio(n);
    std::vector<float> copy(n);
    for (auto _ : state) {
        std::memcpy(copy.data(), samples.data(), n * sizeof(float));
        benchmark::DoNotOptimize(copy.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0) *
                            static_cast<std::int64_t>(sizeof(float)));
}

// One full chunk written into the ring by this thread and copied out by a consumer thread
// that spins on the other end; the producer spins while the ring is full.
void BM_RingPushPop(benchmark::State& state) {
    auto [writer, reader] = quorle::capture::make_capture_ring(kRingCapacity);
    const std::vector<float> piece = random_audio(kChunkCapacity);
    std::atomic<bool> done{false};
    std::atomic<std::uint64_t> consumed{0};
    std::thread consumer([&, reader_end = std::move(reader)]() mutable {
        auto chunk = std::make_unique<CaptureChunk>();
        std::uint64_t count = 0;
        while (!done.load(std::memory_order_acquire)) {
            if (reader_end.try_pop(*chunk)) {
                benchmark::DoNotOptimize(chunk->samples[0]);
                ++count;
            } else {
                std::this_thread::yield();
            }
        }
        while (reader_end.try_pop(*chunk))
            ++count;
        consumed.store(count, std::memory_order_release);
    });
    std::uint64_t position = 0;
    for (auto _ : state) {
        CaptureChunk* slot = nullptr;
        // Yield while full: on a shared machine a pure spin can hold the core the consumer
        // needs.
        while ((slot = writer.claim()) == nullptr)
            std::this_thread::yield();
        quorle::capture::fill_chunk(*slot, piece.data(), kChunkCapacity, position);
        writer.publish();
        position += kChunkCapacity / 2;
    }
    done.store(true, std::memory_order_release);
    consumer.join();
    if (consumed.load(std::memory_order_acquire) !=
        static_cast<std::uint64_t>(state.iterations())) {
        state.SkipWithError("chunks lost in the ring");
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Downmix)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);
BENCHMARK(BM_DownmixInto)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);
BENCHMARK(BM_Memcpy)->Arg(kSizes[0])->Arg(kSizes[1])->Arg(kSizes[2]);
BENCHMARK(BM_RingPushPop)->UseRealTime()->MinTime(1.0);

// Prints Google Benchmark's usual table and keeps each run's rates for the summary.
class SummaryReporter final : public benchmark::ConsoleReporter {
  public:
    // Plain text: the summary lines must not follow a colour escape.
    SummaryReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const auto bytes = run.counters.find("bytes_per_second");
            if (bytes != run.counters.end())
                bytes_per_second[run.benchmark_name()] = bytes->second;
            const auto items = run.counters.find("items_per_second");
            if (items != run.counters.end())
                items_per_second[run.benchmark_name()] = items->second;
        }
    }
    std::map<std::string, double> bytes_per_second;
    std::map<std::string, double> items_per_second;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto print_rate = [&](const char* name, const std::string& run) {
        const auto found = reporter.bytes_per_second.find(run);
        if (found != reporter.bytes_per_second.end()) {
            std::printf("summary: %s %.2f GB/s\n", name, found->second / 1e9);
        }
    };
    // The headline figures use one 20 ms block, the size the worker converts.
    const std::string block = "/" + std::to_string(kBlockSamples);
    print_rate("downmix_gbps", "BM_Downmix" + block);
    print_rate("memcpy_gbps", "BM_Memcpy" + block);
    const auto ring = reporter.items_per_second.find("BM_RingPushPop/min_time:1.000/real_time");
    if (ring != reporter.items_per_second.end() && ring->second > 0) {
        std::printf("summary: ring_push_pop_ns %.1f ns\n", 1e9 / ring->second);
    }
    return 0;
}
