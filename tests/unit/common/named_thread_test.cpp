#include "common/named_thread.h"

#include <gtest/gtest.h>

#include <atomic>

namespace quorle {
namespace {

TEST(NamedThread, RunsTheBodyAndKeepsAtMost15BytesOnLinux) {
    std::atomic<bool> ran{false};
    auto thread = system_thread_launcher().launch("quorle-audio-control", [&] { ran = true; });
    ASSERT_TRUE(thread);
    thread->join();
    EXPECT_TRUE(ran.load());
#ifdef _WIN32
    EXPECT_EQ(effective_thread_name("quorle-audio-control"), "quorle-audio-control");
#else
    EXPECT_EQ(effective_thread_name("quorle-audio-control"), "quorle-audio-co");
#endif
    EXPECT_EQ(effective_thread_name("quorle-capture"), "quorle-capture");
}

TEST(NamedThread, StartFailureMessageNamesTheOsError) {
    const std::string text = thread_start_message("audio control thread: ", ThreadStartError{11});
    EXPECT_EQ(text.rfind("audio control thread: ", 0), 0u);
    EXPECT_NE(text.find(" (os error 11)"), std::string::npos);
    EXPECT_EQ(text.back(), ')');
}

// The runtime reports a failed thread start with an errno value (EAGAIN is 11 on both
// platforms): its text is the C library's for that value, on Windows too, where the system
// message of error 11 would describe something else entirely.
TEST(NamedThread, StartFailureTextIsTheErrorsOwn) {
    EXPECT_EQ(thread_start_message("capture worker: ", ThreadStartError{11}),
              "capture worker: Resource temporarily unavailable (os error 11)");
    EXPECT_EQ(thread_start_message("capture worker: ",
                                   std::make_error_code(std::errc::resource_unavailable_try_again)),
              "capture worker: Resource temporarily unavailable (os error 11)");
}

}  // namespace
}  // namespace quorle
