#pragma once
// A fresh folder under the system's temporary folder, removed with everything in it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>
#include <system_error>

namespace quorle::setup::testing {

class TempFolder {
  public:
    TempFolder() {
        // Tests of several builds may run at once: a random part keeps their folders apart.
        std::random_device random;
        const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
        for (;;) {
            path_ = std::filesystem::temp_directory_path() /
                    ("quorle-setup-" + std::string(test != nullptr ? test->name() : "test") + "-" +
                     std::to_string(random()) + std::to_string(random()));
            if (std::filesystem::create_directory(path_)) break;
        }
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

    // Writes `bytes` exactly to `name` inside the folder and returns its full path.
    std::filesystem::path write(const std::filesystem::path& name, std::string_view bytes) const {
        const std::filesystem::path file = path_ / name;
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << file;
        return file;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace quorle::setup::testing
