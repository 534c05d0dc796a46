#pragma once
// The parts of the Windows process-loopback activation interface that older SDKs and
// mingw-w64 do not declare (audioclientactivationparams.h): the device path and the layout
// of AUDIOCLIENT_ACTIVATION_PARAMS. Declared under our own names so that they never clash
// with an SDK that has them.
#include <cstddef>
#include <cstdint>

namespace quorle::host::win32 {

// VIRTUAL_AUDIO_DEVICE_PROCESS_LOOPBACK
inline constexpr wchar_t kProcessLoopbackDevicePath[] = L"VAD\\Process_Loopback";

// AUDIOCLIENT_ACTIVATION_PARAMS with its PROCESS_LOOPBACK_PARAMS member, as the platform
// reads it from the activation property's blob.
struct ProcessLoopbackActivationParams {
    std::uint32_t activation_type;        // AUDIOCLIENT_ACTIVATION_TYPE
    std::uint32_t target_process_id;      // PROCESS_LOOPBACK_PARAMS::TargetProcessId
    std::uint32_t process_loopback_mode;  // PROCESS_LOOPBACK_PARAMS::ProcessLoopbackMode
};
static_assert(sizeof(ProcessLoopbackActivationParams) == 12);
static_assert(offsetof(ProcessLoopbackActivationParams, target_process_id) == 4);
static_assert(offsetof(ProcessLoopbackActivationParams, process_loopback_mode) == 8);

}  // namespace quorle::host::win32
