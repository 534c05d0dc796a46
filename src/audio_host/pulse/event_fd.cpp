#include "audio_host/pulse/event_fd.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <cerrno>
#include <utility>

namespace quorle::pulse {

std::expected<EventFd, int> EventFd::create() {
    const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) return std::unexpected(errno);
    return EventFd(fd);
}

EventFd::EventFd(EventFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

EventFd& EventFd::operator=(EventFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

EventFd::~EventFd() {
    if (fd_ >= 0) ::close(fd_);
}

void EventFd::signal() const {
    const std::uint64_t one = 1;
    // A full counter (EAGAIN) is still signalled; nothing else can fail here.
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

EventWaitResult EventFd::wait(int timeout_ms) const {
    pollfd entry{fd_, POLLIN, 0};
    const int ready = ::poll(&entry, 1, timeout_ms);
    // A signal (Ctrl+C) ends the wait early, so the caller checks its stop flags at once.
    if (ready < 0 && errno == EINTR) return {EventWait::TimedOut, 0};
    if (ready < 0) return {EventWait::Failed, errno};
    if (ready == 0) return {EventWait::TimedOut, 0};
    std::uint64_t count = 0;
    if (::read(fd_, &count, sizeof count) < 0 && errno != EAGAIN) {
        return {EventWait::Failed, errno};
    }
    return {EventWait::Signalled, 0};
}

}  // namespace quorle::pulse
