// The JSON string writer: its output is always one line, and for valid UTF-8 input a
// standard JSON reader gives back exactly the input string.
#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "common/json_text.h"
#include "common/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::string text = quorle::json::quoted(input);
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) __builtin_trap();  // stays one line
    }
    if (!quorle::is_valid_utf8(input)) return 0;
    const auto parsed = nlohmann::json::parse(text, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_string()) __builtin_trap();
    if (parsed.get<std::string>() != input) __builtin_trap();
    return 0;
}
