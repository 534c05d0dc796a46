#include "audio/cable/system_cable_detection.h"

#include <memory>

#include "audio/backend/audio_backend.h"
#include "audio/cable/cable_detection.h"
#include "audio/cable/system_cable_platform.h"

namespace quorle::audio {

Result<CableReport> detect_cables() {
    const std::unique_ptr<DeviceTree> tree = system_device_tree();
    const std::unique_ptr<FormFactorReader> form_factors = system_form_factor_reader();
    const EndpointSource endpoints = [] { return list_audio_endpoints(); };
    return detect_cables(*tree, *form_factors, endpoints);
}

}  // namespace quorle::audio
