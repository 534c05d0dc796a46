#pragma once
// How a run's outcome leaves the program: the exit status and, on failure, one tagged line
// on standard error.
#include <string>
#include <string_view>

#include "common/std_streams.h"
#include "driver_setup/setup_result.h"

namespace quorle::setup {

// "QUORLE_DRIVER_SETUP " + message + "\n" (a bare line feed, no carriage return).
[[nodiscard]] std::string failure_line(std::string_view message);

// Maps `result` to the exit status: 0 on success, 3010 on success that needs a restart, 1 on
// failure after writing the failure line to `err`. A failed write (for instance a process
// without standard error) loses the line but never changes the status.
[[nodiscard]] int exit_status_for(const SetupResult& result, OutputStream& err);

}  // namespace quorle::setup
