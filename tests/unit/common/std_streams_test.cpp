#include "common/std_streams.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "common/platform_error.h"

namespace quorle {
namespace {

// A platform writer that answers each call from a script: accept up to N bytes, report an
// interruption, or fail with a code. An exhausted script accepts everything.
class ScriptedWriter final : public RawWriter {
  public:
    std::deque<WriteOutcome> script;
    std::string written;
    int calls = 0;

    WriteOutcome write_some(const char* data, std::size_t size) override {
        ++calls;
        WriteOutcome next{size, 0, false};
        if (!script.empty()) {
            next = script.front();
            script.pop_front();
        }
        if (next.interrupted || next.error != 0) return next;
        const std::size_t n = next.written < size ? next.written : size;
        written.append(data, n);
        return {n, 0, false};
    }
};

TEST(WriteAll, ContinuesShortWritesAndRepeatsInterruptedOnes) {
    ScriptedWriter writer;
    writer.script = {{3, 0, false}, {0, 0, true}, {2, 0, false}, {100, 0, false}};
    ASSERT_TRUE(write_all(writer, "0123456789"));
    EXPECT_EQ(writer.written, "0123456789");
    EXPECT_EQ(writer.calls, 4);
}

TEST(WriteAll, FailureCarriesThePlatformText) {
    ScriptedWriter writer;
    writer.script = {{4, 0, false}, {0, 32, false}};
    const Status status = write_all(writer, "0123456789");
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(), platform_error_text(32));
    EXPECT_EQ(writer.written, "0123");
}

TEST(WriteAll, AWriteThatAcceptsNothingIsAFailure) {
    ScriptedWriter writer;
    writer.script = {{0, 0, false}};
    const Status status = write_all(writer, "x");
    ASSERT_FALSE(status);
    EXPECT_EQ(status.error(), platform_error_text(no_progress_error_code()));
}

TEST(WriteAll, NothingToWriteMakesNoCall) {
    ScriptedWriter writer;
    EXPECT_TRUE(write_all(writer, ""));
    EXPECT_EQ(writer.calls, 0);
}

}  // namespace
}  // namespace quorle
