// The Linux layer: no Windows device tree and no Core Audio. Detection must stop at its
// first step with its own message and claim nothing about any cable.
#include <gtest/gtest.h>

#include "audio/cable/cable_detection.h"
#include "audio/cable/endpoint_form_factor.h"
#include "audio/cable/system_cable_platform.h"

namespace quorle::audio {
namespace {

TEST(AbsentPlatform, DetectionStopsAtTheDeviceIdList) {
    const auto tree = system_device_tree();
    const auto form_factors = system_form_factor_reader();
    int endpoint_requests = 0;
    const Result<CableReport> report = detect_cables(*tree, *form_factors, [&] {
        ++endpoint_requests;
        return Result<std::vector<AudioEndpoint>>(std::vector<AudioEndpoint>{});
    });
    ASSERT_FALSE(report.has_value());
    EXPECT_EQ(report.error(), "Cannot enumerate Windows audio driver identities");
    EXPECT_EQ(endpoint_requests, 0);
}

TEST(AbsentPlatform, EveryCallFailsAndNoEndpointIsSpeakers) {
    const auto tree = system_device_tree();
    std::uint32_t units = 7;
    EXPECT_NE(tree->present_id_list_size(units), kConfigRetSuccess);
    EXPECT_EQ(units, 0u);
    DevNode node = 7;
    EXPECT_NE(tree->locate(std::u16string_view(u"ROOT\\A", 7), node), kConfigRetSuccess);
    EXPECT_EQ(node, 0u);
    NodeStatus status{kNodeStarted, 1};
    EXPECT_NE(tree->status(1, status), kConfigRetSuccess);
    EXPECT_EQ(status.status, 0u);
    DevNode parent = 7;
    EXPECT_NE(tree->parent(1, parent), kConfigRetSuccess);
    EXPECT_EQ(parent, 0u);

    const auto form_factors = system_form_factor_reader();
    EXPECT_FALSE(endpoint_is_speakers(*form_factors, "{0.0.0.00000000}.{x}"));
}

}  // namespace
}  // namespace quorle::audio
