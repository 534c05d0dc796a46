#include "audio_host/capture_run/console_stop.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "fake_time.h"

namespace quorle::host {
namespace {

using namespace std::chrono_literals;
using testing::FakeTime;

using Next = ConsoleHandlerNext;

// For each event: whether the handler waits for the run's shutdown. Without a shutdown, an
// ending event gives up after the grace period exactly and returns.
TEST(ConsoleStop, EveryEventSetsTheFlagAndOnlyEndingEventsWait) {
    const std::vector<std::pair<std::uint32_t, bool>> cases = {
        {kCtrlCEvent, false},     {kCtrlBreakEvent, false},   {kCtrlCloseEvent, true},
        {kCtrlLogoffEvent, true}, {kCtrlShutdownEvent, true}, {3, false},  // unknown code
    };
    for (const auto& [event, waits] : cases) {
        SCOPED_TRACE(event);
        FakeTime time;
        ConsoleStop stop(time);
        EXPECT_FALSE(stop.flag().load());
        EXPECT_EQ(stop.handle_control_event(event), Next::Return);
        EXPECT_TRUE(stop.flag().load());
        EXPECT_EQ(time.elapsed(), waits ? std::chrono::nanoseconds(kConsoleShutdownGrace) : 0s);
    }
}

// After the run's shutdown (finished before the event, or while it waits): a close event's
// handler never returns, so that the run's own exit ends the process; every other event
// returns.
TEST(ConsoleStop, AfterTheShutdownOnlyACloseEventKeepsWaiting) {
    struct Case {
        std::uint32_t event;
        std::chrono::milliseconds finished_at;  // 0: before the event
        Next next;
    };
    const std::vector<Case> cases = {
        {kCtrlCloseEvent, 0ms, Next::KeepWaiting}, {kCtrlCloseEvent, 1500ms, Next::KeepWaiting},
        {kCtrlCEvent, 0ms, Next::Return},          {kCtrlBreakEvent, 0ms, Next::Return},
        {kCtrlLogoffEvent, 1500ms, Next::Return},  {kCtrlShutdownEvent, 0ms, Next::Return},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(std::to_string(test.event) + " at " +
                     std::to_string(test.finished_at.count()));
        FakeTime time;
        ConsoleStop stop(time);
        if (test.finished_at == 0ms) {
            stop.finish_shutdown();
        } else {
            time.at(test.finished_at, [&stop] { stop.finish_shutdown(); });
        }
        EXPECT_EQ(stop.handle_control_event(test.event), test.next);
        EXPECT_TRUE(stop.flag().load());
        const bool waits = test.event != kCtrlCEvent && test.event != kCtrlBreakEvent;
        EXPECT_EQ(time.elapsed(), waits ? std::chrono::nanoseconds(test.finished_at) : 0s);
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
