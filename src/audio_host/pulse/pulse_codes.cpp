#include "audio_host/pulse/pulse_codes.h"

#include <pulse/def.h>
#include <pulse/error.h>

#include "common/platform_error.h"

namespace quorle::pulse {

std::int32_t pulse_code(int pulse_error) {
    if (pulse_error == 0) return 0;
    const auto number = static_cast<std::uint32_t>(pulse_error) & 0xFFFFu;
    return static_cast<std::int32_t>(kPulseFacilityBits | number);
}

bool is_pulse_code(std::int32_t code) {
    return (static_cast<std::uint32_t>(code) & 0xFFFF0000u) == kPulseFacilityBits;
}

std::string pulse_error_description(std::uint32_t code) {
    if (!is_pulse_code(static_cast<std::int32_t>(code))) return {};
    const char* text = pa_strerror(static_cast<int>(code & 0xFFFFu));
    return text == nullptr ? std::string() : std::string(text);
}

std::string capture_error_text(std::int32_t code) {
    const auto raw = static_cast<std::uint32_t>(code);
    if (!is_pulse_code(code)) return platform_error_text(raw);
    return format_error_text(pulse_error_description(raw), raw);
}

std::int32_t invalid_argument_code() {
    return pulse_code(PA_ERR_INVALID);
}
std::int32_t bad_state_code() {
    return pulse_code(PA_ERR_BADSTATE);
}

}  // namespace quorle::pulse
