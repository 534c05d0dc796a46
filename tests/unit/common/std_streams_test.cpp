#include "common/std_streams.h"

#include <gtest/gtest.h>

#include <deque>
#include <mutex>
#include <string>
#include <vector>

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

    // Answers of wait_for_room, one per call; exhausted: room at once.
    std::deque<bool> room;
    int room_waits = 0;
    std::vector<std::size_t> sizes;  // the size offered to each write call

    bool wait_for_room(std::chrono::milliseconds limit) override {
        EXPECT_EQ(limit, kWriteWaitSlice);
        ++room_waits;
        if (room.empty()) return true;
        const bool answer = room.front();
        room.pop_front();
        return answer;
    }

    WriteOutcome write_some(const char* data, std::size_t size) override {
        ++calls;
        sizes.push_back(size);
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

// Says "go on" a given number of times, then "stop".
class CountedWait final : public WriteWait {
  public:
    explicit CountedWait(int allowed) : allowed_(allowed) {}
    bool keep_writing() override { return asked++ < allowed_; }
    int asked = 0;

  private:
    int allowed_;
};

// A stoppable write asks before every write call and after every slice without room; short
// and interrupted writes go on as long as it says so, and only its "stop" ends the write
// early, keeping what was already written.
TEST(WriteAll, StoppableWriteGoesOnUntilTold) {
    struct Case {
        const char* name;
        std::deque<bool> room;
        std::deque<WriteOutcome> script;
        int allowed;  // answers "go on" before the first "stop"
        bool completes;
        std::string written;  // of "0123456789"
        int calls;
        int asked;
    };
    const std::vector<Case> cases = {
        {"room at once", {}, {}, 99, true, "0123456789", 1, 1},
        {"short and interrupted writes",
         {},
         {{3, 0, false}, {0, 0, true}, {2, 0, false}},
         99,
         true,
         "0123456789",
         4,
         4},
        {"slices without room", {false, false, true}, {}, 99, true, "0123456789", 1, 3},
        {"stop while waiting for room", {false, false, false}, {}, 3, false, "", 0, 4},
        {"stop between short writes", {}, {{4, 0, false}, {2, 0, false}}, 2, false, "012345", 2, 3},
        {"stop before anything", {}, {}, 0, false, "", 0, 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        ScriptedWriter writer;
        writer.room = test.room;
        writer.script = test.script;
        CountedWait wait(test.allowed);
        const Status status = write_all(writer, "0123456789", &wait);
        EXPECT_EQ(static_cast<bool>(status), test.completes);
        if (!test.completes) {
            EXPECT_EQ(status.error(), kWriteStopped);
        }
        EXPECT_EQ(writer.written, test.written);
        EXPECT_EQ(writer.calls, test.calls);
        EXPECT_EQ(wait.asked, test.asked);
    }
}

// A stoppable write hands over at most one pipe's atomic size per call, so that a call made
// after poll() reported room cannot block; a plain write hands over everything at once.
TEST(LockedStream, WriteIfFreeWritesNothingWhileAnotherWriteHoldsTheStream) {
    ScriptedWriter writer;
    std::mutex lock;
    LockedStream stream(writer, lock);
    {
        const std::lock_guard<std::mutex> other(lock);
        const Status busy = stream.write_if_free("held");
        ASSERT_FALSE(busy);
        EXPECT_EQ(busy.error(), kStreamBusy);
        EXPECT_EQ(writer.calls, 0);
    }
    EXPECT_TRUE(stream.write_if_free("free"));
    EXPECT_EQ(writer.written, "free");
}

TEST(WriteAll, StoppableWriteCallsAreBoundedByThePipeSize) {
    const std::string bytes(2 * kStoppableWriteChunk + 5, 'x');
    ScriptedWriter stoppable;
    CountedWait wait(99);
    ASSERT_TRUE(write_all(stoppable, bytes, &wait));
    EXPECT_EQ(stoppable.sizes,
              (std::vector<std::size_t>{kStoppableWriteChunk, kStoppableWriteChunk, 5}));
    EXPECT_EQ(stoppable.room_waits, 3);
    ScriptedWriter plain;
    ASSERT_TRUE(write_all(plain, bytes));
    EXPECT_EQ(plain.sizes, (std::vector<std::size_t>{bytes.size()}));
    EXPECT_EQ(plain.room_waits, 0);
}

}  // namespace
}  // namespace quorle
