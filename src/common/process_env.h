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

// Ends the process at once with `status`, running no further code of its own: no atexit
// handler and no static destructor (nor, on Windows, any DLL's detach routine). For a
// process that has left a thread running that may still use static objects.
// Windows: TerminateProcess on the process itself. ExitProcess (where _exit and _Exit end)
// first ends the other threads wherever they are, then calls every DLL's detach routine,
// which can wait for a lock that an ended thread held (the C runtime's heap or stream
// locks) and hang. Linux: _Exit (every thread ends with the process, nothing else runs).
[[noreturn]] void end_process_now(int status);

}  // namespace quorle
