#include "audio_host/capture_run/console_stop.h"

namespace quorle::host {
namespace {

bool ends_process_on_return(std::uint32_t event) {
    return event == kCtrlCloseEvent || event == kCtrlLogoffEvent || event == kCtrlShutdownEvent;
}

}  // namespace

ConsoleHandlerNext ConsoleStop::handle_control_event(std::uint32_t event) {
    request();
    if (!ends_process_on_return(event)) return ConsoleHandlerNext::Return;
    const TimedWait::time_point deadline = time_.now() + kConsoleShutdownGrace;
    std::unique_lock lock(mutex_);
    while (!finished_ && time_.now() < deadline) {
        time_.wait_until(finished_changed_, lock, deadline);
    }
    // Returning from a close event ends the process with the system's status; after the
    // ordered shutdown the run's own exit comes shortly, so the handler waits for it.
    if (finished_ && event == kCtrlCloseEvent) return ConsoleHandlerNext::KeepWaiting;
    return ConsoleHandlerNext::Return;
}

void ConsoleStop::finish_shutdown() {
    std::lock_guard lock(mutex_);
    finished_ = true;
    finished_changed_.notify_all();
}

ConsoleStop& process_console_stop() {
    // Deliberately never destroyed (see the header).
    static ConsoleStop* const stop = new ConsoleStop(system_timed_wait());
    return *stop;
}

}  // namespace quorle::host
