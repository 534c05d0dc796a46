// Device instance id lists and hardware-identifier lists from arbitrary bytes: cutting them
// must stay inside the buffer, and the scan must only ever report real cable identities.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/cable/cable_identity.h"
#include "audio/cable/driver_scan.h"
#include "audio/cable/multi_string.h"

namespace {

using namespace quorle::audio;

// A tree in which every listed id is a device whose hardware-identifier list is `ids`.
class FuzzTree final : public DeviceTree {
  public:
    std::u16string list;
    std::u16string ids;
    std::uint32_t status_word = 0;

    ConfigRet present_id_list_size(std::uint32_t& units) override {
        units = static_cast<std::uint32_t>(list.size());
        return kConfigRetSuccess;
    }
    ConfigRet present_id_list(std::span<char16_t> buffer) override {
        if (buffer.size() < list.size()) return kConfigRetBufferSmall;
        std::copy(list.begin(), list.end(), buffer.begin());
        return kConfigRetSuccess;
    }
    ConfigRet locate(std::u16string_view instance_id_z, DevNode& node) override {
        if (instance_id_z.empty() || instance_id_z.back() != u'\0') std::abort();
        node = static_cast<DevNode>(instance_id_z.size());
        return kConfigRetSuccess;
    }
    ConfigRet hardware_ids(DevNode, std::span<char16_t> buffer,
                           std::uint32_t& length_bytes) override {
        if (ids.size() > buffer.size()) return kConfigRetBufferSmall;
        std::copy(ids.begin(), ids.end(), buffer.begin());
        length_bytes = static_cast<std::uint32_t>(ids.size() * sizeof(char16_t));
        return kConfigRetSuccess;
    }
    ConfigRet status(DevNode, NodeStatus& status) override {
        status = {status_word, 0};
        return kConfigRetSuccess;
    }
    ConfigRet parent(DevNode, DevNode& parent) override {
        parent = 0;
        return kConfigRetNoSuchDevnode;
    }
};

std::u16string units_of(const std::uint8_t* data, std::size_t size) {
    std::u16string units(size / 2, u'\0');
    std::memcpy(units.data(), data, units.size() * 2);
    return units;
}

void check_pieces(std::u16string_view buffer) {
    std::size_t end = 0;
    for (const std::u16string_view piece : split_multi_string(buffer)) {
        if (piece.empty() || piece.find(u'\0') != std::u16string_view::npos) std::abort();
        const auto offset = static_cast<std::size_t>(piece.data() - buffer.data());
        if (offset < end || offset + piece.size() > buffer.size()) std::abort();
        end = offset + piece.size();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    // The first byte splits the rest into the device id list and the identifier list.
    const std::size_t split = std::min<std::size_t>(size - 1, std::size_t{data[0]} * 2);
    FuzzTree tree;
    tree.status_word = data[1];
    tree.list = units_of(data + 1, split);
    tree.ids = units_of(data + 1 + split, size - 1 - split);
    check_pieces(tree.list);
    check_pieces(tree.ids);

    const auto list = fetch_present_device_ids(tree);
    if (!list) std::abort();
    for (const DriverDevice& device : scan_driver_devices(tree, *list)) {
        if (device.hardware_id.size() != 13 || !is_cable_identity(device.hardware_id)) std::abort();
        if (device.started != ((tree.status_word & kNodeStarted) != 0)) std::abort();
    }
    return 0;
}
