#include "driver_setup/whole_content.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace quorle::setup {
namespace {

// An open file whose reads return at most `step` bytes each and fail at `fail_at` bytes.
struct ScriptedFile {
    std::string content;
    std::size_t step = 1 << 20;
    std::size_t fail_at = std::string::npos;
    std::size_t position = 0;
    int calls = 0;

    std::expected<std::size_t, FileReadError> operator()(char* buffer, std::size_t size) {
        ++calls;
        if (position >= fail_at)
            return std::unexpected(FileReadError{FileReadError::Kind::read, 5});
        const std::size_t n = std::min({size, step, content.size() - position});
        std::copy_n(content.data() + position, n, buffer);
        position += n;
        return n;
    }
};

std::string pattern(std::size_t size) {
    std::string text(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(i * 7 % 256);
    return text;
}

TEST(ReadToEnd, ReadsTheWholeContentWhateverTheSizeHintSays) {
    struct Row {
        std::size_t size;
        std::size_t hint;
        std::size_t step;
    };
    const Row rows[] = {
        {0, 0, 1 << 20},         {1, 1, 1 << 20},
        {100, 100, 1},           {100, 10, 7},  // the file grew after its size was taken
        {10, 100, 1 << 20},                     // the file shrank
        {200000, 0, 4096},                      // a file that reports no size at all
        {200000, 200000, 65536},
    };
    for (const Row& row : rows) {
        ScriptedFile file{pattern(row.size), row.step};
        const auto content = read_to_end(std::ref(file), row.hint, 1 << 20);
        ASSERT_TRUE(content.has_value()) << row.size << " " << row.hint;
        EXPECT_EQ(*content, file.content) << row.size << " " << row.hint;
    }
}

TEST(ReadToEnd, EnforcesTheLimitExactly) {
    struct Row {
        std::size_t size;
        std::size_t hint;
        std::size_t max;
        bool fits;
        int most_calls;  // a refused hint must not read at all
    };
    const Row rows[] = {
        {10, 10, 10, true, 3},       {11, 10, 10, false, 3}, {11, 11, 10, false, 0},
        {0, 0, 0, true, 1},          {1, 0, 0, false, 1},    {70000, 0, 70000, true, 4},
        {70001, 0, 70000, false, 4},
    };
    for (const Row& row : rows) {
        ScriptedFile file{pattern(row.size)};
        const auto content = read_to_end(std::ref(file), row.hint, row.max);
        EXPECT_EQ(content.has_value(), row.fits) << row.size << "/" << row.max;
        if (!row.fits) {
            EXPECT_EQ(content.error().kind, FileReadError::Kind::too_large);
        } else {
            EXPECT_EQ(*content, file.content);
        }
        EXPECT_LE(file.calls, row.most_calls) << row.size << "/" << row.max;
    }
}

TEST(ReadToEnd, AFailedReadPartWayIsReported) {
    ScriptedFile file{pattern(1000), 100, 300};
    const auto content = read_to_end(std::ref(file), 1000, 1 << 20);
    ASSERT_FALSE(content.has_value());
    EXPECT_EQ(content.error(), (FileReadError{FileReadError::Kind::read, 5}));
}

TEST(ReadToEnd, AnUnallocatableSizeFailsAsTooLarge) {
    ScriptedFile file;
    const std::size_t huge = std::string().max_size() + std::size_t{1};
    const auto content = read_to_end(std::ref(file), huge, huge);
    ASSERT_FALSE(content.has_value());
    EXPECT_EQ(content.error().kind, FileReadError::Kind::too_large);
    EXPECT_EQ(file.calls, 0);
}

}  // namespace
}  // namespace quorle::setup
