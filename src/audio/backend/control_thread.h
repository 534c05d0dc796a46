#pragma once
// The audio control thread: the one thread of the process that works with the audio library.
// It joins COM's multithreaded apartment, opens the cubeb context, reports its backend to
// the thread that started it, then runs the jobs that arrive on its command queue, one at a
// time in queue order, until the stop marker arrives or the queue closes.
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <variant>

#include "audio/backend/com_initializer.h"
#include "audio/backend/command_queue.h"
#include "audio/backend/cubeb_api.h"
#include "audio/backend/cubeb_handles.h"
#include "audio/backend/reply_channel.h"
#include "common/clock.h"
#include "common/named_thread.h"
#include "common/result.h"
#include "common/std_streams.h"

namespace quorle::audio {

inline constexpr const char* kControlThreadName = "quorle-audio-control";
inline constexpr const char* kDiagnosticsVariable = "QUORLE_AUDIO_DIAGNOSTICS";

// How long the thread waits on its queue before it looks at the diagnostics tick again.
inline constexpr std::chrono::milliseconds kQueueWait{250};
// The least time between two diagnostics rounds.
inline constexpr std::chrono::seconds kDiagnosticsInterval{1};

// An audio object registered with the control thread: it reports diagnostics periodically
// and is released (destroyed) on the control thread.
class AudioObject {
  public:
    virtual ~AudioObject() = default;
    virtual void diagnostics() = 0;
};

// Registered objects by key.
using AudioObjectTable = std::map<std::uint64_t, std::unique_ptr<AudioObject>>;

// Everything the control thread owns once it runs. Only the control thread touches it.
struct ControlThreadState {
    ControlThreadState(CubebContext opened, bool diagnostics_on)
        : context(std::move(opened)), diagnostics(diagnostics_on) {}
    ControlThreadState(const ControlThreadState&) = delete;
    ControlThreadState& operator=(const ControlThreadState&) = delete;
    // Releases every registered object in key order, then the table, then the context.
    ~ControlThreadState();

    CubebContext context;
    bool diagnostics;
    AudioObjectTable objects;
};

// A piece of work the control thread runs once with its state. It owns everything it needs,
// including the channel on which it answers.
using ControlJob = std::move_only_function<void(ControlThreadState&)>;
// Ends the control thread's loop.
struct StopMarker {};
using ControlMessage = std::variant<ControlJob, StopMarker>;

// What the control thread answers its starter: the backend identifier, or a failure.
using StartReply = Result<std::string>;

// The platform operations and settings a control thread works with. The referenced objects
// must outlive every thread started with them.
struct AudioControlEnvironment {
    CubebApi& cubeb;
    ComInitializer& com;
    ThreadLauncher& threads;
    MonotonicClock& clock;
    OutputStream& backend_log;                    // receives the backend line (standard error)
    std::function<bool()> diagnostics_requested;  // read once per start
    std::chrono::nanoseconds queue_wait = kQueueWait;
};

// True when QUORLE_AUDIO_DIAGNOSTICS exists in the environment, whatever its value.
[[nodiscard]] bool audio_diagnostics_requested();

// The whole life of a control thread. Any exception that escapes a step or a job ends the
// thread: its state is released in order and the channels close, so that waiting
// requesters learn that it ended.
void run_control_thread(const AudioControlEnvironment& environment,
                        QueueReceiver<ControlMessage> commands, ReplySender<StartReply> start_reply,
                        bool diagnostics) noexcept;

}  // namespace quorle::audio
