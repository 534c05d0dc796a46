// The program entry on the running platform, shared by the program and its test builds so
// that every build starts the same way.
#include "common/process_env.h"
#include "common/std_streams.h"
#include "driver_setup/library_search.h"
#include "driver_setup/setup_entry.h"

namespace quorle::setup {

int driver_setup_main(int argc, char** argv, const RunSetup& run) {
    EntryFacts facts;
    // Before anything else can load a library.
    facts.library_search_error = restrict_library_search();
    init_standard_streams();
    facts.argument_count = command_line_argument_count(argc, argv);
    return run_driver_setup(facts, system_own_executable(), run, standard_error());
}

}  // namespace quorle::setup
