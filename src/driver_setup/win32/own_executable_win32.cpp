#include <windows.h>

#include "driver_setup/growing_buffer.h"
#include "driver_setup/own_executable.h"

namespace quorle::setup {
namespace {

class Win32OwnExecutable final : public OwnExecutable {
  public:
    std::expected<std::filesystem::path, std::uint32_t> path() override {
        // GetModuleFileNameW cuts a path that does not fit and returns the buffer size; paths
        // may be far longer than MAX_PATH, so the buffer doubles until it fits.
        std::expected<std::wstring, std::uint32_t> module_path = read_with_growing_buffer<wchar_t>(
            [](wchar_t* buffer, std::size_t capacity) -> std::expected<std::size_t, std::uint32_t> {
                const DWORD length =
                    GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(capacity));
                if (length == 0) return std::unexpected(static_cast<std::uint32_t>(GetLastError()));
                return std::size_t{length};
            },
            MAX_PATH, std::size_t{1} << 16, ERROR_INSUFFICIENT_BUFFER);
        if (!module_path) return std::unexpected(module_path.error());
        return std::filesystem::path(std::move(*module_path));
    }
};

}  // namespace

OwnExecutable& system_own_executable() {
    static Win32OwnExecutable own;
    return own;
}

}  // namespace quorle::setup
