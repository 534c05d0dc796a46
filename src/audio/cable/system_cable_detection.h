#pragma once
// Cable detection on the running platform, as the driver setup program runs it.
#include "audio/cable/cable_state.h"
#include "common/result.h"

namespace quorle::audio {

// Detects the cables with the system's device tree, a form-factor reader made for the
// calling thread, and the endpoint list of the process-wide audio control thread (started
// by the first request and kept until the process ends). The device tree is read first, so
// a failing device id list ends detection before the audio backend is asked anything.
[[nodiscard]] Result<CableReport> detect_cables();

}  // namespace quorle::audio
