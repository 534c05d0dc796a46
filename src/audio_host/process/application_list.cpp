#include "audio_host/process/application_list.h"

#include <set>

#include "audio_host/process/process_identity.h"
#include "common/json_text.h"

namespace quorle::host {

std::string_view application_label(std::string_view exe) {
    const std::size_t separator = exe.find_last_of("\\/");
    if (separator == std::string_view::npos) return exe;
    return exe.substr(separator + 1);
}

std::string application_list_json(const std::vector<ApplicationEntry>& entries) {
    std::string out = "[";
    for (const ApplicationEntry& entry : entries) {
        if (out.size() > 1) out += ',';
        out += '{';
        json::append_key(out, "id");
        json::append_string(out, "pid:" + std::to_string(entry.pid));
        out += ',';
        json::append_key(out, "label");
        json::append_string(out, application_label(entry.exe));
        out += ',';
        json::append_key(out, "exe");
        json::append_string(out, entry.exe);
        out += ',';
        json::append_key(out, "start_time");
        json::append_uint(out, entry.start_time);
        out += ',';
        json::append_key(out, "active");
        out += "false}";
    }
    out += ']';
    return out;
}

Status list_applications(ProcessPlatform& platform, OutputStream& out) {
    RawResult<std::vector<std::uint32_t>> window_pids = platform.visible_window_pids();
    if (!window_pids) {
        return fail(raw_context_error("enumerate application windows", window_pids.error()));
    }
    // Ascending, each process once; an unknown owner (0) names no process.
    std::set<std::uint32_t> pids(window_pids->begin(), window_pids->end());
    pids.erase(0);

    std::vector<ApplicationEntry> entries;
    for (const std::uint32_t pid : pids) {
        Result<ProcessIdentity> identity = read_process_identity(platform, pid);
        if (!identity || !is_running(platform, *identity)) continue;
        // Closed before the next process is opened: the list holds one handle at a time.
        identity->handle.reset();
        entries.push_back({pid, std::move(identity->exe), identity->creation_time});
    }
    return out.write(application_list_json(entries));
}

}  // namespace quorle::host
