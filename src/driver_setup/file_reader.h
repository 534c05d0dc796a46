#pragma once
// Seam: the whole content of one regular file.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <string>

namespace quorle::setup {

// Why a file could not be read, with the platform's own code where there is one.
struct FileReadError {
    enum class Kind {
        open,         // the file could not be opened (absent, access denied, in use, a folder)
        not_regular,  // opened, but not a regular file (a folder, FIFO, device, socket)
        too_large,    // larger than the caller's limit or than memory can hold
        read,         // a read call failed part way
    };
    Kind kind = Kind::open;
    std::uint32_t code = 0;  // errno value or Windows error code; 0 when the platform gave none
    friend bool operator==(const FileReadError&, const FileReadError&) = default;
};

class FileReader {
  public:
    virtual ~FileReader() = default;
    // Reads the file at `path` completely, up to the end of the file. Only regular files are
    // read (anything else fails without waiting on it), and a file holding more than
    // `max_bytes` fails without being read. The file is closed before the call returns.
    [[nodiscard]] virtual std::expected<std::string, FileReadError> read_regular_file(
        const std::filesystem::path& path, std::size_t max_bytes) = 0;
};

// The platform's own implementation.
[[nodiscard]] FileReader& system_file_reader();

}  // namespace quorle::setup
