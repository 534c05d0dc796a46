// The platform's own-path lookup in a real process.
#include "driver_setup/own_executable.h"

#include <gtest/gtest.h>

namespace quorle::setup {
namespace {

TEST(SystemOwnExecutable, NamesThisTestProgram) {
    const auto own = system_own_executable().path();
    ASSERT_TRUE(own.has_value()) << own.error();
    EXPECT_TRUE(own->is_absolute()) << *own;
    EXPECT_TRUE(std::filesystem::is_regular_file(*own)) << *own;
#ifdef _WIN32
    EXPECT_EQ(own->filename(), std::filesystem::path(L"driver_setup_platform_tests.exe"));
#else
    EXPECT_EQ(*own, std::filesystem::read_symlink("/proc/self/exe"));
#endif
}

}  // namespace
}  // namespace quorle::setup
