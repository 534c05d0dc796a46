#include "audio_host/pulse/loopback_capture.h"

#include "audio_host/pulse/pulse_session.h"

namespace quorle::pulse {

std::expected<std::unique_ptr<LoopbackCapture>, OpenFailure> LoopbackCapture::open(
    LoopbackTarget target, std::chrono::steady_clock::time_point deadline) {
    auto session = std::make_unique<PulseSession>(target);
    // steady_clock and libpulse's clock both count CLOCK_MONOTONIC.
    const auto since_epoch = deadline.time_since_epoch();
    const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count();
    auto opened = session->open(micros < 0 ? 0 : static_cast<std::uint64_t>(micros));
    if (!opened) return std::unexpected(opened.error());
    return std::unique_ptr<LoopbackCapture>(new LoopbackCapture(std::move(session)));
}

LoopbackCapture::LoopbackCapture(std::unique_ptr<PulseSession> session)
    : session_(std::move(session)) {}

LoopbackCapture::~LoopbackCapture() = default;

std::uint32_t LoopbackCapture::buffer_frames() const {
    return session_->packets().buffer_frames();
}

void LoopbackCapture::set_packet_signal(std::function<void()> signal) {
    session_->packets().set_signal(std::move(signal));
}

std::int32_t LoopbackCapture::start() {
    return session_->start();
}

std::int32_t LoopbackCapture::stop() {
    return session_->stop();
}

std::int32_t LoopbackCapture::next_packet_size(std::uint32_t& frames) {
    return session_->packets().next_packet_size(frames);
}

std::int32_t LoopbackCapture::get_buffer(const float*& data, std::uint32_t& frames,
                                         std::uint32_t& flags) {
    return session_->packets().get_buffer(data, frames, flags);
}

std::int32_t LoopbackCapture::release_buffer(std::uint32_t frames) {
    return session_->packets().release_buffer(frames);
}

}  // namespace quorle::pulse
