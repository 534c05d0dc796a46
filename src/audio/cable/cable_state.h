#pragma once
// The verdict of one cable detection: one state per cable, the endpoint pair it settled on,
// and the endpoint list the verdicts were drawn from.
#include <string>
#include <variant>
#include <vector>

#include "audio/backend/audio_endpoint.h"

namespace quorle::audio {

// No present device carries the cable's hardware identity.
struct NotInstalled {
    friend bool operator==(const NotInstalled&, const NotInstalled&) = default;
};

// One started device, but without one usable stereo playback or recording endpoint.
struct EndpointsMissing {
    friend bool operator==(const EndpointsMissing&, const EndpointsMissing&) = default;
};

// One device, and Windows reports that it needs a restart to work.
struct RestartRequired {
    friend bool operator==(const RestartRequired&, const RestartRequired&) = default;
};

// Something the user has to look at; `message` is the sentence shown to them.
struct Problem {
    std::string message;
    friend bool operator==(const Problem&, const Problem&) = default;
};

// One started device with exactly one usable stereo endpoint on each side.
struct Ready {
    friend bool operator==(const Ready&, const Ready&) = default;
};

using CableState = std::variant<NotInstalled, EndpointsMissing, RestartRequired, Problem, Ready>;

// The result for one cable. The endpoint ids are filled only when a pair was settled
// (Ready, and the Hi-Fi Cable sample-rate Problem); otherwise both are empty.
struct CableProbe {
    CableState state;
    std::string render_id;   // the playback endpoint's id
    std::string capture_id;  // the recording endpoint's id
    friend bool operator==(const CableProbe&, const CableProbe&) = default;
};

// Both cables and the whole endpoint list (recording endpoints first, then playback ones,
// each in the audio backend's order). The report owns everything it holds.
struct CableReport {
    CableProbe vb_cable;    // VB-CABLE (VBAudioVACWDM)
    CableProbe hifi_cable;  // Hi-Fi Cable (VBAudioHFVAIO)
    std::vector<AudioEndpoint> endpoints;
    friend bool operator==(const CableReport&, const CableReport&) = default;
};

}  // namespace quorle::audio
