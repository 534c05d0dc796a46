#pragma once
// The body of one driver setup run, over steps that the program (or a test) supplies.
#include <filesystem>
#include <string_view>

#include "common/result.h"
#include "driver_setup/setup_result.h"

namespace quorle::setup {

// The steps a run is made of. Each is called at most once per run.
class SetupSteps {
  public:
    virtual ~SetupSteps() = default;
    // Checks every shipped driver file against the compiled-in digests.
    [[nodiscard]] virtual Status verify_driver_files(
        const std::filesystem::path& driver_folder) = 0;
};

// The failure that ends a run once the files are verified: cable detection and installation
// are not part of this build yet, and a run must never claim success without them.
inline constexpr std::string_view kDetectionUnavailable =
    "cable detection is not available in this build yet";

// Verifies the driver files and reports the first failure unchanged.
[[nodiscard]] SetupResult run_setup(const std::filesystem::path& driver_folder, SetupSteps& steps);

}  // namespace quorle::setup
