#pragma once
// Seam: the full path of the running program's own executable file.
#include <cstdint>
#include <expected>
#include <filesystem>

namespace quorle::setup {

class OwnExecutable {
  public:
    virtual ~OwnExecutable() = default;
    // The path as the platform reports it for the running process, or the platform's error
    // code (a Windows error code, or an errno value on Linux).
    [[nodiscard]] virtual std::expected<std::filesystem::path, std::uint32_t> path() = 0;
};

// The platform's own implementation: GetModuleFileNameW on Windows, /proc/self/exe on Linux.
[[nodiscard]] OwnExecutable& system_own_executable();

}  // namespace quorle::setup
