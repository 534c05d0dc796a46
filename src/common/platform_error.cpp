#include "common/platform_error.h"

#include <atomic>
#include <cstdio>

namespace quorle {

namespace {
std::atomic<ErrorDescriptionProvider> description_provider{nullptr};
}  // namespace

void set_error_description_provider(ErrorDescriptionProvider provider) {
    description_provider.store(provider, std::memory_order_release);
}

std::string registered_error_description(std::uint32_t code) {
    const ErrorDescriptionProvider provider = description_provider.load(std::memory_order_acquire);
    return provider == nullptr ? std::string() : provider(code);
}

std::string hex_code(std::uint32_t code) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(code));
    return buffer;
}

std::string format_error_text(std::string_view system_message, std::uint32_t code) {
    std::string_view message = system_message;
    while (!message.empty()) {
        const char c = message.back();
        if (c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ') {
            message.remove_suffix(1);
        } else {
            break;
        }
    }
    if (message.empty()) return hex_code(code);
    std::string text(message);
    text += " (";
    text += hex_code(code);
    text += ')';
    return text;
}

std::string context_error(std::string_view context, std::uint32_t code) {
    std::string text(context);
    text += ": ";
    text += platform_error_text(code);
    return text;
}

namespace {

std::string numbered_os_error(std::string_view prefix, std::string_view description, int code) {
    std::string text(prefix);
    text += description;
    text += " (os error ";
    text += std::to_string(code);
    text += ')';
    return text;
}

}  // namespace

std::string os_error_message(std::string_view prefix, int code) {
    return numbered_os_error(prefix, os_error_description(code), code);
}

std::string os_error_message(std::string_view prefix, const std::error_code& code) {
    std::string description = code.message();
    const auto end = description.find_last_not_of(" \t\n\v\f\r");
    description.resize(end == std::string::npos ? 0 : end + 1);
    return numbered_os_error(prefix, description, code.value());
}

}  // namespace quorle
