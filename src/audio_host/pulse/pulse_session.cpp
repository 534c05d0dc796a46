#include "audio_host/pulse/pulse_session.h"

#include <pulse/rtclock.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>

#include "audio_host/pulse/pulse_codes.h"
#include "common/process_env.h"

namespace quorle::pulse {

namespace {

constexpr const char* kApplicationName = "Quorle audio host";
constexpr const char* kTapName = "Quorle loopback";

// PipeWire's property with the pid from the credentials of a client's socket.
constexpr const char* kSecurePid = "pipewire.sec.pid";

std::optional<std::uint32_t> process_property(const pa_proplist* list, const char* key) {
    const char* text = list == nullptr ? nullptr : pa_proplist_gets(list, key);
    if (text == nullptr) return std::nullopt;
    return parse_process_id(text);
}

TapFailure tap_failure(int error) {
    switch (error) {
        case PA_ERR_NOENTITY:
            return TapFailure::SinkInputMissing;
        case PA_ERR_KILLED:
            return TapFailure::SinkInputKilled;
        default:
            return TapFailure::Refused;
    }
}

// Set in the environment: one line per tap event on standard error (see trace).
constexpr const char* kTraceVariable = "QUORLE_PULSE_TRACE";

std::uint32_t usec_to_ms(pa_usec_t usec) {
    return static_cast<std::uint32_t>(usec / 1000);
}

}  // namespace

void PulseSession::trace(const char* format, ...) const {
    if (!trace_) return;
    char line[256];
    const int head = std::snprintf(line, sizeof line, "QUORLE_PULSE_TRACE t_ms=%llu ",
                                   static_cast<unsigned long long>(pa_rtclock_now() / 1000));
    if (head < 0) return;
    std::va_list args;
    va_start(args, format);
    const int body =
        std::vsnprintf(line + head, sizeof line - static_cast<std::size_t>(head) - 1, format, args);
    va_end(args);
    if (body < 0) return;
    std::size_t length = std::min(sizeof line - 2, static_cast<std::size_t>(head + body));
    line[length++] = '\n';
    // One write per line, so that lines of this thread and the capture's never interleave.
    (void)!::write(STDERR_FILENO, line, length);
}

PulseSession::PulseSession(LoopbackTarget target)
    : packets_(kPacketCapacity),
      target_(target),
      core_(*this, processes_, target_, packets_),
      trace_(environment_variable_present(kTraceVariable)) {}

PulseSession::~PulseSession() {
    // Nothing may run on the loop's thread while the objects it serves are released.
    if (mainloop_ && thread_started_) pa_threaded_mainloop_stop(mainloop_.get());
}

std::int32_t PulseSession::context_code() const {
    return pulse_code(context_ ? pa_context_errno(context_.get()) : PA_ERR_INTERNAL);
}

pa_context* PulseSession::new_context() const {
    ProplistHandle properties(pa_proplist_new());
    if (!properties) return nullptr;
    pa_proplist_sets(properties.get(), PA_PROP_APPLICATION_NAME, kApplicationName);
    return pa_context_new_with_proplist(pa_threaded_mainloop_get_api(mainloop_.get()),
                                        kApplicationName, properties.get());
}

std::expected<void, OpenFailure> PulseSession::open(std::uint64_t deadline_us) {
    mainloop_.reset(pa_threaded_mainloop_new());
    if (!mainloop_)
        return std::unexpected(OpenFailure{OpenStage::Connect, pulse_code(PA_ERR_INTERNAL)});
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_.get());
    context_.reset(new_context());
    if (!context_)
        return std::unexpected(OpenFailure{OpenStage::Connect, pulse_code(PA_ERR_INTERNAL)});
    pa_context_set_state_callback(context_.get(), &PulseSession::on_context_state, this);
    // Never start a server of our own: no reachable server is a failure.
    if (pa_context_connect(context_.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return std::unexpected(OpenFailure{OpenStage::Connect, context_code()});
    }

    if (pa_threaded_mainloop_start(mainloop_.get()) < 0) {
        return std::unexpected(OpenFailure{OpenStage::Connect, pulse_code(PA_ERR_INTERNAL)});
    }
    thread_started_ = true;
    MainloopLock lock(mainloop_.get());
    deadline_timer_ = TimeEventHandle(
        api, pa_context_rttime_new(context_.get(), deadline_us, &PulseSession::on_deadline, this));

    auto connected = wait_for([this] { return ready_; }, OpenStage::Connect);
    if (!connected) return connected;

    // This connection's own client tells the secure pid of a relaying server.
    OperationHandle own(pa_context_get_client_info(
        context_.get(), pa_context_get_index(context_.get()), &PulseSession::on_own_client, this));
    if (!own) return std::unexpected(OpenFailure{OpenStage::Setup, context_code()});
    auto known = wait_for([this] { return own_client_known_; }, OpenStage::Setup);
    if (!known) return known;

    // Subscribe first, so that no stream slips between the listing and the events.
    pa_context_set_subscribe_callback(context_.get(), &PulseSession::on_subscription, this);
    OperationHandle subscribing(pa_context_subscribe(
        context_.get(), PA_SUBSCRIPTION_MASK_SINK_INPUT, &PulseSession::on_subscribed, this));
    if (!subscribing) return std::unexpected(OpenFailure{OpenStage::Setup, context_code()});
    OperationHandle listing(
        pa_context_get_sink_input_info_list(context_.get(), &PulseSession::on_listing, this));
    if (!listing) return std::unexpected(OpenFailure{OpenStage::Setup, context_code()});

    auto settled = wait_for(
        [this] { return setup_code_ != 0 || core_.setup_failure() != 0 || core_.setup_settled(); },
        OpenStage::Setup);
    if (!settled) return settled;
    if (setup_code_ != 0) return std::unexpected(OpenFailure{OpenStage::Setup, setup_code_});
    if (core_.setup_failure() != 0) {
        return std::unexpected(OpenFailure{OpenStage::Setup, core_.setup_failure()});
    }
    core_.finish_setup();
    deadline_timer_.reset();
    return {};
}

template <class Done>
std::expected<void, OpenFailure> PulseSession::wait_for(Done done, OpenStage stage) {
    while (!done()) {
        if (context_failed_) return std::unexpected(OpenFailure{stage, context_code()});
        if (timed_out_) return std::unexpected(OpenFailure{OpenStage::TimedOut, 0});
        pa_threaded_mainloop_wait(mainloop_.get());
    }
    return {};
}

std::int32_t PulseSession::start() {
    MainloopLock lock(mainloop_.get());
    if (running_) return bad_state_code();
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(mainloop_.get());
    armed_us_ = core_.start(pa_rtclock_now());
    tick_timer_ = TimeEventHandle(
        api, pa_context_rttime_new(context_.get(), armed_us_, &PulseSession::on_tick, this));
    if (tick_timer_.get() == nullptr) return pulse_code(PA_ERR_INTERNAL);
    running_ = true;
    return 0;
}

std::int32_t PulseSession::stop() {
    MainloopLock lock(mainloop_.get());
    if (!running_) return 0;
    core_.stop();
    tick_timer_.reset();
    running_ = false;
    return 0;
}

std::int32_t PulseSession::attach(std::uint32_t sink_input) {
    auto tap = std::make_unique<Tap>(Tap{this, sink_input, {}, {}, false});
    if (!own_connections_) {
        const std::int32_t code = open_tap_stream(*tap);
        if (code == 0) taps_[sink_input] = std::move(tap);
        return code;
    }
    taps_[sink_input] = std::move(tap);
    waiting_taps_.push_back(sink_input);
    schedule_pump();
    return 0;
}

std::int32_t PulseSession::connect_tap(Tap& tap) {
    tap.context.reset(new_context());
    if (!tap.context) return pulse_code(PA_ERR_INTERNAL);
    pa_context_set_state_callback(tap.context.get(), &PulseSession::on_tap_context_state, &tap);
    if (pa_context_connect(tap.context.get(), nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        return pulse_code(pa_context_errno(tap.context.get()));
    }
    return 0;
}

void PulseSession::schedule_pump() {
    if (pump_timer_.get() == nullptr) {
        pump_timer_ = TimeEventHandle(
            pa_threaded_mainloop_get_api(mainloop_.get()),
            pa_context_rttime_new(context_.get(), pa_rtclock_now(), &PulseSession::on_pump, this));
    } else {
        pa_context_rttime_restart(context_.get(), pump_timer_.get(), pa_rtclock_now());
    }
}

void PulseSession::pump() {
    retired_taps_.clear();
    while (!connecting_tap_ && !waiting_taps_.empty()) {
        const std::uint32_t index = waiting_taps_.front();
        waiting_taps_.pop_front();
        const auto it = taps_.find(index);
        // Detached while waiting, or already connecting again.
        if (it == taps_.end() || it->second->context) continue;
        const std::int32_t code = connect_tap(*it->second);
        if (code != 0) {
            // The core detaches the tap here.
            core_.on_tap_failed(index, TapFailure::Refused, code);
            continue;
        }
        connecting_tap_ = index;
    }
    rearm();
    pa_threaded_mainloop_signal(mainloop_.get(), 0);
}

void PulseSession::tap_settled(std::uint32_t index) {
    if (connecting_tap_ != index) return;
    connecting_tap_.reset();
    schedule_pump();
}

pa_context* PulseSession::connection_of(const Tap& tap) const {
    return tap.context ? tap.context.get() : context_.get();
}

std::int32_t PulseSession::open_tap_stream(Tap& tap) {
    pa_context* context = connection_of(tap);
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, kSampleRate,
                              static_cast<std::uint8_t>(kChannels)};
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    tap.stream.reset(pa_stream_new(context, kTapName, &spec, &map));
    if (!tap.stream) return pulse_code(pa_context_errno(context));
    pa_stream* raw = tap.stream.get();
    if (pa_stream_set_monitor_stream(raw, tap.index) < 0) {
        return pulse_code(pa_context_errno(context));
    }
    pa_stream_set_state_callback(raw, &PulseSession::on_tap_state, &tap);
    pa_stream_set_read_callback(raw, &PulseSession::on_tap_read, &tap);
    // An explicit fragment keeps the delivery at about one tick; the server's default is
    // seconds. A moved sink input ends the tap instead of moving it, so it is re-attached.
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(-1);
    attributes.prebuf = static_cast<std::uint32_t>(-1);
    attributes.minreq = static_cast<std::uint32_t>(-1);
    attributes.fragsize = kFragmentBytes;
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE);
    if (pa_stream_connect_record(raw, nullptr, &attributes, flags) < 0) {
        return pulse_code(pa_context_errno(context));
    }
    return 0;
}

