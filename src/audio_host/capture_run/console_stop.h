#pragma once
// The console stop flag and what the console control handler does with each event.
//
// Every control event sets the flag (release store) and is reported as handled, so the
// default handler does not end the process; the packet loop sees the flag at its next check.
// Ctrl+C and Ctrl+Break return at once. For a close event Windows ends the process as soon
// as the handler returns, so the handler waits, at most 4 seconds, until the run has
// stopped its audio client and its worker; once that has happened it keeps waiting (Windows
// bounds that wait itself), so that the process ends through the run's own exit with the
// run's own status. Logoff and shutdown events wait for the run the same way and then return.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "audio_host/capture_run/timed_wait.h"

namespace quorle::host {

// Console control event codes.
inline constexpr std::uint32_t kCtrlCEvent = 0;
inline constexpr std::uint32_t kCtrlBreakEvent = 1;
inline constexpr std::uint32_t kCtrlCloseEvent = 2;
inline constexpr std::uint32_t kCtrlLogoffEvent = 5;
inline constexpr std::uint32_t kCtrlShutdownEvent = 6;

// How long a close, logoff or shutdown event waits for the run's ordered shutdown.
inline constexpr std::chrono::seconds kConsoleShutdownGrace{4};

// What the handler thread does once the event has been handled.
enum class ConsoleHandlerNext {
    Return,       // return "handled" to the system
    KeepWaiting,  // never return: the process ends through the run's own exit meanwhile
};

class ConsoleStop {
  public:
    explicit ConsoleStop(TimedWait& time) : time_(time) {}
    ConsoleStop(const ConsoleStop&) = delete;
    ConsoleStop& operator=(const ConsoleStop&) = delete;

    // Sets the flag. Async-signal-safe (one lock-free atomic store).
    void request() noexcept { flag_.store(true, std::memory_order_release); }

    // The flag the packet loop reads (acquire).
    [[nodiscard]] const std::atomic<bool>& flag() const noexcept { return flag_; }

    // The console control handler's body for `event` (always "handled"); says whether the
    // handler thread then returns or keeps waiting.
    [[nodiscard]] ConsoleHandlerNext handle_control_event(std::uint32_t event);

    // Called by the run once its audio client and worker are stopped: releases a waiting
    // close, logoff or shutdown handler.
    void finish_shutdown();

  private:
    TimedWait& time_;
    std::atomic<bool> flag_{false};  // written by the handler, read by the packet loop
    std::mutex mutex_;
    std::condition_variable finished_changed_;
    bool finished_ = false;  // guarded by mutex_
};

static_assert(std::atomic<bool>::is_always_lock_free,
              "the console stop flag is set from a signal handler");

// The process's console stop, on real time. It is never destroyed: the handler stays
// installed for the whole process, and an event may come while static objects are destroyed.
[[nodiscard]] ConsoleStop& process_console_stop();

}  // namespace quorle::host
