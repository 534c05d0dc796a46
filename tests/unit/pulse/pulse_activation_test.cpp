// The capture run's Linux activation served by the PulseAudio capture, through the run's
// own activation and set-up logic, against the daemon of tests/fixtures/with-pulseaudio.
#include "audio_host/capture_run/linux/pulse_activation_linux.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "audio_host/capture_run/activation.h"
#include "audio_host/capture_run/linux/capture_event_linux.h"
#include "common/platform_error.h"
#include "support/scoped_environment.h"

namespace quorle::host {
namespace {

using namespace std::chrono_literals;

using quorle::test_support::ScopedEnvironment;

class OtherEvent final : public CaptureEvent {
  public:
    std::uint32_t wait(std::uint32_t) override { return kWaitTimeout; }
};

Result<std::unique_ptr<AudioClient>> activate(std::uint32_t pid, LoopbackMode mode) {
    linux_layer::register_pulse_error_text();
    return activate_process_loopback(system_capture_platform(), pid, mode, system_timed_wait());
}

TEST(PulseActivation, AMalformedParameterBlockFailsAtOnce) {
    struct Row {
        std::uint32_t type;
        std::uint32_t mode;
    };
    for (const Row row : {Row{0, 0}, Row{2, 1}, Row{1, 2}}) {
        ActivationParameters block =
            activation_parameters(42, LoopbackMode::IncludeTargetProcessTree);
        block[0] = static_cast<std::uint8_t>(row.type);
        block[8] = static_cast<std::uint8_t>(row.mode);
        auto [sender, receiver] = make_one_slot_channel<ActivationOutcome>();
        const ActivationStart start = linux_layer::start_pulse_activation(
            block,
            ActivationCompletion(std::move(sender), ActivationService::AudioServerConnection));
        EXPECT_EQ(static_cast<std::uint32_t>(start.result), 0x80070057u) << row.type << row.mode;
        EXPECT_EQ(start.operation, nullptr);
    }
}

TEST(PulseActivation, NoReachableServerIsTheActivationsFailureWithPulseAudiosText) {
    const ScopedEnvironment server("PULSE_SERVER", "unix:/nonexistent/quorle/native");
    const auto client = activate(1, LoopbackMode::ExcludeTargetProcessTree);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error(),
              "audio server connection (PulseAudio protocol): "
              "Connection refused (0xA0500006)");
}

TEST(PulseActivation, TheClientKeepsTheRulesOfAnAudioClient) {
    auto activated = activate(1, LoopbackMode::ExcludeTargetProcessTree);
    ASSERT_TRUE(activated) << activated.error();
    AudioClient& client = **activated;
    std::uint32_t frames = 0;
    std::unique_ptr<CaptureService> service;
    EXPECT_EQ(static_cast<std::uint32_t>(client.get_buffer_size(frames)), 0x88890001u);
    EXPECT_EQ(static_cast<std::uint32_t>(client.get_capture_service(service)), 0x88890001u);
    EXPECT_EQ(static_cast<std::uint32_t>(client.start()), 0x88890001u);

    ClientInitialization other = kCaptureClientInitialization;
    other.format.samples_per_sec = 44100;
    EXPECT_EQ(static_cast<std::uint32_t>(client.initialize(other)), 0x88890008u);
    EXPECT_EQ(client.initialize(kCaptureClientInitialization), kSOk);
    EXPECT_EQ(static_cast<std::uint32_t>(client.initialize(kCaptureClientInitialization)),
              0x88890002u);

    OtherEvent foreign;
    EXPECT_EQ(static_cast<std::uint32_t>(client.set_event_handle(foreign)), 0x80070057u);
}

TEST(PulseActivation, ASetUpClientDeliversSilentPacketsThroughTheRunsEvent) {
    auto activated = activate(1, LoopbackMode::ExcludeTargetProcessTree);
    ASSERT_TRUE(activated) << activated.error();
    std::unique_ptr<AudioClient> client = std::move(*activated);
    auto capture = initialize_process_capture(system_capture_platform(), *client);
    ASSERT_TRUE(capture) << capture.error();
    EXPECT_GE(capture->buffer_frames, 480u);

    ASSERT_EQ(client->start(), kSOk);
    // Nothing plays on the daemon but this test's own nothing: silent 10 ms packets.
    int packets = 0;
    for (int wakes = 0; wakes < 40 && packets < 5; ++wakes) {
        if (capture->event->wait(250) != kWaitObject0) continue;
        for (;;) {
            std::uint32_t size = 0;
            ASSERT_EQ(capture->service->next_packet_size(size), kSOk);
            if (size == 0) break;
            CapturePacket packet;
            ASSERT_EQ(capture->service->get_buffer(packet), kSOk);
            EXPECT_EQ(packet.frames, 480u);
            EXPECT_EQ(packet.flags & 0x2u, 0x2u);
            ASSERT_EQ(capture->service->release_buffer(packet.frames), kSOk);
            ++packets;
        }
    }
    EXPECT_GE(packets, 5);
    EXPECT_EQ(client->stop(), kSOk);

    // The client's release ends the capture even while its service lives on.
    client.reset();
    std::uint32_t size = 0;
    EXPECT_EQ(capture->service->next_packet_size(size), kEFail);
}

TEST(PulseActivation, PulseAudioCodesReadAsPulseAudiosText) {
    linux_layer::register_pulse_error_text();
    EXPECT_EQ(platform_error_text(0xA050000Bu), "Connection terminated (0xA050000B)");
    EXPECT_EQ(context_error("next capture packet", 0xA0500006u),
              "next capture packet: Connection refused (0xA0500006)");
    // Other codes keep their own texts.
    EXPECT_EQ(platform_error_text(2), "No such file or directory (0x00000002)");
}

}  // namespace
}  // namespace quorle::host
