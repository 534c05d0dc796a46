// quorle_driver_setup: verifies the shipped VB-CABLE package beside the program against the
// compiled-in digests and reports through its exit status (0, 3010 or 1) and, on failure,
// one tagged line on standard error. Windowless; takes no arguments.
#include "driver_setup/driver_integrity.h"
#include "driver_setup/embedded_manifest.h"
#include "driver_setup/run_setup.h"
#include "driver_setup/setup_entry.h"

namespace {

class ProgramSteps final : public quorle::setup::SetupSteps {
  public:
    quorle::Status verify_driver_files(const std::filesystem::path& driver_folder) override {
        return quorle::setup::verify_driver_files(driver_folder,
                                                  quorle::setup::embedded_manifest());
    }
};

}  // namespace

int main(int argc, char** argv) {
    return quorle::setup::driver_setup_main(
        argc, argv, [](const std::filesystem::path& driver_folder) {
            ProgramSteps steps;
            return quorle::setup::run_setup(driver_folder, steps);
        });
}
