#pragma once
// Scripted, recording stand-ins for the audio backend's platform operations: the cubeb
// calls, COM, thread creation, the clock and standard error. Every call lands in one shared,
// thread-safe log, so that tests can check the order of calls and releases across threads.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "audio/backend/com_initializer.h"
#include "audio/backend/control_thread.h"
#include "audio/backend/cubeb_api.h"
#include "common/clock.h"
#include "common/named_thread.h"
#include "common/std_streams.h"

namespace quorle::audio::testing {

// Calls in the order they happened, on any thread.
class CallLog {
  public:
    void record(std::string entry) {
        const std::lock_guard<std::mutex> lock(mutex_);
        entries_.push_back(std::move(entry));
    }
    [[nodiscard]] std::vector<std::string> entries() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    [[nodiscard]] std::size_t count(const std::string& entry) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        std::size_t n = 0;
        for (const auto& e : entries_)
            n += e == entry ? std::size_t{1} : std::size_t{0};
        return n;
    }
    void clear() {
        const std::lock_guard<std::mutex> lock(mutex_);
        entries_.clear();
    }

  private:
    mutable std::mutex mutex_;
    std::vector<std::string> entries_;
};

// One device record as a test describes it; absent texts are null pointers to the logic.
struct FakeDevice {
    std::optional<std::string> id;
    std::optional<std::string> name;
    int state = kCubebDeviceStateEnabled;
    std::uint32_t preferred = 0;
    std::uint32_t max_channels = 2;
    std::uint32_t default_rate = 48000;
};

// The answer to one enumerate_devices call.
struct EnumerateAnswer {
    int result = kCubebOk;
    std::vector<FakeDevice> devices;
};

class FakeCubebApi final : public CubebApi {
  public:
    explicit FakeCubebApi(CallLog& log) : log_(log) {}
    ~FakeCubebApi() override = default;

    // Script. Set before the control thread starts, or under script_mutex().
    std::deque<int> init_results;  // one per init call; exhausted: success
    bool throw_on_init = false;    // init throws instead of answering
    std::string backend = "wasapi";
    std::map<int, std::deque<EnumerateAnswer>> enumerate_answers;  // by device type
    std::map<int, std::vector<FakeDevice>> devices;  // answer once the script is exhausted

    std::mutex& script_mutex() { return mutex_; }

    int init(CubebContextHandle* context, const char* context_name,
             const char* backend_name) override {
        std::unique_lock<std::mutex> lock(mutex_);
        note_thread();
        log_.record(std::string("cubeb_init ") + context_name + " " + backend_name);
        if (throw_on_init)
            throw std::runtime_error("init failed abnormally");
        int result = kCubebOk;
        if (!init_results.empty()) {
            result = init_results.front();
            init_results.pop_front();
        }
        if (result != kCubebOk)
            return result;
        contexts_.push_back(std::make_unique<int>(0));
        *context = reinterpret_cast<CubebContextHandle>(contexts_.back().get());
        live_contexts_.insert(*context);
        return kCubebOk;
    }

    const char* get_backend_id(CubebContextHandle context) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        note_thread();
        check_live(context, "cubeb_get_backend_id");
        log_.record("cubeb_get_backend_id");
        return backend.c_str();
    }

    int enumerate_devices(CubebContextHandle context, int device_type,
                          CubebCollectionHandle* collection) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        note_thread();
        check_live(context, "cubeb_enumerate_devices");
        log_.record("cubeb_enumerate_devices " + std::to_string(device_type));
        EnumerateAnswer answer{kCubebOk, devices[device_type]};
        auto& script = enumerate_answers[device_type];
        if (!script.empty()) {
            answer = std::move(script.front());
            script.pop_front();
        }
        if (answer.result != kCubebOk)
            return answer.result;
        auto stored = std::make_unique<std::vector<FakeDevice>>(std::move(answer.devices));
        collection->devices = stored.get();
        collection->count = stored->size();
        collections_[stored.get()] = std::move(stored);
        return kCubebOk;
    }

    CubebDeviceFields device_info(const CubebCollectionHandle& collection,
                                  std::size_t index) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        const auto& list = *static_cast<const std::vector<FakeDevice>*>(collection.devices);
        const FakeDevice& d = list.at(index);
        return CubebDeviceFields{d.id ? d.id->c_str() : nullptr,
                                 d.name ? d.name->c_str() : nullptr,
                                 d.state,
                                 d.preferred,
                                 d.max_channels,
                                 d.default_rate};
    }

    int device_collection_destroy(CubebContextHandle context,
                                  CubebCollectionHandle* collection) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        note_thread();
        check_live(context, "cubeb_device_collection_destroy");
        log_.record("cubeb_device_collection_destroy");
        if (collections_.erase(collection->devices) != 1) {
            log_.record("ERROR unknown collection destroyed");
        }
        return kCubebOk;
    }

    void destroy(CubebContextHandle context) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        note_thread();
        log_.record("cubeb_destroy");
        if (!collections_.empty())
            log_.record("ERROR context destroyed before its collections");
        if (live_contexts_.erase(context) != 1)
            log_.record("ERROR unknown context destroyed");
    }

    [[nodiscard]] std::size_t live_contexts() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return live_contexts_.size();
    }
    [[nodiscard]] std::size_t live_collections() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return collections_.size();
    }
    // The threads that made cubeb calls.
    [[nodiscard]] std::set<std::thread::id> calling_threads() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

  private:
    void note_thread() { threads_.insert(std::this_thread::get_id()); }
    void check_live(CubebContextHandle context, const char* call) {
        if (live_contexts_.count(context) == 0)
            log_.record(std::string("ERROR ") + call + " on a dead context");
    }

    CallLog& log_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<int>> contexts_;
    std::set<CubebContextHandle> live_contexts_;
    std::map<void*, std::unique_ptr<std::vector<FakeDevice>>> collections_;
    std::set<std::thread::id> threads_;
};

