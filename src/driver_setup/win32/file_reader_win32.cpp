#include <windows.h>

#include <cstdint>
#include <vector>

#include "driver_setup/file_reader.h"
#include "driver_setup/whole_content.h"
#include "driver_setup/win32/unique_file_handle.h"

namespace quorle::setup {
namespace {

std::uint32_t last_error() {
    return static_cast<std::uint32_t>(GetLastError());
}

using Kind = FileReadError::Kind;

// The system call would stop at a NUL and open a different file.
bool has_nul(const std::filesystem::path& path) {
    return path.native().find(L'\0') != std::wstring::npos;
}

class Win32FileReader final : public FileReader {
  public:
    Win32FileReader() = default;
    Win32FileReader(const Win32FileReader&) = delete;
    Win32FileReader& operator=(const Win32FileReader&) = delete;
    ~Win32FileReader() override {
        while (!held_.empty())
            held_.pop_back();
    }

    std::expected<void, FileReadError> hold_folder(const std::filesystem::path& path) override {
        if (has_nul(path)) return std::unexpected(FileReadError{Kind::open, ERROR_INVALID_NAME});
        // The folder itself, not what a reparse point at its place would lead to. Sharing
        // without FILE_SHARE_DELETE keeps anyone from renaming or removing it; without
        // FILE_SHARE_WRITE no one may open it for changing either.
        UniqueFileHandle folder(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!folder.valid()) return std::unexpected(FileReadError{Kind::open, last_error()});
        BY_HANDLE_FILE_INFORMATION information{};
        if (!GetFileInformationByHandle(folder.get(), &information)) {
            return std::unexpected(FileReadError{Kind::open, last_error()});
        }
        // Asked of the handle and, once the folder is held and can no longer be swapped, of
        // the name too: Wine opens the target of a host symbolic link even when told not to,
        // and shows the link only in the name's own attributes.
        const DWORD name_attributes = GetFileAttributesW(path.c_str());
        if (name_attributes == INVALID_FILE_ATTRIBUTES) {
            return std::unexpected(FileReadError{Kind::open, last_error()});
        }
        if (((information.dwFileAttributes | name_attributes) & FILE_ATTRIBUTE_REPARSE_POINT) !=
            0) {
            return std::unexpected(FileReadError{Kind::reparse, 0});
        }
        if ((information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return std::unexpected(FileReadError{Kind::not_regular, 0});
        }
        held_.push_back(std::move(folder));
        return {};
    }

    std::expected<std::string, FileReadError> read_regular_file(const std::filesystem::path& path,
                                                                std::size_t max_bytes) override {
        if (has_nul(path)) return std::unexpected(FileReadError{Kind::open, ERROR_INVALID_NAME});
        // Without FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened at all. Other readers
        // may share the file; no one may change, replace or remove it while it is held.
        UniqueFileHandle file(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file.valid()) return std::unexpected(FileReadError{Kind::open, last_error()});
        std::expected<std::string, FileReadError> content = read_open_file(file, max_bytes);
        // Only a file that was read completely is kept: a failed one ends the check anyway.
        if (content) held_.push_back(std::move(file));
        return content;
    }

  private:
    static std::expected<std::string, FileReadError> read_open_file(const UniqueFileHandle& file,
                                                                    std::size_t max_bytes) {
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

    // Folders and files in the order they were held; released from the back.
    std::vector<UniqueFileHandle> held_;
};

}  // namespace

std::unique_ptr<FileReader> make_system_file_reader() {
    return std::make_unique<Win32FileReader>();
}

}  // namespace quorle::setup
