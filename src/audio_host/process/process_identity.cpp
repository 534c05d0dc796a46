#include "audio_host/process/process_identity.h"

#include "common/text.h"

namespace quorle::host {

Result<ProcessIdentity> read_process_identity(ProcessPlatform& platform, std::uint32_t pid) {
    RawResult<RawHandle> opened = platform.open_process(pid);
    if (!opened) return fail(raw_context_error("open process", opened.error()));
    ProcessHandle handle(platform, *opened);

    RawResult<std::u16string> image = platform.process_image_name(handle.raw(), pid);
    if (!image) return fail(raw_context_error("process executable", image.error()));

    const RawResult<std::uint64_t> created = platform.process_creation_time(handle.raw(), pid);
    if (!created) return fail(raw_context_error("process identity", created.error()));

    return ProcessIdentity{utf16_to_utf8(*image), std::move(handle), *created};
}

bool is_running(ProcessPlatform& platform, const ProcessIdentity& identity) {
    if (!identity.handle.valid()) return false;
    return platform.wait_process(identity.handle.raw()) == kWaitTimedOut;
}

bool identity_matches(const ProcessIdentity& identity, const CaptureRequest& request) {
    if (!request.expected_exe || !request.expected_start) return false;
    return equals_ignore_ascii_case(identity.exe, *request.expected_exe) &&
           identity.creation_time == *request.expected_start;
}

}  // namespace quorle::host