class FakeComInitializer final : public ComInitializer {
  public:
    explicit FakeComInitializer(CallLog& log) : log_(log) {}

    std::deque<std::int32_t> results;  // one per call; exhausted: S_OK

    std::int32_t initialize_multithreaded() override {
        const std::lock_guard<std::mutex> lock(mutex_);
        log_.record("com_init");
        std::int32_t result = 0;
        if (!results.empty()) {
            result = results.front();
            results.pop_front();
        }
        return result;
    }
    void uninitialize() override { log_.record("com_uninit"); }

  private:
    CallLog& log_;
    std::mutex mutex_;
};

// Starts real threads, or fails (by error number or by throwing) as scripted.
class FakeThreadLauncher final : public ThreadLauncher {
  public:
    explicit FakeThreadLauncher(CallLog& log) : log_(log) {}

    std::deque<int> failures;  // 0: start the thread; N: fail with error number N
    bool throw_on_launch = false;

    std::expected<std::thread, ThreadStartError> launch(const std::string& name,
                                                        std::function<void()> body) override {
        log_.record("thread_launch " + name);
        if (throw_on_launch)
            throw std::runtime_error("launch failed abnormally");
        int failure = 0;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (!failures.empty()) {
                failure = failures.front();
                failures.pop_front();
            }
        }
        if (failure != 0)
            return std::unexpected(ThreadStartError{failure});
        launched_ += 1;
        return system_thread_launcher().launch(name, std::move(body));
    }
    [[nodiscard]] int launched() const { return launched_.load(std::memory_order_relaxed); }

  private:
    CallLog& log_;
    std::mutex mutex_;
    std::atomic<int> launched_{0};
};

// A clock that moves only when the test moves it.
class FakeClock final : public MonotonicClock {
  public:
    time_point now() const override {
        return time_point(std::chrono::nanoseconds(now_ns_.load(std::memory_order_acquire)));
    }
    void sleep_for(std::chrono::nanoseconds duration) override { advance(duration); }
    void advance(std::chrono::nanoseconds duration) {
        now_ns_.fetch_add(duration.count(), std::memory_order_acq_rel);
    }

  private:
    std::atomic<std::int64_t> now_ns_{1'000'000'000};
};

// Standard error as a string.
class CapturedStream final : public OutputStream {
  public:
    Status write(std::string_view bytes) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        text_.append(bytes);
        return {};
    }
    [[nodiscard]] std::string text() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

  private:
    mutable std::mutex mutex_;
    std::string text_;
};

// All fakes of one test, wired into an environment.
struct FakePlatform {
    CallLog log;
    FakeCubebApi cubeb{log};
    FakeComInitializer com{log};
    FakeThreadLauncher threads{log};
    FakeClock clock;
    CapturedStream standard_error;
    std::atomic<bool> diagnostics{false};

    [[nodiscard]] AudioControlEnvironment environment(
        std::chrono::nanoseconds queue_wait = kQueueWait) {
        return AudioControlEnvironment{
            cubeb,          com,
            threads,        clock,
            standard_error, [this] { return diagnostics.load(std::memory_order_acquire); },
            queue_wait};
    }
};

}  // namespace quorle::audio::testing
