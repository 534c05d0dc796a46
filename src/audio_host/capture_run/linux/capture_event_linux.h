#pragma once
// The capture event on Linux: an eventfd used as an auto-reset event. A signal adds to the
// counter; a wait that sees it readable reads the counter back to 0.
#include <cstdint>

#include "audio_host/capture_run/capture_platform.h"

namespace quorle::host::linux_layer {

class EventFdCaptureEvent final : public CaptureEvent {
  public:
    // Takes over an eventfd descriptor.
    explicit EventFdCaptureEvent(int descriptor) : descriptor_(descriptor) {}
    EventFdCaptureEvent(const EventFdCaptureEvent&) = delete;
    EventFdCaptureEvent& operator=(const EventFdCaptureEvent&) = delete;
    ~EventFdCaptureEvent() override;

    // kWaitObject0 when signalled (and resets it), kWaitTimeout when not signalled within the
    // time or when a signal interrupted the wait (so that the caller checks its stop flags at
    // once), 0xFFFFFFFF when the wait failed.
    std::uint32_t wait(std::uint32_t timeout_ms) override;

    // Signals the event; safe from any thread. Returns 0 or the errno of the failed write.
    int signal();

    [[nodiscard]] int descriptor() const { return descriptor_; }

  private:
    int descriptor_;
};

}  // namespace quorle::host::linux_layer
