#pragma once
// The registry that starts the audio control thread on first use and then shares it, and the
// endpoint-list requests made through it.
#include <memory>
#include <mutex>
#include <vector>

#include "audio/backend/audio_controller.h"
#include "audio/backend/audio_endpoint.h"
#include "audio/backend/control_thread.h"
#include "common/result.h"

namespace quorle::audio {

// Holds at most one controller. Empty until a start succeeds; after that it keeps the
// controller for its whole life (a thread that ended stays registered, and requests to it
// fail as closed). The process-wide registry is never destroyed; registries made for tests
// stop their thread when destroyed.
class ControllerRegistry {
  public:
    explicit ControllerRegistry(AudioControlEnvironment environment)
        : environment_(std::move(environment)) {}
    ControllerRegistry(const ControllerRegistry&) = delete;
    ControllerRegistry& operator=(const ControllerRegistry&) = delete;

    // The registered controller, or a new one started while the lock is held, so that
    // concurrent first callers wait for one start and then share its controller. A failed
    // start leaves the registry empty, so that the next call starts afresh. Fails with
    // "audio controller registry poisoned" once a start has ended by an exception (the
    // exception itself passes on to that start's caller).
    [[nodiscard]] Result<std::shared_ptr<AudioController>> acquire();

  private:
    const AudioControlEnvironment environment_;
    std::mutex mutex_;
    bool poisoned_ = false;                        // guarded by mutex_
    std::shared_ptr<AudioController> controller_;  // guarded by mutex_
};

[[nodiscard]] Result<std::shared_ptr<AudioController>> acquire_controller(
    ControllerRegistry& registry);

// The recording endpoints followed by the playback endpoints. Each list is one request with
// its own controller reference; the first failure is returned unchanged, so a failed
// recording list ends the call before the playback list is asked for.
[[nodiscard]] Result<std::vector<AudioEndpoint>> list_audio_endpoints(ControllerRegistry& registry);

}  // namespace quorle::audio
