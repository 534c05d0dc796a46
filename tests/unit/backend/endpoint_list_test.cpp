#include "audio/backend/endpoint_list.h"

#include <gtest/gtest.h>

#include "audio/backend/audio_context.h"
#include "backend_fakes.h"

namespace quorle::audio {
namespace {

using testing::CallLog;
using testing::CapturedStream;
using testing::EnumerateAnswer;
using testing::FakeCubebApi;
using testing::FakeDevice;

// A failing write of the backend line: must not fail the start.
class BrokenStream final : public OutputStream {
  public:
    Status write(std::string_view) override { return fail("write failed"); }
};

TEST(OpenContext, AsksForQuorleOnWasapiAndWritesTheBackendLine) {
    CallLog log;
    FakeCubebApi api(log);
    api.backend = "pulse";
    CapturedStream err;
    Result<OpenedContext> opened = open_context(api, err);
    ASSERT_TRUE(opened) << opened.error();
    EXPECT_EQ(opened->backend_id, "pulse");
    EXPECT_TRUE(opened->context.is_open());
    EXPECT_EQ(err.text(), "QUORLE_AUDIO backend=pulse binding=0.38.0\n");
    EXPECT_EQ(log.entries(),
              (std::vector<std::string>{"cubeb_init Quorle wasapi", "cubeb_get_backend_id"}));
    opened->context.reset();
    EXPECT_EQ(api.live_contexts(), 0u);
    EXPECT_EQ(log.entries().back(), "cubeb_destroy");
}

TEST(OpenContext, InitFailureNamesTheErrorAndWritesNothing) {
    const struct {
        int code;
        const char* message;
    } rows[] = {
        {-1, "cubeb context: Error"},
        {-2, "cubeb context: InvalidFormat"},
        {-3, "cubeb context: InvalidParameter"},
        {-4, "cubeb context: NotSupported"},
        {-5, "cubeb context: DeviceUnavailable"},
        {-6, "cubeb context: Error"},
        {-1000, "cubeb context: Error"},
        {7, "cubeb context: Error"},
    };
    for (const auto& row : rows) {
        CallLog log;
        FakeCubebApi api(log);
        api.init_results = {row.code};
        CapturedStream err;
        Result<OpenedContext> opened = open_context(api, err);
        ASSERT_FALSE(opened) << row.code;
        EXPECT_EQ(opened.error(), row.message);
        EXPECT_EQ(err.text(), "");
        EXPECT_EQ(log.entries(), std::vector<std::string>{"cubeb_init Quorle wasapi"});
    }
}

TEST(OpenContext, ABrokenStandardErrorDoesNotFailTheStart) {
    CallLog log;
    FakeCubebApi api(log);
    BrokenStream err;
    Result<OpenedContext> opened = open_context(api, err);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->backend_id, "wasapi");
}

TEST(ConvertDevice, ChecksAndConvertsEachField) {
    const std::string kBad =
        "A\xff"
        "B\xe2\x82";  // a stray byte and a cut sequence
    const struct {
        const char* what;
        FakeDevice device;
        const char* error;  // null: success
        AudioEndpoint expected;
    } rows[] = {
        {"plain",
         {"{0.0.1}", "Speakers", 2, 1, 2, 48000},
         nullptr,
         {"{0.0.1}", "Speakers", 48000, 2, EndpointDirection::Render, true}},
        {"absent name is empty",
         {"id", std::nullopt, 2, 0, 1, 16000},
         nullptr,
         {"id", "", 16000, 1, EndpointDirection::Render, false}},
        {"invalid UTF-8 each becomes U+FFFD",
         {kBad, kBad, 2, 0, 2, 44100},
         nullptr,
         {"A\xef\xbf\xbd"
          "B\xef\xbf\xbd",
          "A\xef\xbf\xbd"
          "B\xef\xbf\xbd",
          44100, 2, EndpointDirection::Render, false}},
        {"65535 channels fit",
         {"id", "n", 2, 0, 65535, 0},
         nullptr,
         {"id", "n", 0, 65535, EndpointDirection::Render, false}},
        {"voice bit alone is not default",
         {"id", "n", 2, 0x02, 2, 0},
         nullptr,
         {"id", "n", 0, 2, EndpointDirection::Render, false}},
        {"all preference bits",
         {"id", "n", 2, 0x0F, 2, 0},
         nullptr,
         {"id", "n", 0, 2, EndpointDirection::Render, true}},
        {"65536 channels", {"id", "n", 2, 0, 65536, 0}, "invalid channel count", {}},
        {"absent id", {std::nullopt, "n", 2, 0, 2, 0}, "device has no stable identifier", {}},
        {"empty id", {"", "n", 2, 0, 2, 0}, "device has no stable identifier", {}},
        {"empty id wins over channels",
         {"", "n", 2, 0, 70000, 0},
         "device has no stable identifier",
         {}},
    };
    for (const auto& row : rows) {
        const FakeDevice& d = row.device;
        const CubebDeviceFields fields{d.id ? d.id->c_str() : nullptr,
                                       d.name ? d.name->c_str() : nullptr,
                                       d.state,
                                       d.preferred,
                                       d.max_channels,
                                       d.default_rate};
        const Result<AudioEndpoint> endpoint = convert_device(fields, EndpointDirection::Render);
        if (row.error == nullptr) {
            ASSERT_TRUE(endpoint) << row.what << ": " << endpoint.error();
            EXPECT_EQ(*endpoint, row.expected) << row.what;
        } else {
            ASSERT_FALSE(endpoint) << row.what;
            EXPECT_EQ(endpoint.error(), row.error) << row.what;
        }
    }
}

class EndpointList : public ::testing::Test {
  protected:
    CallLog log;
    FakeCubebApi api{log};
    CapturedStream err;
    CubebContext context;

