#include "fakes/fake_process_platform.h"

#include <algorithm>

namespace quorle::host::fakes {

FakeProcessPlatform::Process& FakeProcessPlatform::add(std::uint32_t pid, std::uint32_t parent,
                                                       std::u16string exe,
                                                       std::uint64_t creation_time) {
    snapshot.push_back({pid, parent});
    Process& process = processes[pid];
    process.exe = std::move(exe);
    process.creation_time = creation_time;
    return process;
}

std::optional<RawError> FakeProcessPlatform::scripted_failure(Call call) {
    const int nth = ++call_counts_[call];
    const auto found = failures_.find({call, nth});
    if (found == failures_.end()) return std::nullopt;
    return found->second;
}

RawHandle FakeProcessPlatform::new_token() {
    return next_token_++;
}

bool FakeProcessPlatform::check_process(RawHandle process, std::uint32_t pid, const char* call) {
    const auto found = processes_open_.find(process);
    if (found == processes_open_.end()) {
        misuse_.push_back(std::string(call) + " on " + name(process) + ", which is not open");
        return false;
    }
    if (found->second != pid) {
        misuse_.push_back(std::string(call) + " on " + name(process) + " with pid " +
                          std::to_string(pid) + ", opened for " + std::to_string(found->second));
    }
    return true;
}

RawResult<RawHandle> FakeProcessPlatform::create_process_snapshot() {
    if (auto error = scripted_failure(Call::CreateSnapshot)) {
        events_.push_back("snapshot failed");
        return std::unexpected(*error);
    }
    const RawHandle handle = new_token();
    snapshots_open_[handle] = 0;
    events_.push_back("snapshot -> " + name(handle));
    return handle;
}

RawResult<ProcessEntry> FakeProcessPlatform::first_process(RawHandle handle) {
    events_.push_back("first " + name(handle));
    const auto found = snapshots_open_.find(handle);
    if (found == snapshots_open_.end()) {
        misuse_.push_back("first_process on " + name(handle) + ", which is not open");
        return std::unexpected(RawError(0x80070006));
    }
    if (auto error = scripted_failure(Call::FirstProcess)) return std::unexpected(*error);
    found->second = 0;
    if (snapshot.empty()) return std::unexpected(RawError(kNoMoreEntries));
    found->second = 1;
    return snapshot.front();
}

RawResult<ProcessEntry> FakeProcessPlatform::next_process(RawHandle handle) {
    events_.push_back("next " + name(handle));
    const auto found = snapshots_open_.find(handle);
    if (found == snapshots_open_.end()) {
        misuse_.push_back("next_process on " + name(handle) + ", which is not open");
        return std::unexpected(RawError(0x80070006));
    }
    if (auto error = scripted_failure(Call::NextProcess)) return std::unexpected(*error);
    if (found->second >= snapshot.size()) return std::unexpected(RawError(kNoMoreEntries));
    return snapshot[found->second++];
}

void FakeProcessPlatform::close_snapshot(RawHandle handle) {
    events_.push_back("close " + name(handle));
    if (snapshots_open_.erase(handle) == 0) {
        misuse_.push_back("close_snapshot on " + name(handle) + ", which is not open");
    }
}

RawResult<RawHandle> FakeProcessPlatform::open_process(std::uint32_t pid) {
    const std::string call = "open " + std::to_string(pid);
    std::optional<RawError> error = scripted_failure(Call::OpenProcess);
    const auto process = processes.find(pid);
    if (!error && process == processes.end()) error = RawError(0x80070057);  // invalid parameter
    if (!error && process->second.open_error) error = process->second.open_error;
    if (error) {
        events_.push_back(call + " failed");
        return std::unexpected(*error);
    }
    const RawHandle handle = new_token();
    processes_open_[handle] = pid;
    peak_open_processes_ = std::max(peak_open_processes_, processes_open_.size());
    events_.push_back(call + " -> " + name(handle));
    return handle;
}

RawResult<std::u16string> FakeProcessPlatform::process_image_name(RawHandle handle,
                                                                  std::uint32_t pid) {
    events_.push_back("image " + name(handle));
    if (!check_process(handle, pid, "process_image_name")) {
        return std::unexpected(RawError(0x80070006));
    }
    if (auto error = scripted_failure(Call::ImageName)) return std::unexpected(*error);
    const Process& process = processes.at(pid);
    if (process.image_error) return std::unexpected(*process.image_error);
    return process.exe;
}

RawResult<std::uint64_t> FakeProcessPlatform::process_creation_time(RawHandle handle,
                                                                    std::uint32_t pid) {
    events_.push_back("times " + name(handle));
    if (!check_process(handle, pid, "process_creation_time")) {
        return std::unexpected(RawError(0x80070006));
    }
    if (auto error = scripted_failure(Call::CreationTime)) return std::unexpected(*error);
    const Process& process = processes.at(pid);
    if (process.time_error) return std::unexpected(*process.time_error);
    return process.creation_time;
}

std::uint32_t FakeProcessPlatform::wait_process(RawHandle handle) {
    events_.push_back("wait " + name(handle));
    const auto found = processes_open_.find(handle);
    if (found == processes_open_.end()) {
        misuse_.push_back("wait_process on " + name(handle) + ", which is not open");
        return kWaitFailed;
    }
    return processes.at(found->second).wait_result;
}

void FakeProcessPlatform::close_process(RawHandle handle) {
    events_.push_back("close " + name(handle));
    if (processes_open_.erase(handle) == 0) {
        misuse_.push_back("close_process on " + name(handle) + ", which is not open");
    }
}

RawResult<std::vector<std::uint32_t>> FakeProcessPlatform::visible_window_pids() {
    events_.push_back("windows");
    if (auto error = scripted_failure(Call::VisibleWindows)) return std::unexpected(*error);
    return window_pids;
}

}  // namespace quorle::host::fakes
