#include <windows.h>

#include <string>

#include "common/platform_error.h"
#include "common/text.h"

namespace quorle {
namespace {

std::string system_message(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    if (length == 0 || buffer == nullptr) return {};
    std::u16string_view units(reinterpret_cast<const char16_t*>(buffer), length);
    std::string text = utf16_to_utf8(units);
    LocalFree(buffer);
    return text;
}

}  // namespace

std::string platform_error_text(std::uint32_t code) {
    return format_error_text(system_message(static_cast<DWORD>(code)), code);
}

std::string os_error_description(int code) {
    std::string text = system_message(static_cast<DWORD>(code));
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
        text.pop_back();
    }
    if (text.empty()) text = "Unknown error " + std::to_string(code);
    return text;
}

}  // namespace quorle
