#pragma once
// One enabled audio device as the audio module sees it, read from the audio backend.
#include <cstdint>
#include <string>

namespace quorle::audio {

enum class EndpointDirection : std::uint8_t {
    Capture = 0,  // a recording device
    Render = 1,   // a playback device
};

struct AudioEndpoint {
    std::string id;    // the backend's device identifier; never empty
    std::string name;  // display name; empty when the backend gives none
    std::uint32_t default_rate = 0;
    std::uint16_t channels = 0;
    EndpointDirection direction = EndpointDirection::Capture;
    bool is_default = false;  // the multimedia preference bit
    friend bool operator==(const AudioEndpoint&, const AudioEndpoint&) = default;
};

}  // namespace quorle::audio
