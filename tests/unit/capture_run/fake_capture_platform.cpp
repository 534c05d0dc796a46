#include "fake_capture_platform.h"

#include <algorithm>

namespace quorle::host::testing {

void CallLog::add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
}

std::vector<std::string> CallLog::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::vector<std::string> CallLog::only(const std::vector<std::string>& names) const {
    std::vector<std::string> picked;
    for (const std::string& entry : entries()) {
        if (std::find(names.begin(), names.end(), entry) != names.end()) picked.push_back(entry);
    }
    return picked;
}

bool CallLog::contains(const std::string& entry) const {
    return count(entry) > 0;
}

std::size_t CallLog::count(const std::string& entry) const {
    const std::vector<std::string> all = entries();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), entry));
}

void Faults::fail(const std::string& operation, std::uint32_t code, int nth) {
    std::lock_guard lock(mutex_);
    planned_[operation][nth] = code;
}

std::optional<std::uint32_t> Faults::hit(const std::string& operation) {
    std::lock_guard lock(mutex_);
    const int call = ++calls_[operation];
    const auto planned = planned_.find(operation);
    if (planned == planned_.end()) return std::nullopt;
    const auto code = planned->second.find(call);
    if (code == planned->second.end()) return std::nullopt;
    return code->second;
}

namespace {

// A held reference whose release is logged.
class FakeReference final : public PlatformReference {
  public:
    FakeReference(CallLog& log, std::string release) : log_(log), release_(std::move(release)) {}
    ~FakeReference() override { log_.add(release_); }

  private:
    CallLog& log_;
    std::string release_;
};

class FakeCaptureEvent final : public CaptureEvent {
  public:
    explicit FakeCaptureEvent(FakeAudio& audio) : audio_(audio) {}
    ~FakeCaptureEvent() override { audio_.log.add("CloseHandle(event)"); }
    std::uint32_t wait(std::uint32_t timeout_ms) override {
        audio_.log.add("wait event " + std::to_string(timeout_ms));
        return audio_.next_wake();
    }

  private:
    FakeAudio& audio_;
};

class FakeCaptureService final : public CaptureService {
  public:
    explicit FakeCaptureService(FakeAudio& audio) : audio_(audio) {}
    ~FakeCaptureService() override { audio_.log.add("release capture service"); }

    HResult next_packet_size(std::uint32_t& frames) override {
        audio_.log.add("GetNextPacketSize");
        if (const HResult failed = audio_.result_of("GetNextPacketSize"); failed < 0) return failed;
        frames = audio_.queue.empty()
                     ? 0
                     : audio_.queue.front().announced.value_or(audio_.queue.front().frames);
        return kSOk;
    }

    HResult get_buffer(CapturePacket& packet) override {
        audio_.log.add("GetBuffer");
        // A scripted code that is not S_OK is answered alone, without locking a packet (a
        // failure, or the success code of an empty buffer).
        if (const HResult scripted = audio_.result_of("GetBuffer"); scripted != kSOk) {
            return scripted;
        }
        if (audio_.queue.empty()) return kEFail;
        const FakePacket next = audio_.queue.front();
        audio_.queue.pop_front();
        // One spare float so that a misaligned pointer still has room for every sample.
        buffer_.assign(std::size_t{next.frames} * 2 + 1, 0.0f);
        for (std::size_t i = 0; i + 1 < buffer_.size(); ++i)
            buffer_[i] = audio_.next_sample_value();
        packet.frames = next.frames;
        packet.flags = next.flags;
        switch (next.data) {
            case FakePacket::Data::Samples:
                packet.data = buffer_.data();
                break;
            case FakePacket::Data::Null:
                packet.data = nullptr;
                break;
            case FakePacket::Data::Misaligned:
                packet.data = reinterpret_cast<const unsigned char*>(buffer_.data()) + 2;
                break;
        }
        return kSOk;
    }

    HResult release_buffer(std::uint32_t frames) override {
        audio_.log.add("ReleaseBuffer " + std::to_string(frames));
        return audio_.result_of("ReleaseBuffer");
    }

