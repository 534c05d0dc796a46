#pragma once
// The body of one driver setup run, over steps that the program (or a test) supplies.
#include <filesystem>

#include "audio/cable/cable_state.h"
#include "common/result.h"
#include "driver_setup/setup_result.h"

namespace quorle::setup {

// The steps a run is made of. Each is called at most once per run, in this order.
class SetupSteps {
  public:
    virtual ~SetupSteps() = default;
    // Checks every shipped driver file against the compiled-in digests.
    [[nodiscard]] virtual Status verify_driver_files(
        const std::filesystem::path& driver_folder) = 0;
    // Detects both cables; fails as a whole only when detection itself cannot run.
    [[nodiscard]] virtual Result<audio::CableReport> detect_cables() = 0;
    // Creates the cable device and installs its driver from the driver folder.
    [[nodiscard]] virtual SetupResult install_cable_driver(
        const std::filesystem::path& driver_folder) = 0;
};

// Verifies the driver files (on every run, also when the cable turns out to be ready), then
// detects the cables and acts on VB-CABLE's state alone: installs only when no VB-CABLE
// device exists, reports a needed restart for a device without its endpoints or one waiting
// for a restart, fails with a problem's message, and succeeds at once when it is ready. The
// first failure of a step ends the run with that step's message unchanged. Nothing existing
// is ever replaced or repaired.
[[nodiscard]] SetupResult run_setup(const std::filesystem::path& driver_folder, SetupSteps& steps);

}  // namespace quorle::setup
