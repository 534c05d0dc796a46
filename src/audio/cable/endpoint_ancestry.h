#pragma once
// Ties an audio endpoint to the driver device it hangs under in the device tree.
#include <string_view>

#include "audio/cable/device_tree.h"

namespace quorle::audio {

// How far up from an endpoint's own node its driver device may sit.
inline constexpr int kMaxAncestryLevels = 8;

// The device instance id of an endpoint: "SWD\MMDEVAPI\" followed by its endpoint id.
inline constexpr std::string_view kEndpointInstancePrefix = "SWD\\MMDEVAPI\\";

// True when `device` is one of the first eight ancestors of the endpoint's node (the node
// itself is not compared). An endpoint whose node cannot be located, or whose walk fails on
// the way, does not belong.
[[nodiscard]] bool endpoint_under_device(DeviceTree& tree, std::string_view endpoint_id,
                                         DevNode device);

}  // namespace quorle::audio
