#pragma once
// The outcome of one driver setup run and of each of its steps.
#include <string>
#include <variant>

namespace quorle::setup {

struct SetupSuccess {
    bool restart_required = false;  // Windows must restart before the cable can be used
    friend bool operator==(const SetupSuccess&, const SetupSuccess&) = default;
};

struct SetupFailure {
    std::string message;  // UTF-8, no line break
    friend bool operator==(const SetupFailure&, const SetupFailure&) = default;
};

using SetupResult = std::variant<SetupSuccess, SetupFailure>;

// Exit statuses of the program.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitRestartRequired = 3010;  // ERROR_SUCCESS_REBOOT_REQUIRED
inline constexpr int kExitFailure = 1;

}  // namespace quorle::setup
