// quorle_driver_setup: verifies the shipped VB-CABLE package beside the program against the
// compiled-in digests, detects the cables, and installs VB-CABLE only when no device of it
// exists. Reports through its exit status (0, 3010 or 1) and, on failure, one tagged line on
// standard error. Windowless; takes no arguments.
#include <memory>

#include "audio/cable/system_cable_detection.h"
#include "driver_setup/driver_integrity.h"
#include "driver_setup/embedded_manifest.h"
#include "driver_setup/file_reader.h"
#include "driver_setup/install/cable_install.h"
#include "driver_setup/install/device_installer.h"
#include "driver_setup/run_setup.h"
#include "driver_setup/setup_entry.h"
#include "driver_setup/sha256_digest.h"

namespace {

// The steps of one run. The verified driver files and their folders stay held until the run
// ends, so that the installation uses the very files that were checked.
class ProgramSteps final : public quorle::setup::SetupSteps {
  public:
    quorle::Status verify_driver_files(const std::filesystem::path& driver_folder) override {
        return quorle::setup::verify_driver_files(driver_folder, quorle::setup::embedded_manifest(),
                                                  *files_);
    }
    quorle::Result<quorle::audio::CableReport> detect_cables() override {
        return quorle::audio::detect_cables();
    }
    // From the driver folder that the check holds, by the path it has now, not by the name
    // that led to it then.
    quorle::setup::SetupResult install_cable_driver(const std::filesystem::path&) override {
        return quorle::setup::install_held_cable_driver(*files_,
                                                        quorle::setup::system_device_installer());
    }

  private:
    std::unique_ptr<quorle::setup::FileReader> files_ = quorle::setup::make_system_file_reader();
};

}  // namespace

int main(int argc, char** argv) {
    return quorle::setup::driver_setup_main(
        argc, argv, [](const std::filesystem::path& driver_folder) {
            // Before anything else touches the digest library, so that it never reads a
            // configuration file. A failure needs no handling here: every digest then fails,
            // and the integrity check with it.
            static_cast<void>(quorle::setup::prepare_digest_library());
            ProgramSteps steps;
            return quorle::setup::run_setup(driver_folder, steps);
        });
}
