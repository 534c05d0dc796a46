// The Linux layer of the capture seam: the eventfd capture event, the stop signals and, in a
// build without libpulse, the activation that has no backend (with libpulse the activation
// is served by the PulseAudio capture: tests/unit/pulse/pulse_activation_test.cpp).
#include <signal.h>

#include <gtest/gtest.h>

#include <thread>

#include "../fake_time.h"
#include "audio_host/capture_run/activation.h"
#include "audio_host/capture_run/console_stop.h"
#include "audio_host/capture_run/linux/capture_event_linux.h"

namespace quorle::host {
namespace {

TEST(LinuxCaptureLayer, CaptureEventIsAutoReset) {
    std::unique_ptr<CaptureEvent> event;
    ASSERT_TRUE(system_capture_platform().create_capture_event(event).ok);
    auto& eventfd = static_cast<linux_layer::EventFdCaptureEvent&>(*event);
    EXPECT_EQ(event->wait(0), kWaitTimeout);
    ASSERT_EQ(eventfd.signal(), 0);
    ASSERT_EQ(eventfd.signal(), 0);
    EXPECT_EQ(event->wait(0), kWaitObject0);
    EXPECT_EQ(event->wait(0), kWaitTimeout) << "one wait resets the event, however often set";
}

TEST(LinuxCaptureLayer, SignalFromAnotherThreadEndsTheWait) {
    std::unique_ptr<CaptureEvent> event;
    ASSERT_TRUE(system_capture_platform().create_capture_event(event).ok);
    auto& eventfd = static_cast<linux_layer::EventFdCaptureEvent&>(*event);
    std::thread signaller([&eventfd] { EXPECT_EQ(eventfd.signal(), 0); });
    // A generous limit: the wait ends as soon as the other thread has signalled.
    EXPECT_EQ(event->wait(60000), kWaitObject0);
    signaller.join();
}

TEST(LinuxCaptureLayer, StopSignalsOnlySetTheConsoleStopFlag) {
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal_number);
        testing::FakeTime time;
        ConsoleStop stop(time);
        ASSERT_TRUE(system_capture_platform().install_console_handler(stop).ok);
        ASSERT_EQ(::raise(signal_number), 0);
        EXPECT_TRUE(stop.flag().load(std::memory_order_acquire));
        EXPECT_TRUE(time.waits().empty()) << "a signal never waits for the shutdown";
    }
}

#if !QUORLE_PULSE_CAPTURE
TEST(LinuxCaptureLayer, ActivationSaysItIsNotAvailable) {
    testing::FakeTime time;
    auto client = activate_process_loopback(system_capture_platform(), 1,
                                            LoopbackMode::ExcludeTargetProcessTree, time);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error(), "activate process loopback: Function not implemented (0x80070026)");
    EXPECT_TRUE(time.waits().empty());
}
#endif

}  // namespace
}  // namespace quorle::host
