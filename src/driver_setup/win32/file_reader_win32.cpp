#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "driver_setup/file_reader.h"
#include "driver_setup/growing_buffer.h"
#include "driver_setup/held_path_rules.h"
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

static_assert(sizeof(wchar_t) == sizeof(char16_t));

// What the handle, opened at the name itself, and the name say about reparse points. Asked
// of the name only once the handle holds the object, so that the name can no longer be
// swapped for something else in between.
std::expected<ReparseFacts, FileReadError> reparse_facts(const UniqueFileHandle& handle,
                                                         const std::filesystem::path& path) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(handle.get(), FileAttributeTagInfo, &tag, sizeof tag)) {
        return std::unexpected(FileReadError{Kind::open, last_error()});
    }
    const DWORD name_attributes = GetFileAttributesW(path.c_str());
    if (name_attributes == INVALID_FILE_ATTRIBUTES) {
        return std::unexpected(FileReadError{Kind::open, last_error()});
    }
    return ReparseFacts{
        .handle_is_reparse_point = (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0,
        .handle_reparse_tag = tag.ReparseTag,
        .name_is_reparse_point = (name_attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0};
}

// The volume and file id of an open file: equal ids are the same file.
std::expected<FILE_ID_INFO, FileReadError> file_id(const UniqueFileHandle& handle) {
    FILE_ID_INFO id{};
    if (!GetFileInformationByHandleEx(handle.get(), FileIdInfo, &id, sizeof id)) {
        return std::unexpected(FileReadError{Kind::open, last_error()});
    }
    return id;
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
        FILE_BASIC_INFO basic{};
        if (!GetFileInformationByHandleEx(folder.get(), FileBasicInfo, &basic, sizeof basic)) {
            return std::unexpected(FileReadError{Kind::open, last_error()});
        }
        const std::expected<ReparseFacts, FileReadError> facts = reparse_facts(folder, path);
        if (!facts) return std::unexpected(facts.error());
        if (refuses_reparse_point(*facts)) return std::unexpected(FileReadError{Kind::reparse, 0});
        if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return std::unexpected(FileReadError{Kind::not_regular, 0});
        }
        held_.push_back(std::move(folder));
        last_folder_ = held_.back().get();
        return {};
    }

    std::expected<std::string, FileReadError> read_regular_file(const std::filesystem::path& path,
                                                                std::size_t max_bytes) override {
        if (has_nul(path)) return std::unexpected(FileReadError{Kind::open, ERROR_INVALID_NAME});
        // The file at the name itself, not what a link there leads to. Without
        // FILE_FLAG_BACKUP_SEMANTICS a folder cannot be opened at all. Other readers may share
        // the file; no one may change, replace or remove it while it is held.
        UniqueFileHandle file(CreateFileW(
            path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
            nullptr));
        if (!file.valid()) return std::unexpected(FileReadError{Kind::open, last_error()});
        // Pipes, consoles and devices report other types and could block a read.
        if (GetFileType(file.get()) != FILE_TYPE_DISK) {
            return std::unexpected(FileReadError{Kind::not_regular, 0});
        }
        const std::expected<ReparseFacts, FileReadError> facts = reparse_facts(file, path);
        if (!facts) return std::unexpected(facts.error());
        if (refuses_reparse_point(*facts)) return std::unexpected(FileReadError{Kind::reparse, 0});
        if (!facts->handle_is_reparse_point) {
            std::expected<std::string, FileReadError> content = read_open_file(file, max_bytes);
            // Only a file that was read completely is kept: a failed one ends the check anyway.
            if (content) held_.push_back(std::move(file));
            return content;
        }
        // Any other reparse point keeps the file in place but stores its data elsewhere (a
        // cloud placeholder, a deduplicated or compressed file), and only an open that lets
        // the platform process it reads that data. The first handle keeps the file held
        // meanwhile; the second must lead to the very same file, since a folder above the
        // held ones may have been re-pointed in between.
        UniqueFileHandle data(
            CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!data.valid()) return std::unexpected(FileReadError{Kind::open, last_error()});
        const std::expected<FILE_ID_INFO, FileReadError> held_id = file_id(file);
        if (!held_id) return std::unexpected(held_id.error());
        const std::expected<FILE_ID_INFO, FileReadError> data_id = file_id(data);
        if (!data_id) return std::unexpected(data_id.error());
        if (std::memcmp(&*held_id, &*data_id, sizeof(FILE_ID_INFO)) != 0) {
            return std::unexpected(FileReadError{Kind::reparse, 0});
        }
        std::expected<std::string, FileReadError> content = read_open_file(data, max_bytes);
        if (content) {
            held_.push_back(std::move(file));
            held_.push_back(std::move(data));
        }
        return content;
    }

    std::expected<std::filesystem::path, std::uint32_t> held_folder_final_path() const override {
        if (last_folder_ == INVALID_HANDLE_VALUE) return std::unexpected(ERROR_INVALID_HANDLE);
        const HANDLE folder = last_folder_;
        // The call returns the length without the NUL when the path fits, and the size
        // needed, NUL included, when it does not: a result not below the capacity asks again
        // with a larger buffer.
        std::expected<std::wstring, std::uint32_t> final_path = read_with_growing_buffer<wchar_t>(
            [folder](wchar_t* buffer,
                     std::size_t capacity) -> std::expected<std::size_t, std::uint32_t> {
                const DWORD length =
                    GetFinalPathNameByHandleW(folder, buffer, static_cast<DWORD>(capacity),
                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
                if (length == 0) return std::unexpected(last_error());
                return length < capacity ? std::size_t{length} : capacity;
            },
            MAX_PATH, std::size_t{1} << 16, ERROR_FILENAME_EXCED_RANGE);
        if (!final_path) return std::unexpected(final_path.error());
        const std::u16string plain = plain_final_path(std::u16string_view(
            reinterpret_cast<const char16_t*>(final_path->data()), final_path->size()));
        return std::filesystem::path(
            std::wstring(reinterpret_cast<const wchar_t*>(plain.data()), plain.size()));
    }

  private:
    static std::expected<std::string, FileReadError> read_open_file(const UniqueFileHandle& file,
                                                                    std::size_t max_bytes) {
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
    // The folder held last, owned by `held_`.
    HANDLE last_folder_ = INVALID_HANDLE_VALUE;
};

}  // namespace

std::unique_ptr<FileReader> make_system_file_reader() {
    return std::make_unique<Win32FileReader>();
}

}  // namespace quorle::setup
