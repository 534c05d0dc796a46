#include "audio/backend/controller_registry.h"

#include <exception>

namespace quorle::audio {
namespace {

// Marks the registry poisoned when the scope is left by an exception, as a poisoned mutex
// would be: whatever the start left half done, later callers must not trust it.
class PoisonOnUnwind {
  public:
    explicit PoisonOnUnwind(bool& poisoned)
        : poisoned_(poisoned), exceptions_(std::uncaught_exceptions()) {}
    PoisonOnUnwind(const PoisonOnUnwind&) = delete;
    PoisonOnUnwind& operator=(const PoisonOnUnwind&) = delete;
    ~PoisonOnUnwind() {
        if (std::uncaught_exceptions() > exceptions_)
            poisoned_ = true;
    }

  private:
    bool& poisoned_;
    int exceptions_;
};

}  // namespace

Result<std::shared_ptr<AudioController>> ControllerRegistry::acquire() {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (poisoned_)
        return fail("audio controller registry poisoned");
    if (controller_)
        return controller_;

    const PoisonOnUnwind poison(poisoned_);
    QUORLE_ASSIGN_OR_RETURN(std::shared_ptr<AudioController> started,
                            start_controller(environment_));
    controller_ = started;
    return started;
}

Result<std::shared_ptr<AudioController>> acquire_controller(ControllerRegistry& registry) {
    return registry.acquire();
}

Result<std::vector<AudioEndpoint>> list_audio_endpoints(ControllerRegistry& registry) {
    QUORLE_ASSIGN_OR_RETURN(std::shared_ptr<AudioController> controller, registry.acquire());
    QUORLE_ASSIGN_OR_RETURN(std::vector<AudioEndpoint> endpoints,
                            list_endpoints(*controller, EndpointDirection::Capture));
    controller.reset();

    QUORLE_ASSIGN_OR_RETURN(controller, registry.acquire());
    QUORLE_ASSIGN_OR_RETURN(std::vector<AudioEndpoint> playback,
                            list_endpoints(*controller, EndpointDirection::Render));
    controller.reset();

    endpoints.insert(endpoints.end(), std::make_move_iterator(playback.begin()),
                     std::make_move_iterator(playback.end()));
    return endpoints;
}

}  // namespace quorle::audio
