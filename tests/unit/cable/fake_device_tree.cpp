#include "unit/cable/fake_device_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "common/text.h"

namespace quorle::audio::testing {
namespace {

std::u16string to_utf16(std::string_view text) {
    std::u16string units = utf8_to_utf16z(text);
    units.pop_back();
    return units;
}

}  // namespace

std::u16string multi_string(const std::vector<std::string>& ids) {
    std::u16string units;
    for (const std::string& id : ids) {
        units += to_utf16(id);
        units.push_back(u'\0');
    }
    units.push_back(u'\0');
    return units;
}

FakeNode& FakeDeviceTree::add(FakeNode node) {
    return nodes.emplace_back(std::move(node));
}

FakeNode* FakeDeviceTree::find(DevNode node) {
    const auto it =
        std::find_if(nodes.begin(), nodes.end(), [&](const FakeNode& n) { return n.node == node; });
    return it == nodes.end() ? nullptr : &*it;
}

std::u16string FakeDeviceTree::present_list() const {
    if (list_override) return *list_override;
    std::vector<std::string> ids;
    for (const FakeNode& n : nodes) {
        if (n.present) ids.push_back(n.instance_id);
    }
    return multi_string(ids);
}

std::size_t FakeDeviceTree::count(std::string_view prefix) const {
    return static_cast<std::size_t>(std::count_if(calls.begin(), calls.end(), [&](const auto& c) {
        return std::string_view(c).starts_with(prefix);
    }));
}

ConfigRet FakeDeviceTree::present_id_list_size(std::uint32_t& units) {
    calls.push_back("size");
    units = 0;
    if (size_result != kConfigRetSuccess) return size_result;
    units = static_cast<std::uint32_t>(present_list().size());
    return kConfigRetSuccess;
}

ConfigRet FakeDeviceTree::present_id_list(std::span<char16_t> buffer) {
    calls.push_back("list " + std::to_string(buffer.size()));
    if (list_growths > 0) {
        --list_growths;
        return list_failure;
    }
    const std::u16string list = present_list();
    if (list.size() > buffer.size()) return kConfigRetBufferSmall;
    std::copy(list.begin(), list.end(), buffer.begin());
    return kConfigRetSuccess;
}

ConfigRet FakeDeviceTree::locate(std::u16string_view instance_id_z, DevNode& node) {
    node = 0;
    EXPECT_TRUE(!instance_id_z.empty() && instance_id_z.back() == u'\0')
        << "instance ids reach the platform NUL-terminated";
    const std::string id = utf16_to_utf8(instance_id_z.substr(0, instance_id_z.size() - 1));
    calls.push_back("locate " + id);
    for (const FakeNode& n : nodes) {
        if (n.instance_id != id) continue;
        if (n.locate_result != kConfigRetSuccess) return n.locate_result;
        node = n.node;
        return kConfigRetSuccess;
    }
    return kConfigRetNoSuchDevnode;
}

ConfigRet FakeDeviceTree::hardware_ids(DevNode node, std::span<char16_t> buffer,
                                       std::uint32_t& length_bytes) {
    calls.push_back("hardware_ids " + std::to_string(node));
    EXPECT_EQ(length_bytes, buffer.size_bytes());
    const FakeNode* n = find(node);
    if (n == nullptr) return kConfigRetNoSuchDevnode;
    if (n->hardware_ids_result != kConfigRetSuccess) return n->hardware_ids_result;
    const std::size_t needed = n->hardware_ids.size() * sizeof(char16_t);
    if (needed > length_bytes) {
        length_bytes = static_cast<std::uint32_t>(needed);
        return kConfigRetBufferSmall;
    }
    std::memcpy(buffer.data(), n->hardware_ids.data(), needed);
    length_bytes = static_cast<std::uint32_t>(needed);
    return kConfigRetSuccess;
}

ConfigRet FakeDeviceTree::status(DevNode node, NodeStatus& status) {
    calls.push_back("status " + std::to_string(node));
    status = {};
    FakeNode* n = find(node);
    if (n == nullptr) return kConfigRetNoSuchDevnode;
    const StatusReply& reply = n->statuses.at(std::min(n->status_calls, n->statuses.size() - 1));
    ++n->status_calls;
    if (reply.result != kConfigRetSuccess) return reply.result;
    status = reply.status;
    return kConfigRetSuccess;
}

ConfigRet FakeDeviceTree::parent(DevNode node, DevNode& parent) {
    calls.push_back("parent " + std::to_string(node));
    parent = 0;
    const FakeNode* n = find(node);
    if (n == nullptr) return kConfigRetNoSuchDevnode;
    if (n->parent_result != kConfigRetSuccess) return n->parent_result;
    if (!n->parent) return kConfigRetNoSuchDevnode;
    parent = *n->parent;
    return kConfigRetSuccess;
}

}  // namespace quorle::audio::testing
