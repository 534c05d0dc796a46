#pragma once
// A scripted ProcessPlatform: every answer comes from the fields below, any single call can
// be made to fail with any code, and every call and every release is recorded in order, so
// that tests can prove the step order and that each handle is closed exactly once.
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "audio_host/process/process_platform.h"

namespace quorle::host::fakes {

class FakeProcessPlatform final : public ProcessPlatform {
  public:
    enum class Call {
        CreateSnapshot,
        FirstProcess,
        NextProcess,
        OpenProcess,
        ImageName,
        CreationTime,
        VisibleWindows,
    };

    // A process that open_process can open.
    struct Process {
        std::u16string exe;
        std::uint64_t creation_time = 0;
        std::uint32_t wait_result = kWaitTimedOut;  // what a zero-time-out wait answers
        std::optional<RawError> open_error;
        std::optional<RawError> image_error;
        std::optional<RawError> time_error;
    };

    // The error the end of the snapshot reports (ERROR_NO_MORE_FILES as an HRESULT).
    static constexpr std::uint32_t kNoMoreEntries = 0x80070012;

    std::vector<ProcessEntry> snapshot;          // entries in the order the walk reads them
    std::map<std::uint32_t, Process> processes;  // by pid
    std::vector<std::uint32_t> window_pids;      // one per visible window
    std::uint32_t own_pid = 1;

    // Makes the `nth` call (1-based) of `call` fail with `error`.
    void fail_call(Call call, int nth, RawError error) { failures_[{call, nth}] = error; }

    // Adds a process to the snapshot and to the openable processes.
    Process& add(std::uint32_t pid, std::uint32_t parent, std::u16string exe,
                 std::uint64_t creation_time);

    // Every call and release in order, e.g. "open 12 -> h1", "image h1", "close h1".
    [[nodiscard]] const std::vector<std::string>& events() const { return events_; }
    // Handles (process and snapshot) currently open.
    [[nodiscard]] std::size_t open_handle_count() const {
        return processes_open_.size() + snapshots_open_.size();
    }
    // The most process handles that were open at the same time.
    [[nodiscard]] std::size_t peak_open_processes() const { return peak_open_processes_; }
    // Calls with a handle that was not open (closed twice, used after close, never opened).
    [[nodiscard]] const std::vector<std::string>& misuse() const { return misuse_; }

    RawResult<RawHandle> create_process_snapshot() override;
    RawResult<ProcessEntry> first_process(RawHandle snapshot) override;
    RawResult<ProcessEntry> next_process(RawHandle snapshot) override;
    void close_snapshot(RawHandle snapshot) override;
    RawResult<RawHandle> open_process(std::uint32_t pid) override;
    RawResult<std::u16string> process_image_name(RawHandle process, std::uint32_t pid) override;
    RawResult<std::uint64_t> process_creation_time(RawHandle process, std::uint32_t pid) override;
    std::uint32_t wait_process(RawHandle process) override;
    void close_process(RawHandle process) override;
    RawResult<std::vector<std::uint32_t>> visible_window_pids() override;
    std::uint32_t current_process_id() override { return own_pid; }

  private:
    std::optional<RawError> scripted_failure(Call call);
    RawHandle new_token();
    bool check_process(RawHandle process, std::uint32_t pid, const char* call);
    std::string name(RawHandle handle) const { return "h" + std::to_string(handle); }

    std::map<std::pair<Call, int>, RawError> failures_;
    std::map<Call, int> call_counts_;
    std::map<RawHandle, std::uint32_t> processes_open_;  // handle -> pid
    std::map<RawHandle, std::size_t> snapshots_open_;    // handle -> next entry index
    RawHandle next_token_ = 1;
    std::size_t peak_open_processes_ = 0;
    std::vector<std::string> events_;
    std::vector<std::string> misuse_;
};

}  // namespace quorle::host::fakes
