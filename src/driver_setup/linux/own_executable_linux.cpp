#include <unistd.h>

#include <cerrno>

#include "driver_setup/growing_buffer.h"
#include "driver_setup/own_executable.h"

namespace quorle::setup {
namespace {

class LinuxOwnExecutable final : public OwnExecutable {
  public:
    std::expected<std::filesystem::path, std::uint32_t> path() override {
        // readlink cuts a long target without saying so; a full buffer means "try larger".
        std::expected<std::string, std::uint32_t> target = read_with_growing_buffer<char>(
            [](char* buffer, std::size_t capacity) -> std::expected<std::size_t, std::uint32_t> {
                const ssize_t length = ::readlink("/proc/self/exe", buffer, capacity);
                if (length < 0) return std::unexpected(static_cast<std::uint32_t>(errno));
                return static_cast<std::size_t>(length);
            },
            256, std::size_t{1} << 16, ENAMETOOLONG);
        if (!target) return std::unexpected(target.error());
        return std::filesystem::path(std::move(*target));
    }
};

}  // namespace

OwnExecutable& system_own_executable() {
    static LinuxOwnExecutable own;
    return own;
}

}  // namespace quorle::setup
