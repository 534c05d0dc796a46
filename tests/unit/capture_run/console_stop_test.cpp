#include "audio_host/capture_run/console_stop.h"

#include <gtest/gtest.h>

#include <thread>

#include "fake_time.h"

namespace quorle::host {
namespace {

using namespace std::chrono_literals;
using testing::FakeTime;

// For each event: whether the handler waits for the run's shutdown.
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
        EXPECT_TRUE(stop.handle_control_event(event));
        EXPECT_TRUE(stop.flag().load());
        // Without a shutdown, an ending event gives up after the grace period exactly.
        EXPECT_EQ(time.elapsed(), waits ? std::chrono::nanoseconds(kConsoleShutdownGrace) : 0s);
    }
}

TEST(ConsoleStop, EndingEventReturnsWhenTheRunHasShutDown) {
    FakeTime time;
    ConsoleStop stop(time);
    time.at(1500ms, [&stop] { stop.finish_shutdown(); });
    EXPECT_TRUE(stop.handle_control_event(kCtrlCloseEvent));
    EXPECT_EQ(time.elapsed(), 1500ms);
}

TEST(ConsoleStop, ShutdownAlreadyFinishedMeansNoWait) {
    FakeTime time;
    ConsoleStop stop(time);
    stop.finish_shutdown();
    EXPECT_TRUE(stop.handle_control_event(kCtrlShutdownEvent));
    EXPECT_EQ(time.elapsed(), 0s);
    EXPECT_TRUE(stop.flag().load());
}

TEST(ConsoleStop, HandlerThreadIsReleasedByTheRunThread) {
    ConsoleStop stop(system_timed_wait());
    std::thread handler([&stop] { EXPECT_TRUE(stop.handle_control_event(kCtrlLogoffEvent)); });
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
