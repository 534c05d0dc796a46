#include "audio_host/capture_run/linux/capture_event_linux.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>

namespace quorle::host::linux_layer {
namespace {

constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;

}  // namespace

EventFdCaptureEvent::~EventFdCaptureEvent() {
    if (descriptor_ >= 0) ::close(descriptor_);
}

std::uint32_t EventFdCaptureEvent::wait(std::uint32_t timeout_ms) {
    pollfd ready{descriptor_, POLLIN, 0};
    const int polled = ::poll(&ready, 1, static_cast<int>(timeout_ms));
    if (polled == 0) return kWaitTimeout;
    if (polled < 0) return errno == EINTR ? kWaitTimeout : kWaitFailed;
    if ((ready.revents & POLLIN) == 0) return kWaitFailed;
    eventfd_t count = 0;
    if (::eventfd_read(descriptor_, &count) != 0 && errno != EAGAIN) return kWaitFailed;
    return kWaitObject0;
}

int EventFdCaptureEvent::signal() {
    return ::eventfd_write(descriptor_, 1) == 0 ? 0 : errno;
}

}  // namespace quorle::host::linux_layer
