#include "audio/cable/endpoint_ancestry.h"

#include <string>

#include "common/text.h"

namespace quorle::audio {

bool endpoint_under_device(DeviceTree& tree, std::string_view endpoint_id, DevNode device) {
    std::string instance_id(kEndpointInstancePrefix);
    instance_id += endpoint_id;
    DevNode node = 0;
    if (tree.locate(utf8_to_utf16z(instance_id), node) != kConfigRetSuccess) return false;
    for (int level = 0; level < kMaxAncestryLevels; ++level) {
        DevNode parent = 0;
        if (tree.parent(node, parent) != kConfigRetSuccess) return false;
        if (parent == device) return true;
        node = parent;
    }
    return false;
}

}  // namespace quorle::audio
