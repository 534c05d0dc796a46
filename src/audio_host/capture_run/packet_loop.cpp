#include "audio_host/capture_run/packet_loop.h"

#include <algorithm>

#include "common/platform_error.h"

namespace quorle::host {
namespace {

std::uint32_t code_of(HResult result) {
    return static_cast<std::uint32_t>(result);
}

bool is_float_aligned(const void* data) {
    return data != nullptr && reinterpret_cast<std::uintptr_t>(data) % alignof(float) == 0;
}

void push_silence(PacketSink& sink, std::span<const float, kZeroAreaSamples> zeros,
                  std::size_t samples) {
    while (samples > 0) {
        const std::size_t run = std::min(samples, zeros.size());
        sink.push_samples(zeros.data(), run);
        samples -= run;
    }
}

// Hands one locked packet to the sink and releases it.
Status take_packet(const PacketLoopContext& context, std::uint32_t frame_bound,
                   const CapturePacket& packet) {
    if (packet.frames > frame_bound) {
        (void)context.service.release_buffer(packet.frames);
        return fail("capture packet exceeded negotiated buffer");
    }
    if ((packet.flags & kBufferFlagDataDiscontinuity) != 0) context.sink.mark_discontinuity();

    const std::size_t samples = std::size_t{packet.frames} * kSamplesPerFrame;
    if ((packet.flags & kBufferFlagSilent) != 0) {
        push_silence(context.sink, context.zeros, samples);
    } else if (packet.frames != 0) {
        if (!is_float_aligned(packet.data)) {
            (void)context.service.release_buffer(packet.frames);
            return fail("invalid float capture buffer");
        }
        context.sink.push_samples(static_cast<const float*>(packet.data), samples);
    }

    const HResult released = context.service.release_buffer(packet.frames);
    if (released < 0) return fail(context_error("release capture packet", code_of(released)));
    return {};
}

// Drains at most kPacketsPerWake packets after one signal of the event.
Status drain_packets(const PacketLoopContext& context, std::uint32_t frame_bound) {
    for (unsigned packets = 0; packets < kPacketsPerWake;) {
        std::uint32_t next_frames = 0;
        const HResult sized = context.service.next_packet_size(next_frames);
        if (sized < 0) return fail(context_error("next capture packet", code_of(sized)));
        ++packets;
        if (next_frames == 0) return {};

        CapturePacket packet;
        const HResult read = context.service.get_buffer(packet);
        if (read < 0) return fail(context_error("read capture packet", code_of(read)));
        if (read == kBufferEmpty) return {};
        QUORLE_RETURN_IF_ERROR(take_packet(context, frame_bound, packet));
    }
    return {};
}

}  // namespace

Status run_packet_loop(const PacketLoopContext& context) {
    const std::uint32_t frame_bound = packet_frame_bound(context.buffer_frames);
    for (;;) {
        if (context.console_stop.load(std::memory_order_acquire)) return {};
        if (context.shared_stop.load(std::memory_order_acquire)) return {};
        if (!context.translator.running()) return {};
        if (context.target != nullptr && !context.target->running()) {
            return fail("selected process exited");
        }
        const std::uint32_t waited = context.event.wait(kCaptureEventWaitMs);
        if (waited == kWaitTimeout) continue;
        if (waited != kWaitObject0) return fail("capture event wait failed");
        QUORLE_RETURN_IF_ERROR(drain_packets(context, frame_bound));
    }
}

}  // namespace quorle::host
