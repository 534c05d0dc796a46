#pragma once
// A described device tree for tests: nodes with instance ids, parents, hardware-identifier
// lists and status replies, a present id list that can grow between its size query and its
// read, any call failing with any code, and every call recorded in order.
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/cable/device_tree.h"

namespace quorle::audio::testing {

struct StatusReply {
    ConfigRet result = kConfigRetSuccess;
    NodeStatus status;
};

struct FakeNode {
    DevNode node = 0;
    std::string instance_id{};  // UTF-8; what CM_Locate_DevNodeW finds it by
    bool present = true;        // listed in the present device id list
    ConfigRet locate_result = kConfigRetSuccess;
    std::optional<DevNode> parent{};  // none: the parent query fails (a root)
    ConfigRet parent_result = kConfigRetSuccess;
    std::u16string hardware_ids{};  // written as is (a multi-string with its closing NULs)
    ConfigRet hardware_ids_result = kConfigRetSuccess;
    // Replies of successive status queries; the last one repeats.
    std::vector<StatusReply> statuses{{kConfigRetSuccess, {kNodeStarted, 0}}};
    std::size_t status_calls = 0;
};

// A hardware-identifier multi-string: each id NUL-terminated, and one closing NUL.
[[nodiscard]] std::u16string multi_string(const std::vector<std::string>& ids);

class FakeDeviceTree final : public DeviceTree {
  public:
    std::vector<FakeNode> nodes;
    ConfigRet size_result = kConfigRetSuccess;
    // List reads that fail with CR_BUFFER_SMALL because a device arrived after the size query.
    int list_growths = 0;
    ConfigRet list_failure = kConfigRetBufferSmall;
    // When set, the present id list as written, instead of the one made from `nodes`.
    std::optional<std::u16string> list_override;
    // Every call in order: "size", "list <units>", "locate <id>", "hardware_ids <node>",
    // "status <node>", "parent <node>".
    std::vector<std::string> calls;

    FakeNode& add(FakeNode node);
    [[nodiscard]] FakeNode* find(DevNode node);
    [[nodiscard]] std::u16string present_list() const;
    // How many recorded calls start with `prefix`.
    [[nodiscard]] std::size_t count(std::string_view prefix) const;

    ConfigRet present_id_list_size(std::uint32_t& units) override;
    ConfigRet present_id_list(std::span<char16_t> buffer) override;
    ConfigRet locate(std::u16string_view instance_id_z, DevNode& node) override;
    ConfigRet hardware_ids(DevNode node, std::span<char16_t> buffer,
                           std::uint32_t& length_bytes) override;
    ConfigRet status(DevNode node, NodeStatus& status) override;
    ConfigRet parent(DevNode node, DevNode& parent) override;
};

}  // namespace quorle::audio::testing
