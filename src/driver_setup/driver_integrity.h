#pragma once
// The check that every shipped driver file is byte for byte the file that was packaged.
#include <cstddef>
#include <filesystem>
#include <string_view>

#include "common/result.h"
#include "driver_setup/file_reader.h"

namespace quorle::setup {

// No shipped driver file comes near this size; a larger file can never match its digest and
// is reported as unreadable instead of being pulled into memory.
inline constexpr std::size_t kMaxBundledFileBytes = std::size_t{1} << 30;

// Reads `manifest_text` and checks its entries in ascending byte order of their names: each
// name must be one path component, the file `driver_folder` + separator + name must be a
// readable regular file, and the SHA-256 of its whole content must equal the expected digest
// exactly. The first failing entry ends the check with its message; files the manifest does
// not name are never touched. Before the first file is read, the folder holding the driver
// folder and then the driver folder itself are held through `reader` (a folder that cannot
// be held fails like a missing first file), and `reader` keeps holding them and every file
// it read: the caller keeps it until the files are no longer used.
[[nodiscard]] Status verify_driver_files(const std::filesystem::path& driver_folder,
                                         std::string_view manifest_text, FileReader& reader);

}  // namespace quorle::setup
