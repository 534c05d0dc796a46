#pragma once
// The capture event on Linux: an eventfd that the server thread signals when a packet is
// ready and that the capture thread waits on with a time-out. A successful wait consumes
// every signal given so far, as an auto-reset event does.
#include <cstdint>
#include <expected>

namespace quorle::pulse {

enum class EventWait { Signalled, TimedOut, Failed };

struct EventWaitResult {
    EventWait outcome = EventWait::Failed;
    int error = 0;  // errno when Failed
};

class EventFd {
  public:
    // A new, unsignalled event, or the errno of the failure.
    [[nodiscard]] static std::expected<EventFd, int> create();

    EventFd(EventFd&& other) noexcept;
    EventFd& operator=(EventFd&& other) noexcept;
    EventFd(const EventFd&) = delete;
    EventFd& operator=(const EventFd&) = delete;
    ~EventFd();

    // Signals the event; safe from any thread.
    void signal() const;
    // Waits up to `timeout_ms` for the event and resets it.
    [[nodiscard]] EventWaitResult wait(int timeout_ms) const;

    [[nodiscard]] int fd() const { return fd_; }

  private:
    explicit EventFd(int fd) : fd_(fd) {}
    int fd_ = -1;
};

}  // namespace quorle::pulse