  private:
    FakeAudio& audio_;
    std::vector<float> buffer_;
};

class FakeAudioClient final : public AudioClient {
  public:
    explicit FakeAudioClient(FakeAudio& audio) : audio_(audio) { ++audio_.live_clients; }
    ~FakeAudioClient() override {
        audio_.log.add("release audio client");
        --audio_.live_clients;
    }

    HResult initialize(const ClientInitialization& arguments) override {
        audio_.log.add("Initialize");
        audio_.initialization = arguments;
        return audio_.result_of("Initialize");
    }
    HResult get_buffer_size(std::uint32_t& frames) override {
        audio_.log.add("GetBufferSize");
        if (const HResult failed = audio_.result_of("GetBufferSize"); failed < 0) return failed;
        frames = audio_.buffer_frames;
        return kSOk;
    }
    HResult get_capture_service(std::unique_ptr<CaptureService>& service) override {
        audio_.log.add("GetService");
        if (const HResult failed = audio_.result_of("GetService"); failed < 0) return failed;
        if (!audio_.service_null) service = std::make_unique<FakeCaptureService>(audio_);
        return kSOk;
    }
    HResult set_event_handle(CaptureEvent&) override {
        audio_.log.add("SetEventHandle");
        return audio_.result_of("SetEventHandle");
    }
    HResult start() override {
        audio_.log.add("Start");
        return audio_.result_of("Start");
    }
    HResult stop() override {
        audio_.log.add("Stop");
        return audio_.result_of("Stop");
    }

  private:
    FakeAudio& audio_;
};

class FakeActivatedInterface final : public ActivatedInterface {
  public:
    explicit FakeActivatedInterface(FakeAudio& audio) : audio_(audio) {}
    ~FakeActivatedInterface() override { audio_.log.add("release activated interface"); }
    HResult query_audio_client(std::unique_ptr<AudioClient>& client) override {
        audio_.log.add("QueryInterface(IAudioClient)");
        if (audio_.activation.query_result < 0) return audio_.activation.query_result;
        if (!audio_.activation.query_gives_null) client = std::make_unique<FakeAudioClient>(audio_);
        return audio_.activation.query_result;
    }

  private:
    FakeAudio& audio_;
};

class FakeOperation final : public ActivationOperation {
  public:
    explicit FakeOperation(FakeAudio& audio) : audio_(audio) {}
    HResult get_activate_result(HResult& activation_result,
                                std::unique_ptr<ActivatedInterface>& activated) override {
        audio_.log.add("GetActivateResult");
        const ActivationScript& script = audio_.activation;
        if (script.get_result_call < 0) return script.get_result_call;
        activation_result = script.activation_result;
        if (script.activated_interface)
            activated = std::make_unique<FakeActivatedInterface>(audio_);
        return script.get_result_call;
    }

  private:
    FakeAudio& audio_;
};

}  // namespace

// The completion handler: the platform and the caller each hold a reference.
struct FakeAudio::Handler {
    Handler(FakeAudio& owner, ActivationCompletion done)
        : audio(owner), completion(std::move(done)) {
        ++audio.live_handlers;
    }
    ~Handler() {
        audio.log.add("handler destroyed");
        --audio.live_handlers;
    }
    FakeAudio& audio;
    ActivationCompletion completion;
};

namespace {

class HandlerReference final : public PlatformReference {
  public:
    HandlerReference(CallLog& log, std::shared_ptr<FakeAudio::Handler> handler)
        : log_(log), handler_(std::move(handler)) {}
    ~HandlerReference() override {
        log_.add("release handler");
        handler_.reset();
    }

  private:
    CallLog& log_;
    std::shared_ptr<FakeAudio::Handler> handler_;
};

}  // namespace

std::unique_ptr<AudioClient> FakeAudio::make_client() {
    return std::make_unique<FakeAudioClient>(*this);
}
std::unique_ptr<CaptureService> FakeAudio::make_service() {
    return std::make_unique<FakeCaptureService>(*this);
}
std::unique_ptr<CaptureEvent> FakeAudio::make_event() {
    return std::make_unique<FakeCaptureEvent>(*this);
}

