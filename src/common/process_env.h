#pragma once
// Process basics that every program entry needs: its arguments as UTF-8 and the presence of
// environment variables.
#include <string>
#include <vector>

namespace quorle {

// The command-line arguments after the program name, as UTF-8.
// Windows: split from the wide command line by the system's rules (CommandLineToArgvW).
// Linux: argv bytes; invalid UTF-8 becomes U+FFFD.
[[nodiscard]] std::vector<std::string> command_line_arguments(int argc, char** argv);

// The number of arguments the platform's own splitting sees, the program name included.
[[nodiscard]] std::size_t command_line_argument_count(int argc, char** argv);

// True when the environment variable exists, whatever its value (also empty).
[[nodiscard]] bool environment_variable_present(const char* name);

}  // namespace quorle
