#pragma once
// Whether an audio endpoint presents itself as speakers, read from its property store.
#include <string_view>

#include "audio/cable/form_factor_reader.h"

namespace quorle::audio {

inline constexpr std::uint32_t kFormFactorSpeakers = 1;  // EndpointFormFactor Speakers

// Reads the endpoint's form factor on the calling thread and tells whether it is Speakers.
// The thread joins the multithreaded apartment for the duration of the check and leaves it
// afterwards when (and only when) joining succeeded; a failed join does not stop the check.
// Any failed step, a missing object, or another value answers false. Every object obtained
// is released, in reverse order of acquisition, on every path.
[[nodiscard]] bool endpoint_is_speakers(FormFactorReader& reader, std::string_view endpoint_id);

}  // namespace quorle::audio
