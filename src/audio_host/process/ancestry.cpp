#include "audio_host/process/ancestry.h"

#include <set>
#include <variant>

namespace quorle::host {

Result<bool> is_ancestor_or_self(const ProcessMap& map, std::uint32_t sought, std::uint32_t start) {
    std::set<std::uint32_t> visited;
    std::uint32_t current = start;
    while (true) {
        // Id 0 (the idle process, or the parent of a root) ends every walk.
        if (current == 0) return false;
        // Tested before the visited set, so a walk that starts at the sought id finds it.
        if (current == sought) return true;
        if (!visited.insert(current).second) return fail("cyclic process ancestry");
        const auto parent = map.find(current);
        if (parent == map.end()) return false;
        current = parent->second;
    }
}

Status check_ancestry(const ProcessMap& map, const CaptureRequest& request, std::uint32_t own_pid) {
    const auto own = map.find(own_pid);
    if (own == map.end() || own->second != request.excluded_pid) {
        return fail("excluded PID must be the helper's parent application");
    }
    if (!map.contains(request.excluded_pid)) return fail("parent process is no longer present");

    const auto* target = std::get_if<ProcessTarget>(&request.target);
    if (target == nullptr) return {};
    if (!map.contains(target->pid)) return fail("selected process is no longer present");

    static constexpr const char* kInsideOrAbove =
        "selected process tree includes the translator or belongs to it";
    // The target is the translator or one of its descendants.
    QUORLE_ASSIGN_OR_RETURN(const bool below,
                            is_ancestor_or_self(map, request.excluded_pid, target->pid));
    if (below) return fail(kInsideOrAbove);
    // The target is an ancestor of the translator, so its tree holds the translator.
    QUORLE_ASSIGN_OR_RETURN(const bool above,
                            is_ancestor_or_self(map, target->pid, request.excluded_pid));
    if (above) return fail(kInsideOrAbove);
    return {};
}

}  // namespace quorle::host
