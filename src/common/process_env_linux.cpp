#include <cstdlib>

#include "common/process_env.h"
#include "common/text.h"

namespace quorle {

std::vector<std::string> command_line_arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.push_back(bytes_to_utf8(argv[i]));
    return arguments;
}

std::size_t command_line_argument_count(int argc, char**) {
    return argc < 0 ? 0 : static_cast<std::size_t>(argc);
}

bool environment_variable_present(const char* name) {
    return std::getenv(name) != nullptr;
}

void end_process_now(int status) {
    std::_Exit(status);
}

}  // namespace quorle
