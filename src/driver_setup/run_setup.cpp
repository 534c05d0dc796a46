#include "driver_setup/run_setup.h"

#include <optional>
#include <type_traits>
#include <utility>
#include <variant>

namespace quorle::setup {
namespace {

// What VB-CABLE's state means for the run: a final result, or nothing when the cable has to
// be installed.
std::optional<SetupResult> outcome_for(const audio::CableState& state) {
    return std::visit(
        [](const auto& variant) -> std::optional<SetupResult> {
            using State = std::decay_t<decltype(variant)>;
            if constexpr (std::is_same_v<State, audio::NotInstalled>) {
                return std::nullopt;
            } else if constexpr (std::is_same_v<State, audio::EndpointsMissing> ||
                                 std::is_same_v<State, audio::RestartRequired>) {
                // The device exists; Windows finishes setting it up on the next start.
                return SetupSuccess{true};
            } else if constexpr (std::is_same_v<State, audio::Problem>) {
                return SetupFailure{variant.message};
            } else {
                static_assert(std::is_same_v<State, audio::Ready>);
                return SetupSuccess{false};
            }
        },
        state);
}

}  // namespace

SetupResult run_setup(const std::filesystem::path& driver_folder, SetupSteps& steps) {
    if (Status verified = steps.verify_driver_files(driver_folder); !verified) {
        return SetupFailure{std::move(verified).error()};
    }
    Result<audio::CableReport> report = steps.detect_cables();
    if (!report) return SetupFailure{std::move(report).error()};
    if (std::optional<SetupResult> decided = outcome_for(report->vb_cable.state)) {
        return *std::move(decided);
    }
    return steps.install_cable_driver(driver_folder);
}

}  // namespace quorle::setup
