#pragma once
// Turning cubeb's device records into the module's endpoint records.
#include <vector>

#include "audio/backend/audio_endpoint.h"
#include "audio/backend/cubeb_api.h"
#include "audio/backend/cubeb_handles.h"
#include "common/result.h"

namespace quorle::audio {

// cubeb device type for a direction: 1 (input) for Capture, 2 (output) for Render.
[[nodiscard]] int cubeb_device_type(EndpointDirection direction);

// Converts one enabled device. Texts become UTF-8 with every invalid sequence replaced by
// U+FFFD. Fails with "device has no stable identifier" (identifier absent or empty) or
// "invalid channel count" (more than 65535 channels). The state is not looked at here.
[[nodiscard]] Result<AudioEndpoint> convert_device(const CubebDeviceFields& device,
                                                   EndpointDirection direction);

// Enumerates the devices of one direction on `context` and converts the enabled ones, in the
// collection's order. Devices that are not enabled are skipped before any check. The first
// device that fails to convert fails the whole list. The collection is freed on every path.
// Fails with "cubeb enumerate: <error name>" or a conversion message.
[[nodiscard]] Result<std::vector<AudioEndpoint>> list_endpoints_on_context(
    const CubebContext& context, EndpointDirection direction);

}  // namespace quorle::audio
