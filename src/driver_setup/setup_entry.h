#pragma once
// The driver setup program's entry, free of platform calls: check the command line, find
// the driver folder, run the setup and turn its outcome into the exit status.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>

#include "common/std_streams.h"
#include "driver_setup/own_executable.h"
#include "driver_setup/setup_result.h"

namespace quorle::setup {

using RunSetup = std::function<SetupResult(const std::filesystem::path& driver_folder)>;

// What the program learned before any decision was made.
struct EntryFacts {
    // Windows error code of the library search restriction done first thing (0: done).
    std::uint32_t library_search_error = 0;
    // The platform's own argument count, the program name included.
    std::size_t argument_count = 0;
};

// Fails when the library search could not be restricted, then when the argument count is
// not exactly one (before the own path is looked up); otherwise finds the driver folder and
// runs `run` with it. Returns the exit status (0, 3010 or 1) after writing the failure line
// to `err` when the run failed.
[[nodiscard]] int run_driver_setup(const EntryFacts& facts, OwnExecutable& own, const RunSetup& run,
                                   OutputStream& err);

// The whole program entry on the running platform: restricts the library search first,
// prepares the standard streams, and runs the above with the real own path and standard
// error.
[[nodiscard]] int driver_setup_main(int argc, char** argv, const RunSetup& run);

}  // namespace quorle::setup