void PulseSession::detach(std::uint32_t sink_input) {
    tap_settled(sink_input);
    const auto it = taps_.find(sink_input);
    if (it == taps_.end()) return;
    // No further event of this tap reaches the core; the release follows outside callbacks.
    Tap& tap = *it->second;
    if (tap.stream) {
        pa_stream_set_state_callback(tap.stream.get(), nullptr, nullptr);
        pa_stream_set_read_callback(tap.stream.get(), nullptr, nullptr);
    }
    if (tap.context) pa_context_set_state_callback(tap.context.get(), nullptr, nullptr);
    retired_taps_.push_back(std::move(it->second));
    taps_.erase(it);
    schedule_pump();
}

std::int32_t PulseSession::query(std::uint32_t sink_input) {
    const std::uint64_t serial = next_query_++;
    Query& entry = queries_[serial];
    entry = Query{this, serial, sink_input};
    OperationHandle operation(pa_context_get_sink_input_info(context_.get(), sink_input,
                                                             &PulseSession::on_query, &entry));
    if (!operation) {
        queries_.erase(serial);
        return context_code();
    }
    return 0;
}

void PulseSession::on_context_state(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY:
            self->ready_ = true;
            break;
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            self->context_failed_ = true;
            self->core_.on_connection_failed(self->context_code());
            break;
        default:
            break;
    }
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::on_subscription(pa_context*, pa_subscription_event_type_t type,
                                   std::uint32_t index, void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    if ((type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) != PA_SUBSCRIPTION_EVENT_SINK_INPUT) return;
    if ((type & PA_SUBSCRIPTION_EVENT_TYPE_MASK) == PA_SUBSCRIPTION_EVENT_REMOVE) {
        self->core_.on_sink_input_removed(index);
        self->rearm();
    } else {
        // New or changed (moved, property update): look at it again. A failed request
        // means the connection is going; its own failure reports that.
        (void)self->query(index);
    }
}

