#pragma once
// Cable detection: which of the two virtual cables is present, healthy and exposing one
// usable stereo endpoint per side, and which endpoints those are. Reads only; changes
// nothing on the system.
#include <functional>
#include <vector>

#include "audio/backend/audio_endpoint.h"
#include "audio/cable/cable_state.h"
#include "audio/cable/device_tree.h"
#include "audio/cable/form_factor_reader.h"
#include "common/result.h"

namespace quorle::audio {

// Where the endpoint list comes from: all enabled recording endpoints, then all enabled
// playback endpoints, or the failure message of the audio backend.
using EndpointSource = std::function<Result<std::vector<AudioEndpoint>>()>;

// Scans the device tree for the cables' driver devices, fetches the endpoint list (also when
// no device was found) and probes VB-CABLE, then Hi-Fi Cable. Runs on the calling thread,
// which blocks while `endpoints` answers. Fails as a whole only when the device id list
// cannot be read ("Cannot enumerate Windows audio driver identities", "Audio devices changed
// during detection; refresh again") or the endpoint list fails (its message, unchanged);
// everything else is a per-cable state inside the report.
[[nodiscard]] Result<CableReport> detect_cables(DeviceTree& tree, FormFactorReader& form_factors,
                                                const EndpointSource& endpoints);

}  // namespace quorle::audio