FakeAudio::~FakeAudio() {
    join_completion();
    if (time_ != nullptr) time_->discard_pending();
    kept_handlers_.clear();
}

void FakeAudio::join_completion() {
    if (completion_thread_.joinable()) completion_thread_.join();
}

HResult FakeAudio::result_of(const std::string& operation) {
    const std::optional<std::uint32_t> failure = faults.hit(operation);
    return failure ? static_cast<HResult>(*failure) : kSOk;
}

std::uint32_t FakeAudio::next_wake() {
    if (const HResult failed = result_of("WaitForSingleObject"); failed != kSOk) {
        return static_cast<std::uint32_t>(failed);
    }
    if (wakes.empty()) {
        if (on_script_end) on_script_end();
        return kWaitTimeout;
    }
    Wake wake = std::move(wakes.front());
    wakes.pop_front();
    if (wake.before) wake.before();
    for (const FakePacket& packet : wake.packets)
        queue.push_back(packet);
    return wake.result;
}

HResult FakeAudio::join_multithreaded_apartment(std::unique_ptr<PlatformReference>& membership) {
    log.add("CoInitializeEx");
    HResult result = result_of("CoInitializeEx");
    if (result == kSOk) result = apartment_result;
    if (result >= 0) membership = std::make_unique<FakeReference>(log, "CoUninitialize");
    return result;
}

ActivationStart FakeAudio::activate_process_loopback(const ActivationParameters& block,
                                                     ActivationCompletion completion) {
    log.add("ActivateAudioInterfaceAsync");
    parameters = block;
    auto handler = std::make_shared<Handler>(*this, std::move(completion));
    ActivationStart start;
    start.handler = std::make_unique<HandlerReference>(log, handler);
    start.result = result_of("ActivateAudioInterfaceAsync");
    if (start.result < 0) return start;
    if (!activation.no_operation_object) {
        start.operation = std::make_unique<FakeReference>(log, "release operation");
    }
    switch (activation.when) {
        case Completion::Inline:
            complete(handler);
            break;
        case Completion::OnThread:
            completion_thread_ = std::thread([this, handler] { complete(handler); });
            break;
        case Completion::At: {
            // The platform's reference is kept here, so that no handler outlives this fake
            // when the scheduled time never comes.
            kept_handlers_.push_back(handler);
            std::weak_ptr<Handler> pending = handler;
            time_->at(activation.at, [this, pending] {
                if (std::shared_ptr<Handler> live = pending.lock()) {
                    complete(live);
                    std::erase(kept_handlers_, live);
                }
            });
            break;
        }
        case Completion::Never:
            kept_handlers_.push_back(handler);
            break;
    }
    return start;
}

void FakeAudio::complete(const std::shared_ptr<Handler>& handler) {
    log.add("ActivateCompleted");
    if (activation.completes_without_operation) {
        handler->completion.complete(nullptr);
        return;
    }
    FakeOperation operation(*this);
    handler->completion.complete(&operation);
}

Win32Call FakeAudio::create_capture_event(std::unique_ptr<CaptureEvent>& event) {
    log.add("CreateEventW");
    if (const std::optional<std::uint32_t> error = faults.hit("CreateEventW")) {
        return Win32Call{false, *error};
    }
    event = std::make_unique<FakeCaptureEvent>(*this);
    return Win32Call{true, 0};
}

Win32Call FakeAudio::install_console_handler(ConsoleStop& stop) {
    log.add("SetConsoleCtrlHandler");
    if (const std::optional<std::uint32_t> error = faults.hit("SetConsoleCtrlHandler")) {
        return Win32Call{false, *error};
    }
    console = &stop;
    return Win32Call{true, 0};
}

void FakeSink::push_samples(const float* data, std::size_t count) {
    log_.add("push " + std::to_string(count));
    pushes.push_back(count);
    sources.push_back(data);
    samples.insert(samples.end(), data, data + count);
}

void FakeSink::mark_discontinuity() {
    log_.add("discontinuity");
    ++discontinuities;
}

bool FakeProcess::running() {
    log_.add("poll " + name_);
    return alive.load();
}

}  // namespace quorle::host::testing
