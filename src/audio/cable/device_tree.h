#pragma once
// The Windows device tree as cable detection reads it: the Configuration Manager calls it
// needs, each passing back the raw CONFIGRET of the call. No call builds a message; the
// detection logic decides what every result means.
//
// Every output is set to zero before the call is made, so that a platform answering
// "success" without writing anything (Wine's stubs do) gives an empty, deterministic answer.
#include <cstdint>
#include <span>
#include <string_view>

namespace quorle::audio {

using ConfigRet = std::uint32_t;  // CONFIGRET: 0 is success, anything else failure
using DevNode = std::uint32_t;    // DEVINST: a device node handle

inline constexpr ConfigRet kConfigRetSuccess = 0x00;         // CR_SUCCESS
inline constexpr ConfigRet kConfigRetNoSuchDevnode = 0x0D;   // CR_NO_SUCH_DEVNODE
inline constexpr ConfigRet kConfigRetBufferSmall = 0x1A;     // CR_BUFFER_SMALL
inline constexpr ConfigRet kConfigRetNotImplemented = 0x34;  // CR_CALL_NOT_IMPLEMENTED

// Node status word bits and the problem number that detection looks at.
inline constexpr std::uint32_t kNodeStarted = 0x008;       // DN_STARTED
inline constexpr std::uint32_t kNodeNeedsRestart = 0x100;  // DN_NEED_RESTART
inline constexpr std::uint32_t kNodeHasProblem = 0x400;    // DN_HAS_PROBLEM
inline constexpr std::uint32_t kProblemNeedsRestart = 14;  // CM_PROB_NEED_RESTART

// What CM_Get_DevNode_Status reports for a node.
struct NodeStatus {
    std::uint32_t status = 0;   // DN_* bits
    std::uint32_t problem = 0;  // CM_PROB_* number; meaningful only with DN_HAS_PROBLEM
};

// The node's problem number, or 0 when the status word does not flag a problem: without
// DN_HAS_PROBLEM the number may be a stale value left from an earlier problem.
[[nodiscard]] constexpr std::uint32_t problem_of(const NodeStatus& status) {
    return (status.status & kNodeHasProblem) != 0 ? status.problem : 0;
}

class DeviceTree {
  public:
    virtual ~DeviceTree() = default;

    // CM_Get_Device_ID_List_SizeW with no filter and CM_GETIDLIST_FILTER_PRESENT: the number
    // of UTF-16 units the list of present device instance ids needs.
    [[nodiscard]] virtual ConfigRet present_id_list_size(std::uint32_t& units) = 0;

    // CM_Get_Device_ID_ListW with no filter and CM_GETIDLIST_FILTER_PRESENT into `buffer`
    // (its size is the length passed): a run of NUL-terminated device instance ids. An empty
    // buffer is passed as a length of 0.
    [[nodiscard]] virtual ConfigRet present_id_list(std::span<char16_t> buffer) = 0;

    // CM_Locate_DevNodeW with CM_LOCATE_DEVNODE_NORMAL. `instance_id_z` is the id followed by
    // exactly one terminating NUL unit (as utf8_to_utf16z makes it).
    [[nodiscard]] virtual ConfigRet locate(std::u16string_view instance_id_z, DevNode& node) = 0;

    // CM_Get_DevNode_Registry_PropertyW for CM_DRP_HARDWAREID, no type out, flags 0, into
    // `buffer`. `length_bytes` goes in as the buffer's length in bytes and comes back as the
    // platform left it. The caller zero-fills the buffer.
    [[nodiscard]] virtual ConfigRet hardware_ids(DevNode node, std::span<char16_t> buffer,
                                                 std::uint32_t& length_bytes) = 0;

    // CM_Get_DevNode_Status with flags 0.
    [[nodiscard]] virtual ConfigRet status(DevNode node, NodeStatus& status) = 0;

    // CM_Get_Parent with flags 0.
    [[nodiscard]] virtual ConfigRet parent(DevNode node, DevNode& parent) = 0;
};

}  // namespace quorle::audio
