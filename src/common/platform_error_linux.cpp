#include <cstring>
#include <string>

#include "common/platform_error.h"

namespace quorle {
namespace {

// strerror_r in its GNU or XSI form, whichever the C library offers.
[[maybe_unused]] const char* pick(int result, const char* buffer) {
    return result == 0 ? buffer : "";
}
[[maybe_unused]] const char* pick(const char* result, const char*) {
    return result;
}

std::string errno_text(int code) {
    char buffer[256] = {};
    const char* text = pick(strerror_r(code, buffer, sizeof buffer), buffer);
    std::string message = text == nullptr ? std::string() : std::string(text);
    // glibc answers unknown numbers with "Unknown error N": that is no message.
    if (message.rfind("Unknown error", 0) == 0) return {};
    return message;
}

}  // namespace

std::string platform_error_text(std::uint32_t code) {
    if (std::string described = registered_error_description(code); !described.empty()) {
        return format_error_text(described, code);
    }
    // Linux layers that answer with COM-style results carry an errno value e as
    // hresult_from_win32(e) (0x8007xxxx); its text is the errno's.
    const bool carries_errno = (code & 0xFFFF0000u) == 0x80070000u;
    const int number = carries_errno ? static_cast<int>(code & 0xFFFFu) : static_cast<int>(code);
    return format_error_text(errno_text(number), code);
}

std::string os_error_description(int code) {
    std::string message = errno_text(code);
    if (message.empty()) message = "Unknown error " + std::to_string(code);
    return message;
}

}  // namespace quorle
