#pragma once
// Result codes of the PulseAudio capture. A PulseAudio error number n becomes the
// HRESULT-shaped code 0xA0500000 | n (failure bit, customer bit, facility 0x050), so that it
// never collides with the errno values that the rest of the Linux layer reports, and its
// text is PulseAudio's own description with the code in the usual "(0xXXXXXXXX)" form.
#include <cstdint>
#include <string>

namespace quorle::pulse {

inline constexpr std::uint32_t kPulseFacilityBits = 0xA0500000u;

// The code of a PulseAudio error number (PA_ERR_*). 0 stays 0 (success).
[[nodiscard]] std::int32_t pulse_code(int pulse_error);

// True for codes made by pulse_code.
[[nodiscard]] bool is_pulse_code(std::int32_t code);

// PulseAudio's description of a code made by pulse_code; empty for any other code (the form
// the process-wide error description provider answers in, see common/platform_error.h).
[[nodiscard]] std::string pulse_error_description(std::uint32_t code);

// The platform error text of a capture code: for a PulseAudio code, PulseAudio's
// description and the code; for any other code, the errno text of the Linux layer.
[[nodiscard]] std::string capture_error_text(std::int32_t code);

// Codes for misuse of the capture client's packet calls.
[[nodiscard]] std::int32_t invalid_argument_code();  // wrong frame count released
[[nodiscard]] std::int32_t bad_state_code();         // calls out of order

}  // namespace quorle::pulse
