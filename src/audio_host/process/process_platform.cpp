#include "audio_host/process/process_platform.h"

#include "common/platform_error.h"

namespace quorle::host {

std::string raw_error_text(const RawError& error) {
    if (error.description != nullptr) return format_error_text(error.description, error.code);
    return platform_error_text(error.code);
}

std::string raw_context_error(std::string_view context, const RawError& error) {
    std::string text(context);
    text += ": ";
    text += raw_error_text(error);
    return text;
}

}  // namespace quorle::host
