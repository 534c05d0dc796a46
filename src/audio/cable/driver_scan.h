#pragma once
// The device tree scan: every present device node whose hardware-identifier list carries one
// of the two cable identities.
#include <string>
#include <string_view>
#include <vector>

#include "audio/cable/device_tree.h"
#include "common/result.h"

namespace quorle::audio {

// One present device node carrying a cable identity.
struct DriverDevice {
    std::string hardware_id;  // as the device reports it, in its own letter case
    DevNode devnode = 0;
    bool started = false;  // at scan time: status read, no problem, DN_STARTED set
    friend bool operator==(const DriverDevice&, const DriverDevice&) = default;
};

inline constexpr int kIdListAttempts = 3;
inline constexpr std::size_t kHardwareIdBufferBytes = 4096;

// True when the status call succeeded, the node has no flagged problem and is started.
[[nodiscard]] bool node_started(ConfigRet result, const NodeStatus& status);

// True when the status call succeeded and the node waits for a restart (the flagged problem
// number or the status bit).
[[nodiscard]] bool node_needs_restart(ConfigRet result, const NodeStatus& status);

// The list of present device instance ids: a size query, then the list into a buffer of
// exactly that size. A list that changed in between fails the list call; the fetch then
// starts over, at most three attempts in all.
[[nodiscard]] Result<std::u16string> fetch_present_device_ids(DeviceTree& tree);

// Scans every id of `id_list` in order and returns one DriverDevice per hardware identifier
// that matches a cable identity (a device listing both identities, or one twice, yields one
// per entry). Devices that cannot be located or whose identifiers cannot be read are skipped.
[[nodiscard]] std::vector<DriverDevice> scan_driver_devices(DeviceTree& tree,
                                                            std::u16string_view id_list);

}  // namespace quorle::audio
