#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "driver_setup/file_reader.h"
#include "driver_setup/linux/unique_fd.h"
#include "driver_setup/whole_content.h"

namespace quorle::setup {
namespace {

std::uint32_t errno_code() {
    return static_cast<std::uint32_t>(errno);
}

class LinuxFileReader final : public FileReader {
  public:
    // The installation always fails on Linux, so nothing read here is ever used later.
    std::expected<void, FileReadError> hold_folder(const std::filesystem::path&) override {
        return {};
    }

    std::expected<std::string, FileReadError> read_regular_file(const std::filesystem::path& path,
                                                                std::size_t max_bytes) override {
        using Kind = FileReadError::Kind;
        // The system call would stop at a NUL and open a different file.
        if (path.native().find('\0') != std::string::npos) {
            return std::unexpected(FileReadError{Kind::open, EINVAL});
        }
        // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
        const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
        if (!fd.valid()) return std::unexpected(FileReadError{Kind::open, errno_code()});
        struct stat status {};
        if (::fstat(fd.get(), &status) != 0) {
            return std::unexpected(FileReadError{Kind::open, errno_code()});
        }
        if (!S_ISREG(status.st_mode)) return std::unexpected(FileReadError{Kind::not_regular, 0});
        const auto size = static_cast<std::uint64_t>(status.st_size);
        if (size > max_bytes) return std::unexpected(FileReadError{Kind::too_large, EFBIG});
        return read_to_end(
            [&fd](char* buffer, std::size_t capacity) -> std::expected<std::size_t, FileReadError> {
                for (;;) {
                    const ssize_t got = ::read(fd.get(), buffer, capacity);
                    if (got >= 0) return static_cast<std::size_t>(got);
                    if (errno != EINTR) {
                        return std::unexpected(FileReadError{Kind::read, errno_code()});
                    }
                }
            },
            static_cast<std::size_t>(size), max_bytes);
    }

    // Nothing is held here, so there is no held folder to name: the installation, which
    // alone asks, fails with "call not implemented" (ERROR_CALL_NOT_IMPLEMENTED).
    std::expected<std::filesystem::path, std::uint32_t> held_folder_final_path() const override {
        return std::unexpected(std::uint32_t{120});
    }
};

}  // namespace

std::unique_ptr<FileReader> make_system_file_reader() {
    return std::make_unique<LinuxFileReader>();
}

}  // namespace quorle::setup
