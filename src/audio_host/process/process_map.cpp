#include "audio_host/process/process_map.h"

#include "audio_host/process/process_handle.h"

namespace quorle::host {

Result<ProcessMap> snapshot_process_map(ProcessPlatform& platform) {
    RawResult<RawHandle> created = platform.create_process_snapshot();
    if (!created) return fail(raw_context_error("process snapshot", created.error()));
    const SnapshotHandle snapshot(platform, *created);

    RawResult<ProcessEntry> entry = platform.first_process(snapshot.raw());
    if (!entry) return fail(raw_context_error("first process", entry.error()));

    ProcessMap map;
    while (entry) {
        map.insert_or_assign(entry->pid, entry->parent_pid);
        entry = platform.next_process(snapshot.raw());
    }
    return map;
}

}  // namespace quorle::host
