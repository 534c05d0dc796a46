#include "audio/backend/audio_backend.h"

#include "audio/backend/com_initializer.h"
#include "audio/backend/cubeb_api.h"
#include "common/clock.h"
#include "common/named_thread.h"
#include "common/std_streams.h"

namespace quorle::audio {

AudioControlEnvironment system_audio_control_environment() {
    return AudioControlEnvironment{
        system_cubeb_api(), system_com_initializer(), system_thread_launcher(),
        system_clock(),     standard_error(),         audio_diagnostics_requested,
        kQueueWait};
}

ControllerRegistry& process_controller_registry() {
    // Deliberately leaked: destroying it at exit would stop and join the control thread (or,
    // with a thread that cannot be joined, end the process abnormally).
    static ControllerRegistry* const registry =
        new ControllerRegistry(system_audio_control_environment());
    return *registry;
}

Result<std::shared_ptr<AudioController>> acquire_controller() {
    return process_controller_registry().acquire();
}

Result<std::vector<AudioEndpoint>> list_audio_endpoints() {
    return list_audio_endpoints(process_controller_registry());
}

}  // namespace quorle::audio
