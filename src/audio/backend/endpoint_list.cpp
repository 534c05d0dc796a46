#include "audio/backend/endpoint_list.h"

#include <string>

#include "audio/backend/audio_context.h"
#include "common/text.h"

namespace quorle::audio {

int cubeb_device_type(EndpointDirection direction) {
    return direction == EndpointDirection::Capture ? kCubebDeviceTypeInput : kCubebDeviceTypeOutput;
}

Result<AudioEndpoint> convert_device(const CubebDeviceFields& device, EndpointDirection direction) {
    if (device.device_id == nullptr)
        return fail("device has no stable identifier");
    std::string id = bytes_to_utf8(device.device_id);
    if (id.empty())
        return fail("device has no stable identifier");
    std::string name =
        device.friendly_name == nullptr ? std::string() : bytes_to_utf8(device.friendly_name);
    if (device.max_channels > 0xFFFFu)
        return fail("invalid channel count");

    AudioEndpoint endpoint;
    endpoint.id = std::move(id);
    endpoint.name = std::move(name);
    endpoint.default_rate = device.default_rate;
    endpoint.channels = static_cast<std::uint16_t>(device.max_channels);
    endpoint.direction = direction;
    endpoint.is_default = (device.preferred & kCubebDevicePrefMultimedia) != 0;
    return endpoint;
}

Result<std::vector<AudioEndpoint>> list_endpoints_on_context(const CubebContext& context,
                                                             EndpointDirection direction) {
    CubebCollectionHandle filled;
    const int result =
        context.api().enumerate_devices(context.get(), cubeb_device_type(direction), &filled);
    if (result != kCubebOk) {
        return fail("cubeb enumerate: " + std::string(cubeb_error_name(result)));
    }
    const CubebDeviceCollection collection(context, filled);

    std::vector<AudioEndpoint> endpoints;
    for (std::size_t i = 0; i < collection.size(); ++i) {
        const CubebDeviceFields device = collection.at(i);
        if (device.state != kCubebDeviceStateEnabled)
            continue;
        QUORLE_ASSIGN_OR_RETURN(AudioEndpoint endpoint, convert_device(device, direction));
        endpoints.push_back(std::move(endpoint));
    }
    return endpoints;
}

}  // namespace quorle::audio
