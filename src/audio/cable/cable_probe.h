#pragma once
// The verdict for one cable, drawn from the driver devices of the scan and the endpoint list.
#include <span>
#include <string_view>

#include "audio/backend/audio_endpoint.h"
#include "audio/cable/cable_state.h"
#include "audio/cable/device_tree.h"
#include "audio/cable/driver_scan.h"
#include "audio/cable/form_factor_reader.h"

namespace quorle::audio {

inline constexpr std::string_view kDuplicateDevicesMessage =
    "Duplicate driver devices; check Device Manager";
inline constexpr std::string_view kNotStartedMessage =
    "Driver is not started; check Device Manager and restart Windows";
inline constexpr std::string_view kAmbiguousEndpointsMessage =
    "Ambiguous cable endpoints; check Device Manager";

// "Hi-Fi Cable sample rates differ (<render> / <capture> Hz); set both ends to stereo 48 kHz
// in mmsys.cpl"
[[nodiscard]] std::string hifi_rate_message(std::uint32_t render_rate, std::uint32_t capture_rate);

// Probes the cable with hardware identity `identity` (kVbCableIdentity or
// kHifiCableIdentity). The device's status is read again here, and the endpoints' ancestry
// (and, for VB-CABLE playback endpoints, their form factor) is checked on the calling thread.
[[nodiscard]] CableProbe probe_cable(std::string_view identity,
                                     std::span<const DriverDevice> devices,
                                     std::span<const AudioEndpoint> endpoints, DeviceTree& tree,
                                     FormFactorReader& form_factors);

}  // namespace quorle::audio
