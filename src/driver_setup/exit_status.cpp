#include "driver_setup/exit_status.h"

#include <variant>

namespace quorle::setup {

std::string failure_line(std::string_view message) {
    std::string line = "QUORLE_DRIVER_SETUP ";
    line += message;
    line += '\n';
    return line;
}

int exit_status_for(const SetupResult& result, OutputStream& err) {
    if (const auto* success = std::get_if<SetupSuccess>(&result)) {
        return success->restart_required ? kExitRestartRequired : kExitSuccess;
    }
    // The status is the report; the line only explains it, so its loss is not a new failure.
    (void)err.write(failure_line(std::get<SetupFailure>(result).message));
    return kExitFailure;
}

}  // namespace quorle::setup