    void SetUp() override {
        Result<OpenedContext> opened = open_context(api, err);
        ASSERT_TRUE(opened);
        context = std::move(opened->context);
    }

    // Lists on the open context; the log then holds only the list's calls.
    Result<std::vector<AudioEndpoint>> list(EndpointDirection direction) {
        log.clear();
        auto result = list_endpoints_on_context(context, direction);
        EXPECT_EQ(api.live_collections(), 0u);
        return result;
    }
};

TEST_F(EndpointList, KeepsEnabledDevicesInCollectionOrderAndFreesTheCollection) {
    api.devices[1] = {
        {"mic", "Mic", kCubebDeviceStateEnabled, 1, 1, 16000},
        {std::nullopt, std::nullopt, kCubebDeviceStateUnplugged, 0, 99999, 0},
        {"", "", kCubebDeviceStateDisabled, 0, 2, 0},
        {"line", "Line", kCubebDeviceStateEnabled, 0, 2, 44100},
    };
    const auto endpoints = list(EndpointDirection::Capture);
    ASSERT_TRUE(endpoints) << endpoints.error();
    EXPECT_EQ(*endpoints, (std::vector<AudioEndpoint>{
                              {"mic", "Mic", 16000, 1, EndpointDirection::Capture, true},
                              {"line", "Line", 44100, 2, EndpointDirection::Capture, false},
                          }));
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"cubeb_enumerate_devices 1",
                                                       "cubeb_device_collection_destroy"}));
}

TEST_F(EndpointList, AskForTheDeviceTypeOfTheDirection) {
    api.devices[2] = {{"spk", "Speakers", kCubebDeviceStateEnabled, 0, 2, 48000}};
    const auto endpoints = list(EndpointDirection::Render);
    ASSERT_TRUE(endpoints);
    ASSERT_EQ(endpoints->size(), 1u);
    EXPECT_EQ((*endpoints)[0].direction, EndpointDirection::Render);
    EXPECT_EQ(log.entries().front(), "cubeb_enumerate_devices 2");
}

TEST_F(EndpointList, AnEmptyCollectionIsAnEmptyList) {
    const auto endpoints = list(EndpointDirection::Capture);
    ASSERT_TRUE(endpoints);
    EXPECT_TRUE(endpoints->empty());
    EXPECT_EQ(log.count("cubeb_device_collection_destroy"), 1u);
}

TEST_F(EndpointList, OneBadEnabledDeviceFailsTheWholeListAndStillFreesTheCollection) {
    api.devices[2] = {
        {"ok", "Fine", kCubebDeviceStateEnabled, 0, 2, 48000},
        {"", "Broken", kCubebDeviceStateEnabled, 0, 2, 48000},
        {"later", "Also fine", kCubebDeviceStateEnabled, 0, 2, 48000},
    };
    const auto endpoints = list(EndpointDirection::Render);
    ASSERT_FALSE(endpoints);
    EXPECT_EQ(endpoints.error(), "device has no stable identifier");
    EXPECT_EQ(log.entries(), (std::vector<std::string>{"cubeb_enumerate_devices 2",
                                                       "cubeb_device_collection_destroy"}));
}

TEST_F(EndpointList, EnumerateFailureNamesTheErrorAndFreesNothing) {
    const struct {
        int code;
        const char* message;
    } rows[] = {
        {-1, "cubeb enumerate: Error"},
        {-2, "cubeb enumerate: InvalidFormat"},
        {-3, "cubeb enumerate: InvalidParameter"},
        {-4, "cubeb enumerate: NotSupported"},
        {-5, "cubeb enumerate: DeviceUnavailable"},
        {-42, "cubeb enumerate: Error"},
    };
    for (const auto& row : rows) {
        api.enumerate_answers[1] = {EnumerateAnswer{row.code, {}}};
        const auto endpoints = list(EndpointDirection::Capture);
        ASSERT_FALSE(endpoints);
        EXPECT_EQ(endpoints.error(), row.message);
        EXPECT_EQ(log.entries(), std::vector<std::string>{"cubeb_enumerate_devices 1"});
    }
}

TEST_F(EndpointList, AFailedListLeavesTheContextUsable) {
    api.enumerate_answers[2] = {EnumerateAnswer{kCubebErrorDeviceUnavailable, {}}};
    api.devices[2] = {{"spk", "Speakers", kCubebDeviceStateEnabled, 1, 2, 48000}};
    EXPECT_FALSE(list(EndpointDirection::Render));
    const auto again = list(EndpointDirection::Render);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->size(), 1u);
}

}  // namespace
}  // namespace quorle::audio
