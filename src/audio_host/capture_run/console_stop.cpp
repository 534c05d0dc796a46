#include "audio_host/capture_run/console_stop.h"

namespace quorle::host {
namespace {

bool ends_process_on_return(std::uint32_t event) {
    return event == kCtrlCloseEvent || event == kCtrlLogoffEvent || event == kCtrlShutdownEvent;
}

}  // namespace

bool ConsoleStop::handle_control_event(std::uint32_t event) {
    request();
    if (!ends_process_on_return(event)) return true;
    const TimedWait::time_point deadline = time_.now() + kConsoleShutdownGrace;
    std::unique_lock lock(mutex_);
    while (!finished_ && time_.now() < deadline) {
        time_.wait_until(finished_changed_, lock, deadline);
    }
    return true;
}

void ConsoleStop::finish_shutdown() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    finished_changed_.notify_all();
}

ConsoleStop& process_console_stop() {
    static ConsoleStop stop(system_timed_wait());
    return stop;
}

}  // namespace quorle::host
