// end_process_now on the real platform, in a child process (a death test): the process ends
// with the given status, and nothing registered to run at exit runs, neither an atexit
// handler nor a static object's destructor. Runs natively and, in the Windows build, under
// Wine.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "common/process_env.h"

namespace quorle {
namespace {

struct SaysWhenDestroyed {
    ~SaysWhenDestroyed() { std::fputs("static destructor ran\n", stderr); }
};

void end_after_registering_exit_work(int status) {
    static SaysWhenDestroyed object;
    (void)object;
    (void)std::atexit([] { std::fputs("atexit handler ran\n", stderr); });
    end_process_now(status);
}

TEST(EndProcessNow, EndsWithTheStatusAndRunsNoExitWork) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const int status : {0, 1, 7}) {
        SCOPED_TRACE(status);
        EXPECT_EXIT(end_after_registering_exit_work(status), testing::ExitedWithCode(status),
                    testing::Not(testing::HasSubstr("ran")));
    }
}

}  // namespace
}  // namespace quorle
