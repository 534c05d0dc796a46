#include "driver_setup/setup_entry.h"

#include <string>

#include "driver_setup/driver_folder.h"
#include "driver_setup/exit_status.h"

namespace quorle::setup {
namespace {

SetupResult entry_result(const EntryFacts& facts, OwnExecutable& own, const RunSetup& run) {
    if (facts.library_search_error != 0) {
        return SetupFailure{"restrict library search: Windows error " +
                            std::to_string(facts.library_search_error)};
    }
    if (facts.argument_count != 1) return SetupFailure{"driver setup takes no arguments"};
    Result<std::filesystem::path> driver_folder = locate_driver_folder(own);
    if (!driver_folder) return SetupFailure{std::move(driver_folder).error()};
    return run(*driver_folder);
}

}  // namespace

int run_driver_setup(const EntryFacts& facts, OwnExecutable& own, const RunSetup& run,
                     OutputStream& err) {
    return exit_status_for(entry_result(facts, own, run), err);
}

}  // namespace quorle::setup
