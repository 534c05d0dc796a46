#pragma once
// Test doubles for the driver setup seams: scripted answers, every call recorded.
#include <cstdint>
#include <expected>
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "common/std_streams.h"
#include "driver_setup/file_reader.h"
#include "driver_setup/own_executable.h"

namespace quorle::setup::testing {

// Standard error as a string; `broken` makes every write fail like a missing stream.
class StringStream final : public OutputStream {
  public:
    std::string text;
    bool broken = false;
    int writes = 0;
    Status write(std::string_view bytes) override {
        ++writes;
        if (broken) return fail("broken");
        text.append(bytes);
        return {};
    }
};

class FakeOwnExecutable final : public OwnExecutable {
  public:
    std::expected<std::filesystem::path, std::uint32_t> answer =
        std::filesystem::path("/opt/quorle/quorle_driver_setup");
    int calls = 0;
    std::expected<std::filesystem::path, std::uint32_t> path() override {
        ++calls;
        return answer;
    }
};

// Files by full path; a path without an entry is absent (open error 2). Folders can be held
// unless listed in `refused_folders`; the held folder's final path is `final_path`.
class FakeFileReader final : public FileReader {
  public:
    std::map<std::filesystem::path, std::expected<std::string, FileReadError>> files;
    std::map<std::filesystem::path, FileReadError> refused_folders;
    std::vector<std::filesystem::path> reads;
    std::vector<std::size_t> limits;
    mutable std::vector<std::string> calls;  // "hold <path>", "read <path>", "final path"
    std::expected<std::filesystem::path, std::uint32_t> final_path =
        std::filesystem::path("C:\\held\\vbcable");

    std::expected<void, FileReadError> hold_folder(const std::filesystem::path& path) override {
        calls.push_back("hold " + path.string());
        const auto refused = refused_folders.find(path);
        if (refused != refused_folders.end()) return std::unexpected(refused->second);
        return {};
    }

    std::expected<std::string, FileReadError> read_regular_file(const std::filesystem::path& path,
                                                                std::size_t max_bytes) override {
        calls.push_back("read " + path.string());
        reads.push_back(path);
        limits.push_back(max_bytes);
        const auto found = files.find(path);
        if (found == files.end()) {
            return std::unexpected(FileReadError{FileReadError::Kind::open, 2});
        }
        return found->second;
    }

    std::expected<std::filesystem::path, std::uint32_t> held_folder_final_path() const override {
        calls.emplace_back("final path");
        return final_path;
    }
};

}  // namespace quorle::setup::testing
