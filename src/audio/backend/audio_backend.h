#pragma once
// The process-wide audio backend: one audio control thread per process, started by the first
// request on the real platform (cubeb, COM, named threads, the system clock, standard error)
// and kept until the process ends.
#include <memory>
#include <vector>

#include "audio/backend/audio_controller.h"
#include "audio/backend/audio_endpoint.h"
#include "audio/backend/controller_registry.h"
#include "common/result.h"

namespace quorle::audio {

// The real platform: cubeb, COM, named threads, the system clock, standard error and the
// QUORLE_AUDIO_DIAGNOSTICS variable.
[[nodiscard]] AudioControlEnvironment system_audio_control_environment();

// The process-wide registry. Created on first use and never destroyed, so that a running
// control thread never meets a destroyed handle while the process exits.
[[nodiscard]] ControllerRegistry& process_controller_registry();

// acquire_controller and list_audio_endpoints on the process-wide registry.
[[nodiscard]] Result<std::shared_ptr<AudioController>> acquire_controller();
[[nodiscard]] Result<std::vector<AudioEndpoint>> list_audio_endpoints();

}  // namespace quorle::audio
