#include <windows.h>

#include <cstdint>

#include "driver_setup/file_reader.h"
#include "driver_setup/whole_content.h"
#include "driver_setup/win32/unique_file_handle.h"

namespace quorle::setup {
namespace {

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

class Win32FileReader final : public FileReader {
  public:
    std::expected<std::string, FileReadError> read_regular_file(const std::filesystem::path& path,
                                                                std::size_t max_bytes) override {
        using Kind = FileReadError::Kind;
        // The system call would stop at a NUL and open a different file.
        if (path.native().find(L'\0') != std::wstring::npos) {
            return std::unexpected(FileReadError{Kind::open, ERROR_INVALID_NAME});
        }
        // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened at all. Other readers
        // may share the file; writers may not change it while it is hashed.
        const UniqueFileHandle file(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file.valid()) return std::unexpected(FileReadError{Kind::open, last_error()});
        // Pipes, consoles and devices report other types and could block a read.
        if (GetFileType(file.get()) != FILE_TYPE_DISK) {
            return std::unexpected(FileReadError{Kind::not_regular, 0});
        }
        BY_HANDLE_FILE_INFORMATION information{};
        if (!GetFileInformationByHandle(file.get(), &information)) {
            return std::unexpected(FileReadError{Kind::open, last_error()});
        }
        if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            return std::unexpected(FileReadError{Kind::not_regular, 0});
        }
        const std::uint64_t size =
            (std::uint64_t{information.nFileSizeHigh} << 32) | information.nFileSizeLow;
        if (size > max_bytes) {
            return std::unexpected(FileReadError{Kind::too_large, ERROR_FILE_TOO_LARGE});
        }
        return read_to_end(
            [&file](char* buffer,
                    std::size_t capacity) -> std::expected<std::size_t, FileReadError> {
                const DWORD chunk =
                    capacity > 0x40000000u ? 0x40000000u : static_cast<DWORD>(capacity);
                DWORD got = 0;
                if (!ReadFile(file.get(), buffer, chunk, &got, nullptr)) {
                    return std::unexpected(FileReadError{Kind::read, last_error()});
                }
                return std::size_t{got};
            },
            static_cast<std::size_t>(size), max_bytes);
    }
};

}  // namespace

FileReader& system_file_reader() {
    static Win32FileReader reader;
    return reader;
}

}  // namespace quorle::setup
