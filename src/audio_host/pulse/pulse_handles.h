#pragma once
// One move-only owner per libpulse object kind. Owners of objects that call back clear
// their callbacks before letting go, so that no callback reaches a destroyed owner.
// Objects served by a threaded main loop are released either under its lock or after its
// thread has stopped.
#include <memory>
#include <utility>

#include <pulse/pulseaudio.h>

namespace quorle::pulse {

struct MainloopRelease {
    // Stops the loop's thread (when running) and frees the loop.
    void operator()(pa_threaded_mainloop* loop) const { pa_threaded_mainloop_free(loop); }
};
using MainloopHandle = std::unique_ptr<pa_threaded_mainloop, MainloopRelease>;

struct ContextRelease {
    void operator()(pa_context* context) const {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
};
using ContextHandle = std::unique_ptr<pa_context, ContextRelease>;

struct StreamRelease {
    void operator()(pa_stream* stream) const {
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (state == PA_STREAM_CREATING || state == PA_STREAM_READY) pa_stream_disconnect(stream);
        pa_stream_unref(stream);
    }
};
using StreamHandle = std::unique_ptr<pa_stream, StreamRelease>;

struct OperationRelease {
    void operator()(pa_operation* operation) const { pa_operation_unref(operation); }
};
// Requests are never cancelled by hand: the reply, or the context's end, settles them.
using OperationHandle = std::unique_ptr<pa_operation, OperationRelease>;

struct ProplistRelease {
    void operator()(pa_proplist* list) const { pa_proplist_free(list); }
};
using ProplistHandle = std::unique_ptr<pa_proplist, ProplistRelease>;

// A timer of a main loop; the loop's API must outlive it.
class TimeEventHandle {
  public:
    TimeEventHandle() = default;
    TimeEventHandle(const pa_mainloop_api* api, pa_time_event* event) : api_(api), event_(event) {}
    TimeEventHandle(TimeEventHandle&& other) noexcept
        : api_(other.api_), event_(std::exchange(other.event_, nullptr)) {}
    TimeEventHandle& operator=(TimeEventHandle&& other) noexcept {
        if (this != &other) {
            reset();
            api_ = other.api_;
            event_ = std::exchange(other.event_, nullptr);
        }
        return *this;
    }
    TimeEventHandle(const TimeEventHandle&) = delete;
    TimeEventHandle& operator=(const TimeEventHandle&) = delete;
    ~TimeEventHandle() { reset(); }

    void reset() {
        if (event_ != nullptr) api_->time_free(event_);
        event_ = nullptr;
    }
    [[nodiscard]] pa_time_event* get() const { return event_; }

  private:
    const pa_mainloop_api* api_ = nullptr;
    pa_time_event* event_ = nullptr;
};

// Holds the threaded main loop's lock for a scope (never on the loop's own thread).
class MainloopLock {
  public:
    explicit MainloopLock(pa_threaded_mainloop* loop) : loop_(loop) {
        pa_threaded_mainloop_lock(loop_);
    }
    MainloopLock(const MainloopLock&) = delete;
    MainloopLock& operator=(const MainloopLock&) = delete;
    ~MainloopLock() { pa_threaded_mainloop_unlock(loop_); }

  private:
    pa_threaded_mainloop* loop_;
};

}  // namespace quorle::pulse
