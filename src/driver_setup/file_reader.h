#pragma once
// Seam: the whole content of one regular file, and the folders it is found through, held
// so that what was checked is what is used later.
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>

namespace quorle::setup {

// Why a file could not be read, with the platform's own code where there is one.
struct FileReadError {
    enum class Kind {
        open,         // the file could not be opened (absent, access denied, in use, a folder)
        not_regular,  // opened, but not a regular file (a folder, FIFO, device, socket)
        too_large,    // larger than the caller's limit or than memory can hold
        read,         // a read call failed part way
        reparse,      // a name surrogate (a symbolic link or junction) where a file or folder is
    };
    Kind kind = Kind::open;
    std::uint32_t code = 0;  // errno value or Windows error code; 0 when the platform gave none
    friend bool operator==(const FileReadError&, const FileReadError&) = default;
};

// Everything a reader holds stays held until the reader is destroyed, which releases the
// last held first.
class FileReader {
  public:
    virtual ~FileReader() = default;

    // Holds the folder at `path` so that it can be neither renamed nor removed while it is
    // held. On Windows it is opened as a folder (FILE_FLAG_BACKUP_SEMANTICS) at the name itself
    // (FILE_FLAG_OPEN_REPARSE_POINT) and shared for reading only; a name surrogate there (a
    // junction or symbolic link) is refused, since it could be re-pointed elsewhere while it
    // is held, and any other reparse point (a cloud placeholder, for one) is held like a plain
    // folder. Elsewhere nothing is ever installed from the folder, so nothing is held and the
    // call succeeds.
    [[nodiscard]] virtual std::expected<void, FileReadError> hold_folder(
        const std::filesystem::path& path) = 0;

    // Reads the file at `path` completely, up to the end of the file. Only regular files are
    // read (anything else fails without waiting on it), and a file holding more than
    // `max_bytes` fails without being read. On Windows a name surrogate at the file's name is
    // refused as for a folder, and a file that was read stays open, shared for reading only,
    // so that it can be neither changed nor replaced nor removed while it is held; elsewhere
    // it is closed before the call returns.
    [[nodiscard]] virtual std::expected<std::string, FileReadError> read_regular_file(
        const std::filesystem::path& path, std::size_t max_bytes) = 0;

    // The path that the folder held last (the driver folder) has now, wherever the names
    // that led to it point by then: on Windows its final path (GetFinalPathNameByHandleW,
    // normalized, with its drive letter or share), in the plain form when that fits MAX_PATH.
    // Fails with the Windows error code of the call; with ERROR_INVALID_HANDLE (6) when no
    // folder is held, and with ERROR_CALL_NOT_IMPLEMENTED (120) where nothing is ever held.
    [[nodiscard]] virtual std::expected<std::filesystem::path, std::uint32_t>
    held_folder_final_path() const = 0;
};

// The platform's own implementation, holding nothing yet.
[[nodiscard]] std::unique_ptr<FileReader> make_system_file_reader();

}  // namespace quorle::setup
