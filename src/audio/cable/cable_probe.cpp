#include "audio/cable/cable_probe.h"

#include <algorithm>
#include <string>
#include <vector>

#include "audio/cable/cable_identity.h"
#include "audio/cable/endpoint_ancestry.h"
#include "audio/cable/endpoint_form_factor.h"

namespace quorle::audio {
namespace {

constexpr std::uint16_t kStereo = 2;

// The devices carrying `identity`, one per device node: a node that lists the identity twice
// (in any letter case) is still one device, not a duplicate.
std::vector<const DriverDevice*> devices_with_identity(std::span<const DriverDevice> devices,
                                                       std::string_view identity) {
    std::vector<const DriverDevice*> selected;
    for (const DriverDevice& device : devices) {
        if (!matches_cable_identity(device.hardware_id, identity)) continue;
        const bool seen = std::any_of(selected.begin(), selected.end(), [&](const auto* other) {
            return other->devnode == device.devnode;
        });
        if (!seen) selected.push_back(&device);
    }
    return selected;
}

// Whether `endpoint` belongs to the cable's device: it hangs under it, and a VB-CABLE
// playback endpoint must also present itself as speakers (the cable's other playback
// endpoints are not the one to play into).
bool belongs_to_cable(const AudioEndpoint& endpoint, std::string_view identity, DevNode device,
                      DeviceTree& tree, FormFactorReader& form_factors) {
    if (!endpoint_under_device(tree, endpoint.id, device)) return false;
    if (matches_cable_identity(identity, kVbCableIdentity) &&
        endpoint.direction == EndpointDirection::Render) {
        return endpoint_is_speakers(form_factors, endpoint.id);
    }
    return true;
}

}  // namespace

std::string hifi_rate_message(std::uint32_t render_rate, std::uint32_t capture_rate) {
    return "Hi-Fi Cable sample rates differ (" + std::to_string(render_rate) + " / " +
           std::to_string(capture_rate) + " Hz); set both ends to stereo 48 kHz in mmsys.cpl";
}

CableProbe probe_cable(std::string_view identity, std::span<const DriverDevice> devices,
                       std::span<const AudioEndpoint> endpoints, DeviceTree& tree,
                       FormFactorReader& form_factors) {
    const std::vector<const DriverDevice*> selected = devices_with_identity(devices, identity);
    if (selected.empty()) return {NotInstalled{}, {}, {}};
    if (selected.size() > 1) return {Problem{std::string(kDuplicateDevicesMessage)}, {}, {}};
    const DriverDevice& device = *selected.front();

    // The restart verdict comes from the node as it is now; if that read fails, the scan's
    // started flag decides below.
    NodeStatus status;
    if (node_needs_restart(tree.status(device.devnode, status), status)) {
        return {RestartRequired{}, {}, {}};
    }
    if (!device.started) return {Problem{std::string(kNotStartedMessage)}, {}, {}};

    std::vector<const AudioEndpoint*> playback;
    std::vector<const AudioEndpoint*> recording;
    for (const AudioEndpoint& endpoint : endpoints) {
        if (!belongs_to_cable(endpoint, identity, device.devnode, tree, form_factors)) continue;
        if (endpoint.channels != kStereo) continue;
        (endpoint.direction == EndpointDirection::Render ? playback : recording)
            .push_back(&endpoint);
    }

    if (playback.empty() || recording.empty()) return {EndpointsMissing{}, {}, {}};
    if (playback.size() > 1 || recording.size() > 1) {
        return {Problem{std::string(kAmbiguousEndpointsMessage)}, {}, {}};
    }
    const AudioEndpoint& render = *playback.front();
    const AudioEndpoint& capture = *recording.front();
    if (matches_cable_identity(identity, kHifiCableIdentity) &&
        (render.default_rate == 0 || render.default_rate != capture.default_rate)) {
        return {Problem{hifi_rate_message(render.default_rate, capture.default_rate)}, render.id,
                capture.id};
    }
    return {Ready{}, render.id, capture.id};
}

}  // namespace quorle::audio
