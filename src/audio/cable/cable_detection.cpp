#include "audio/cable/cable_detection.h"

#include "audio/cable/cable_identity.h"
#include "audio/cable/cable_probe.h"
#include "audio/cable/driver_scan.h"

namespace quorle::audio {

Result<CableReport> detect_cables(DeviceTree& tree, FormFactorReader& form_factors,
                                  const EndpointSource& endpoints) {
    QUORLE_ASSIGN_OR_RETURN(const std::u16string id_list, fetch_present_device_ids(tree));
    const std::vector<DriverDevice> devices = scan_driver_devices(tree, id_list);
    QUORLE_ASSIGN_OR_RETURN(std::vector<AudioEndpoint> list, endpoints());

    CableReport report;
    report.vb_cable = probe_cable(kVbCableIdentity, devices, list, tree, form_factors);
    report.hifi_cable = probe_cable(kHifiCableIdentity, devices, list, tree, form_factors);
    report.endpoints = std::move(list);
    return report;
}

}  // namespace quorle::audio
