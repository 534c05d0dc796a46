#pragma once
// The digest manifest compiled into the program, byte for byte as its source file.
#include <string_view>

namespace quorle::setup {

[[nodiscard]] std::string_view embedded_manifest();

}  // namespace quorle::setup