void PulseSession::on_subscribed(pa_context* context, int success, void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    if (!success && self->setup_code_ == 0) {
        self->setup_code_ = pulse_code(pa_context_errno(context));
    }
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::on_listing(pa_context* context, const pa_sink_input_info* info, int eol,
                              void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    if (eol < 0) {
        if (self->setup_code_ == 0) self->setup_code_ = pulse_code(pa_context_errno(context));
    } else if (eol > 0) {
        self->listing_ended_ = true;
        self->finish_listing();
    } else if (info != nullptr) {
        self->look_up_owner(*info, true);
    }
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::on_query(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* entry = static_cast<Query*>(userdata);
    PulseSession* self = entry->session;
    const std::uint32_t index = entry->index;
    if (eol == 0 && info != nullptr) {
        self->trace("event=sink_input index=%u sink=%u sink_latency_ms=%u buffer_ms=%u",
                    info->index, info->sink, usec_to_ms(info->sink_usec),
                    usec_to_ms(info->buffer_usec));
        self->look_up_owner(*info, false);
    } else {
        // The end of the answer (eol > 0) or no such sink input (eol < 0).
        const bool found = eol > 0;
        self->queries_.erase(entry->serial);
        if (!found) self->core_.on_sink_input_missing(index);
    }
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::on_own_client(pa_context*, const pa_client_info* info, int eol, void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    if (eol == 0 && info != nullptr) {
        self->relay_pid_ = process_property(info->proplist, kSecurePid);
        // Only PipeWire gives its clients a secure pid.
        self->own_connections_ = self->relay_pid_.has_value();
    } else {
        // The end of the answer; a server that cannot describe this client relays nothing.
        self->own_client_known_ = true;
    }
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::look_up_owner(const pa_sink_input_info& info, bool listing) {
    StreamOwner owner;
    owner.stream_process_id = process_property(info.proplist, PA_PROP_APPLICATION_PROCESS_ID);
    if (info.client == PA_INVALID_INDEX) {
        deliver(info.index, owner);
        return;
    }
    const std::uint64_t serial = next_query_++;
    OwnerLookup& entry = owner_lookups_[serial];
    entry = OwnerLookup{this, serial, info.index, owner, listing};
    OperationHandle operation(pa_context_get_client_info(context_.get(), info.client,
                                                         &PulseSession::on_owner_client, &entry));
    if (!operation) {
        // The connection is going; its own failure reports that.
        owner_lookups_.erase(serial);
        return;
    }
    if (listing) ++listing_lookups_;
}

void PulseSession::on_owner_client(pa_context*, const pa_client_info* info, int eol,
                                   void* userdata) {
    auto* entry = static_cast<OwnerLookup*>(userdata);
    PulseSession* self = entry->session;
    if (eol == 0 && info != nullptr) {
        entry->owner.client_sec_pid = process_property(info->proplist, kSecurePid);
        entry->owner.client_process_id =
            process_property(info->proplist, PA_PROP_APPLICATION_PROCESS_ID);
        return;
    }
    // The end of the answer, or no such client (it left): decide with what is known.
    const std::uint32_t index = entry->index;
    const StreamOwner owner = entry->owner;
    const bool listing = entry->listing;
    self->owner_lookups_.erase(entry->serial);
    self->deliver(index, owner);
    if (listing) {
        --self->listing_lookups_;
        self->finish_listing();
    }
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::deliver(std::uint32_t index, const StreamOwner& owner) {
    core_.on_sink_input(SinkInputInfo{index, stream_process(owner, relay_pid_)});
}

void PulseSession::finish_listing() {
    if (listing_ended_ && listing_lookups_ == 0) core_.on_listing_done();
}

void PulseSession::on_tap_context_state(pa_context* context, void* userdata) {
    auto* tap = static_cast<Tap*>(userdata);
    PulseSession* self = tap->session;
    const std::uint32_t index = tap->index;
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            const std::int32_t code = self->open_tap_stream(*tap);
            // The core detaches the tap here: `tap` is gone afterwards.
            if (code != 0) self->core_.on_tap_failed(index, TapFailure::Refused, code);
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED:
            // Once the stream exists, its own failure reports the end of the connection.
            if (!tap->stream) {
                const int error = pa_context_errno(context);
                self->core_.on_tap_failed(index, tap_failure(error), pulse_code(error));
            }
            break;
        default:
            break;
    }
    self->rearm();
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::on_tap_state(pa_stream* stream, void* userdata) {
    auto* tap = static_cast<Tap*>(userdata);
    PulseSession* self = tap->session;
    const std::uint32_t index = tap->index;
    switch (pa_stream_get_state(stream)) {
        case PA_STREAM_READY:
            self->trace_ready(*tap);
            self->tap_settled(index);
            self->core_.on_tap_ready(index);
            break;
        case PA_STREAM_FAILED:
        case PA_STREAM_TERMINATED: {
            const int error = pa_context_errno(self->connection_of(*tap));
            self->trace("event=tap_failed index=%u error=%d", index, error);
            // The core detaches the tap here: `tap` is gone afterwards.
            self->core_.on_tap_failed(index, tap_failure(error), pulse_code(error));
            break;
        }
        default:
            break;
    }
    self->rearm();
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::trace_ready(Tap& tap) {
    if (!trace_) return;
    const pa_buffer_attr* attributes = pa_stream_get_buffer_attr(tap.stream.get());
    trace("event=tap_ready index=%u source=%u maxlength=%u fragsize=%u", tap.index,
          pa_stream_get_device_index(tap.stream.get()),
          attributes == nullptr ? 0u : attributes->maxlength,
          attributes == nullptr ? 0u : attributes->fragsize);
    // The monitored sink's configured latency: a sink that renders far ahead holds back its
    // monitors' data by as much.
    pa_context* context = connection_of(tap);
    OperationHandle source(
        pa_context_get_source_info_by_index(context, pa_stream_get_device_index(tap.stream.get()),
                                            &PulseSession::on_traced_source, this));
}

void PulseSession::on_traced_source(pa_context* context, const pa_source_info* info, int eol,
                                    void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    if (eol != 0 || info == nullptr) return;
    self->trace("event=source index=%u monitor_of=%u latency_ms=%u configured_ms=%u", info->index,
                info->monitor_of_sink, usec_to_ms(info->latency),
                usec_to_ms(info->configured_latency));
    if (info->monitor_of_sink == PA_INVALID_INDEX) return;
    OperationHandle sink(pa_context_get_sink_info_by_index(context, info->monitor_of_sink,
                                                           &PulseSession::on_traced_sink, self));
}

void PulseSession::on_traced_sink(pa_context*, const pa_sink_info* info, int eol, void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    if (eol != 0 || info == nullptr) return;
    self->trace("event=sink index=%u latency_ms=%u configured_ms=%u", info->index,
                usec_to_ms(info->latency), usec_to_ms(info->configured_latency));
}

void PulseSession::on_tap_read(pa_stream* stream, std::size_t, void* userdata) {
    auto* tap = static_cast<Tap*>(userdata);
    for (;;) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0) return;
        if (!tap->data_seen) {
            tap->data_seen = true;
            tap->session->trace("event=tap_data index=%u bytes=%zu hole=%d", tap->index, bytes,
                                data == nullptr ? 1 : 0);
        }
        if (data != nullptr) {
            tap->session->core_.on_tap_data(tap->index, data, bytes, pa_rtclock_now());
        } else {
            tap->session->core_.on_tap_hole(tap->index, bytes);
        }
        pa_stream_drop(stream);
        tap->session->rearm();
    }
}

void PulseSession::on_deadline(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                               void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    self->timed_out_ = true;
    pa_threaded_mainloop_signal(self->mainloop_.get(), 0);
}

void PulseSession::on_pump(pa_mainloop_api*, pa_time_event*, const struct timeval*,
                           void* userdata) {
    static_cast<PulseSession*>(userdata)->pump();
}

void PulseSession::on_tick(pa_mainloop_api*, pa_time_event* event, const struct timeval*,
                           void* userdata) {
    auto* self = static_cast<PulseSession*>(userdata);
    self->armed_us_ = self->core_.on_timer(pa_rtclock_now());
    pa_context_rttime_restart(self->context_.get(), event, self->armed_us_);
}

void PulseSession::rearm() {
    if (tick_timer_.get() == nullptr) return;
    // Only an earlier wake-up needs the timer moved: one that comes too early finds nothing
    // due and sets the right time itself (on_tick). Moving the timer costs a wake-up of the
    // loop, and the server may deliver a tap's data in thousands of small pieces a second.
    const std::uint64_t wake = core_.next_wake_us();
    if (wake >= armed_us_) return;
    armed_us_ = wake;
    pa_context_rttime_restart(context_.get(), tick_timer_.get(), wake);
}

}  // namespace quorle::pulse
