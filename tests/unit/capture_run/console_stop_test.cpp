#include "audio_host/capture_run/console_stop.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "fake_time.h"

namespace quorle::host {
namespace {

using namespace std::chrono_literals;
using testing::FakeTime;

using Next = ConsoleHandlerNext;

// Every event sets the flag. Ending events (close, logoff, shutdown) wait for the run's
// shutdown: without one they give up after the grace period exactly and return; after it
// (finished before the event, or while it waits) a close event's handler never returns, so
// that the run's own exit ends the process, and every other event returns.
TEST(ConsoleStop, EveryEventSetsTheFlagAndOnlyEndingEventsWait) {
    constexpr std::chrono::milliseconds grace = kConsoleShutdownGrace;
    struct Case {
        std::uint32_t event;
        std::optional<std::chrono::milliseconds> finished_at;  // none: no shutdown; 0: before
        Next next;
        std::chrono::milliseconds waited;
    };
    const std::vector<Case> cases = {
        {kCtrlCEvent, std::nullopt, Next::Return, 0ms},
        {kCtrlBreakEvent, std::nullopt, Next::Return, 0ms},
        {kCtrlCloseEvent, std::nullopt, Next::Return, grace},
        {kCtrlLogoffEvent, std::nullopt, Next::Return, grace},
        {kCtrlShutdownEvent, std::nullopt, Next::Return, grace},
        {3, std::nullopt, Next::Return, 0ms},  // unknown code
        {kCtrlCloseEvent, 0ms, Next::KeepWaiting, 0ms},
        {kCtrlCloseEvent, 1500ms, Next::KeepWaiting, 1500ms},
        {kCtrlCEvent, 0ms, Next::Return, 0ms},
        {kCtrlBreakEvent, 0ms, Next::Return, 0ms},
        {kCtrlLogoffEvent, 1500ms, Next::Return, 1500ms},
        {kCtrlShutdownEvent, 0ms, Next::Return, 0ms},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.event) + " shutdown at " +
                     (test.finished_at ? std::to_string(test.finished_at->count()) : "never"));
        FakeTime time;
        ConsoleStop stop(time);
        EXPECT_FALSE(stop.flag().load());
        if (test.finished_at == 0ms) {
            stop.finish_shutdown();
        } else if (test.finished_at) {
            time.at(*test.finished_at, [&stop] { stop.finish_shutdown(); });
        }
        EXPECT_EQ(stop.handle_control_event(test.event), test.next);
        EXPECT_TRUE(stop.flag().load());
        EXPECT_EQ(time.elapsed(), std::chrono::nanoseconds(test.waited));
    }
}

TEST(ConsoleStop, HandlerThreadIsReleasedByTheRunThread) {
    ConsoleStop stop(system_timed_wait());
    std::thread handler(
        [&stop] { EXPECT_EQ(stop.handle_control_event(kCtrlLogoffEvent), Next::Return); });
    while (!stop.flag().load(std::memory_order_acquire))
        std::this_thread::yield();
    stop.finish_shutdown();
    handler.join();
}

TEST(ConsoleStop, RequestOnlySetsTheFlag) {
    FakeTime time;
    ConsoleStop stop(time);
    stop.request();
    EXPECT_TRUE(stop.flag().load());
    EXPECT_TRUE(time.waits().empty());
}

}  // namespace
}  // namespace quorle::host
