// The device tree through the Configuration Manager (cfgmgr32).
#include <windows.h>

#include <cfgmgr32.h>

#include "audio/cable/system_cable_platform.h"

namespace quorle::audio {
namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t));
static_assert(CR_SUCCESS == kConfigRetSuccess);
static_assert(CR_BUFFER_SMALL == kConfigRetBufferSmall);
static_assert(DN_STARTED == kNodeStarted);
static_assert(DN_NEED_RESTART == kNodeNeedsRestart);
static_assert(CM_PROB_NEED_RESTART == kProblemNeedsRestart);

wchar_t* wide(char16_t* units) {
    return reinterpret_cast<wchar_t*>(units);
}

class CfgmgrDeviceTree final : public DeviceTree {
  public:
    ConfigRet present_id_list_size(std::uint32_t& units) override {
        ULONG length = 0;
        const CONFIGRET result =
            CM_Get_Device_ID_List_SizeW(&length, nullptr, CM_GETIDLIST_FILTER_PRESENT);
        units = length;
        return result;
    }

    ConfigRet present_id_list(std::span<char16_t> buffer) override {
        // A zero length still gets a valid address to (not) write to.
        char16_t nothing = u'\0';
        char16_t* data = buffer.empty() ? &nothing : buffer.data();
        return CM_Get_Device_ID_ListW(nullptr, wide(data), static_cast<ULONG>(buffer.size()),
                                      CM_GETIDLIST_FILTER_PRESENT);
    }

    ConfigRet locate(std::u16string_view instance_id_z, DevNode& node) override {
        node = 0;
        if (instance_id_z.empty() || instance_id_z.back() != u'\0') return CR_INVALID_POINTER;
        DEVINST found = 0;
        // The id is only read; the parameter type is not const for historical reasons.
        const CONFIGRET result = CM_Locate_DevNodeW(
            &found, const_cast<wchar_t*>(reinterpret_cast<const wchar_t*>(instance_id_z.data())),
            CM_LOCATE_DEVNODE_NORMAL);
        node = found;
        return result;
    }

    ConfigRet hardware_ids(DevNode node, std::span<char16_t> buffer,
                           std::uint32_t& length_bytes) override {
        const std::size_t capacity = buffer.size_bytes();
        ULONG length = length_bytes < capacity ? length_bytes : static_cast<ULONG>(capacity);
        const CONFIGRET result = CM_Get_DevNode_Registry_PropertyW(node, CM_DRP_HARDWAREID, nullptr,
                                                                   buffer.data(), &length, 0);
        length_bytes = length;
        return result;
    }

    ConfigRet status(DevNode node, NodeStatus& status) override {
        ULONG status_word = 0;
        ULONG problem = 0;
        const CONFIGRET result = CM_Get_DevNode_Status(&status_word, &problem, node, 0);
        status = {status_word, problem};
        return result;
    }

    ConfigRet parent(DevNode node, DevNode& parent) override {
        DEVINST found = 0;
        const CONFIGRET result = CM_Get_Parent(&found, node, 0);
        parent = found;
        return result;
    }
};

}  // namespace

std::unique_ptr<DeviceTree> system_device_tree() {
    return std::make_unique<CfgmgrDeviceTree>();
}

}  // namespace quorle::audio
