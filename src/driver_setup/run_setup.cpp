#include "driver_setup/run_setup.h"

#include <string>

namespace quorle::setup {

SetupResult run_setup(const std::filesystem::path& driver_folder, SetupSteps& steps) {
    if (Status verified = steps.verify_driver_files(driver_folder); !verified) {
        return SetupFailure{std::move(verified).error()};
    }
    return SetupFailure{std::string(kDetectionUnavailable)};
}

}  // namespace quorle::setup
