#pragma once
// The process-loopback activation on Linux, served by the PulseAudio capture
// (src/audio_host/pulse): the activation opens the capture on a thread of its own, as Windows
// activates on one of its threads, and completes with an audio client whose capture
// service reads the capture's packets and whose event is the eventfd of the capture run.
#include "audio_host/capture_run/activation_completion.h"
#include "audio_host/capture_run/capture_platform.h"

namespace quorle::host::linux_layer {

// Starts the activation described by the 12-byte parameter block. On success the returned
// operation owns the activation thread (its release waits for that thread), and `completion`
// is completed on that thread exactly once, unless the opening ran out of time: then the
// completion is dropped and the waiting side reports the time-out. A malformed parameter
// block or a thread that cannot start fails at once.
[[nodiscard]] ActivationStart start_pulse_activation(const ActivationParameters& parameters,
                                                     ActivationCompletion completion);

// Makes platform_error_text describe PulseAudio codes with PulseAudio's own text.
void register_pulse_error_text();

}  // namespace quorle::host::linux_layer
