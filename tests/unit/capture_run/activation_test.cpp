#include "audio_host/capture_run/activation.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/platform_error.h"
#include "fake_capture_platform.h"

namespace quorle::host {
namespace {

using namespace std::chrono_literals;
using testing::ActivationScript;
using testing::Completion;
using ::testing::ElementsAre;
using testing::FakeAudio;
using testing::FakeTime;

constexpr HResult hr(std::uint32_t code) {
    return static_cast<HResult>(code);
}

TEST(ActivationParameters, BlockIsTypeTargetModeLittleEndian) {
    EXPECT_EQ(activation_parameters(4321, LoopbackMode::ExcludeTargetProcessTree),
              (ActivationParameters{0x01, 0, 0, 0, 0xE1, 0x10, 0, 0, 0x01, 0, 0, 0}));
    EXPECT_EQ(activation_parameters(4321, LoopbackMode::IncludeTargetProcessTree),
              (ActivationParameters{0x01, 0, 0, 0, 0xE1, 0x10, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(activation_parameters(0xFFFFFFFEu, LoopbackMode::IncludeTargetProcessTree),
              (ActivationParameters{0x01, 0, 0, 0, 0xFE, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}));
}

TEST(Activation, HandsTheBlockToThePlatform) {
    FakeAudio audio;
    FakeTime time;
    auto client =
        activate_process_loopback(audio, 4321, LoopbackMode::IncludeTargetProcessTree, time);
    ASSERT_TRUE(client) << client.error();
    EXPECT_EQ(audio.parameters,
              activation_parameters(4321, LoopbackMode::IncludeTargetProcessTree));
}

// Every rule of the completion, with the message it gives (empty: an audio client).
struct OutcomeCase {
    const char* name;
    std::function<void(ActivationScript&)> script;
    std::string message;
};

TEST(Activation, CompletionOutcomeRules) {
    const std::uint32_t not_found = 0x80070002u;
    const std::vector<OutcomeCase> cases = {
        {"success", [](ActivationScript&) {}, ""},
        {"no operation in the completion",
         [](ActivationScript& s) { s.completes_without_operation = true; },
         "activation operation missing"},
        {"GetActivateResult fails",
         [](ActivationScript& s) { s.get_result_call = hr(0x8000FFFFu); },
         context_error("activation result", 0x8000FFFFu)},
        {"activation failed", [](ActivationScript& s) { s.activation_result = hr(not_found); },
         context_error("process-loopback activation (requires supported Windows build)",
                       not_found)},
        {"no activated interface", [](ActivationScript& s) { s.activated_interface = false; },
         "activated interface missing"},
        {"activated interface is no audio client",
         [](ActivationScript& s) { s.query_result = kENoInterface; },
         context_error("audio client", 0x80004002u)},
        {"audio client query succeeds with null",
         [](ActivationScript& s) { s.query_gives_null = true; },
         context_error("audio client", 0x80004003u)},
    };
    for (const OutcomeCase& test : cases) {
        SCOPED_TRACE(test.name);
        FakeTime time;
        {
            FakeAudio audio(&time);
            test.script(audio.activation);
            auto client =
                activate_process_loopback(audio, 10, LoopbackMode::ExcludeTargetProcessTree, time);
            if (test.message.empty()) {
                ASSERT_TRUE(client) << client.error();
                EXPECT_NE(*client, nullptr);
            } else {
                ASSERT_FALSE(client);
                EXPECT_EQ(client.error(), test.message);
            }
            EXPECT_EQ(time.elapsed(), 0s) << "an outcome that is there is taken at once";
            // The activated interface never outlives the completion; the operation and
            // the caller's handler reference go once the wait is over.
            if (audio.log.contains("QueryInterface(IAudioClient)")) {
                EXPECT_EQ(
                    audio.log.only({"QueryInterface(IAudioClient)", "release activated interface",
                                    "release operation"}),
                    (std::vector<std::string>{"QueryInterface(IAudioClient)",
                                              "release activated interface", "release operation"}));
            }
            EXPECT_EQ(audio.log.only({"release operation", "release handler", "handler destroyed"}),
                      (std::vector<std::string>{"release operation", "release handler",
                                                "handler destroyed"}));
            client = fail("dropped");
            EXPECT_EQ(audio.live_clients.load(), 0);
            EXPECT_EQ(audio.live_handlers.load(), 0);
        }
    }
}

// A failed activation is named after what the platform reaches: a message that sends a Linux
// user looking for a Windows build would mislead.
TEST(Activation, FailedActivationNamesWhatThePlatformReaches) {
    const struct {
        ActivationService service;
        const char* context;
    } rows[] = {
        {ActivationService::WindowsProcessLoopback,
         "process-loopback activation (requires supported Windows build)"},
        {ActivationService::AudioServerConnection, "audio server connection (PulseAudio protocol)"},
    };
    for (const auto& row : rows) {
        FakeTime time;
        FakeAudio audio(&time);
        audio.service = row.service;
        audio.activation.activation_result = hr(0xA0500006u);
        auto client =
            activate_process_loopback(audio, 10, LoopbackMode::ExcludeTargetProcessTree, time);
        ASSERT_FALSE(client);
        EXPECT_EQ(client.error(), context_error(row.context, 0xA0500006u));
    }
}

TEST(Activation, FailedAsynchronousCall) {
    FakeTime time;
    FakeAudio audio(&time);
    audio.faults.fail("ActivateAudioInterfaceAsync", 0x80070005u);
    auto client =
        activate_process_loopback(audio, 10, LoopbackMode::ExcludeTargetProcessTree, time);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error(), context_error("activate process loopback", 0x80070005u));
    EXPECT_THAT(audio.log.entries(),
                ElementsAre("ActivateAudioInterfaceAsync", "release handler", "handler destroyed"));
    EXPECT_TRUE(time.waits().empty()) << "no wait after a failed call";
}

TEST(Activation, SuccessWithoutOperationObjectIsAFailureWithCodeZero) {
    FakeTime time;
    FakeAudio audio(&time);
    audio.activation.no_operation_object = true;
    audio.activation.when = Completion::Never;
    auto client =
        activate_process_loopback(audio, 10, LoopbackMode::ExcludeTargetProcessTree, time);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error(), context_error("activate process loopback", 0));
    EXPECT_TRUE(time.waits().empty());
}

// When the platform completes, measured from the start of the wait.
struct TimingCase {
    const char* name;
    Completion when;
    std::chrono::nanoseconds at;
    bool taken;
    std::chrono::nanoseconds waited;
};

TEST(Activation, TenSecondLimit) {
    const std::vector<TimingCase> cases = {
        {"at once", Completion::At, 0s, true, 0s},
        {"late but within the limit", Completion::At, 9999ms, true, 9999ms},
        {"at the limit", Completion::At, 10s, true, 10s},
        {"just after the limit", Completion::At, 10001ms, false, 10s},
        {"never", Completion::Never, 0s, false, 10s},
    };
    for (const TimingCase& test : cases) {
        SCOPED_TRACE(test.name);
        FakeTime time;
        FakeAudio audio(&time);
        audio.activation.when = test.when;
        audio.activation.at = test.at;
        auto client =
            activate_process_loopback(audio, 10, LoopbackMode::ExcludeTargetProcessTree, time);
        EXPECT_EQ(time.elapsed(), test.waited);
        if (test.taken) {
            EXPECT_TRUE(client) << client.error();
        } else {
            ASSERT_FALSE(client);
            EXPECT_EQ(client.error(), "process-loopback activation timed out");
        }
    }
}

TEST(Activation, LateOutcomeIsReleasedByTheCompletion) {
    FakeTime time;
    FakeAudio audio(&time);
    audio.activation.when = Completion::At;
    audio.activation.at = 12s;
    auto client =
        activate_process_loopback(audio, 10, LoopbackMode::ExcludeTargetProcessTree, time);
    ASSERT_FALSE(client);
    EXPECT_EQ(client.error(), "process-loopback activation timed out");
    EXPECT_EQ(audio.live_handlers.load(), 1) << "the platform still holds the handler";

    time.run_until(12s);  // the platform completes after the caller gave up
    EXPECT_EQ(audio.live_clients.load(), 0);
    EXPECT_EQ(audio.live_handlers.load(), 0);
    EXPECT_EQ(audio.log.only({"release operation", "release handler", "ActivateCompleted",
                              "release audio client", "handler destroyed"}),
              (std::vector<std::string>{"release operation", "release handler", "ActivateCompleted",
                                        "release audio client", "handler destroyed"}));
}

TEST(Activation, CompletionOnAnotherThreadInRealTime) {
    FakeAudio audio;
    audio.activation.when = Completion::OnThread;
    auto client = activate_process_loopback(audio, 10, LoopbackMode::IncludeTargetProcessTree,
                                            system_timed_wait());
    audio.join_completion();
    ASSERT_TRUE(client) << client.error();
    client = fail("dropped");
    EXPECT_EQ(audio.live_clients.load(), 0);
    EXPECT_EQ(audio.live_handlers.load(), 0);
}

}  // namespace
}  // namespace quorle::host
