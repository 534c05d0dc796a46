#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "audio_host/capture_run/activation.h"
#include "common/platform_error.h"
#include "fake_capture_platform.h"

namespace quorle::host {
namespace {

using ::testing::ElementsAre;
using testing::FakeAudio;

// A client as the activation hands it over.
std::unique_ptr<AudioClient> activated_client(FakeAudio& audio) {
    auto client = activate_process_loopback(audio, 10, LoopbackMode::ExcludeTargetProcessTree,
                                            system_timed_wait());
    EXPECT_TRUE(client);
    return client ? std::move(*client) : nullptr;
}

TEST(ProcessCapture, SetsUpFloatStereo48kEventDriven) {
    FakeAudio audio;
    audio.buffer_frames = 1056;
    auto client = activated_client(audio);
    auto capture = initialize_process_capture(audio, *client);
    ASSERT_TRUE(capture) << capture.error();
    EXPECT_EQ(capture->buffer_frames, 1056u);
    EXPECT_NE(capture->service, nullptr);
    EXPECT_NE(capture->event, nullptr);

    ASSERT_TRUE(audio.initialization.has_value());
    const ClientInitialization& init = *audio.initialization;
    EXPECT_EQ(init.share_mode, 0u);
    EXPECT_EQ(init.stream_flags, 0x80060000u);
    EXPECT_EQ(init.buffer_duration, 0);
    EXPECT_EQ(init.periodicity, 0);
    EXPECT_EQ(init.format, (StreamFormat{3, 2, 48000, 384000, 8, 32, 0}));

    EXPECT_THAT(
        audio.log.only(
            {"Initialize", "GetBufferSize", "GetService", "CreateEventW", "SetEventHandle"}),
        ElementsAre("Initialize", "GetBufferSize", "GetService", "CreateEventW", "SetEventHandle"));
}

// A failing step: its message and what is released before the message returns.
struct StepFailure {
    const char* operation;  // the call that fails (empty: see `service_null`)
    std::uint32_t code;
    bool service_null;
    std::string message;
    std::vector<std::string> after_failure;  // the calls and releases from the failing call on
};

TEST(ProcessCapture, EachStepFailsWithItsContextAndReleasesWhatItGot) {
    const std::vector<StepFailure> cases = {
        {"Initialize",
         0x88890002u,
         false,
         context_error("initialize float32 process capture", 0x88890002u),
         {"Initialize"}},
        {"GetBufferSize",
         0x88890001u,
         false,
         context_error("capture buffer size", 0x88890001u),
         {"GetBufferSize"}},
        {"GetService",
         0x80004002u,
         false,
         context_error("capture service", 0x80004002u),
         {"GetService"}},
        {"", 0, true, context_error("capture service", 0x80004003u), {"GetService"}},
        // CreateEventW reports a last-error number, which becomes an HRESULT.
        {"CreateEventW",
         5,
         false,
         context_error("capture event", 0x80070005u),
         {"CreateEventW", "release capture service"}},
        {"CreateEventW",
         0,
         false,
         context_error("capture event", 0),
         {"CreateEventW", "release capture service"}},
        {"SetEventHandle",
         0x80070006u,
         false,
         context_error("set capture event", 0x80070006u),
         {"SetEventHandle", "CloseHandle(event)", "release capture service"}},
    };
    for (const StepFailure& test : cases) {
        SCOPED_TRACE(test.message);
        FakeAudio audio;
        if (test.service_null) {
            audio.service_null = true;
        } else {
            audio.faults.fail(test.operation, test.code);
        }
        auto client = activated_client(audio);
        const std::size_t before = audio.log.entries().size();
        auto capture = initialize_process_capture(audio, *client);
        ASSERT_FALSE(capture);
        EXPECT_EQ(capture.error(), test.message);
        const auto log = audio.log.entries();
        const std::vector<std::string> tail(log.begin() + static_cast<std::ptrdiff_t>(before),
                                            log.end());
        ASSERT_GE(tail.size(), test.after_failure.size());
        EXPECT_EQ(
            std::vector<std::string>(
                tail.end() - static_cast<std::ptrdiff_t>(test.after_failure.size()), tail.end()),
            test.after_failure);
    }
}

}  // namespace
}  // namespace quorle::host
