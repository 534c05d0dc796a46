#pragma once
// Owners of the platform handles of this area: each is move-only and hands its handle back
// to the platform that produced it exactly once, when it is released or reset.
#include <utility>

#include "audio_host/process/process_platform.h"

namespace quorle::host {

// An open, waitable process handle (a Windows process HANDLE, a Linux pidfd).
class ProcessHandle {
  public:
    ProcessHandle() = default;
    ProcessHandle(ProcessPlatform& platform, RawHandle handle)
        : platform_(&platform), handle_(handle) {}
    ProcessHandle(ProcessHandle&& other) noexcept
        : platform_(std::exchange(other.platform_, nullptr)), handle_(other.handle_) {}
    ProcessHandle& operator=(ProcessHandle&& other) noexcept {
        if (this != &other) {
            reset();
            platform_ = std::exchange(other.platform_, nullptr);
            handle_ = other.handle_;
        }
        return *this;
    }
    ProcessHandle(const ProcessHandle&) = delete;
    ProcessHandle& operator=(const ProcessHandle&) = delete;
    ~ProcessHandle() { reset(); }

    // True while a handle is owned.
    [[nodiscard]] bool valid() const { return platform_ != nullptr; }
    // The owned handle, for calls of the platform that produced it (e.g. wait_process).
    [[nodiscard]] RawHandle raw() const { return handle_; }

    // Closes the handle now (a failing close is ignored); afterwards nothing is owned.
    void reset() {
        if (ProcessPlatform* platform = std::exchange(platform_, nullptr)) {
            platform->close_process(handle_);
        }
    }

  private:
    ProcessPlatform* platform_ = nullptr;  // null when nothing is owned
    RawHandle handle_ = 0;
};

// An open process snapshot.
class SnapshotHandle {
  public:
    SnapshotHandle(ProcessPlatform& platform, RawHandle handle)
        : platform_(&platform), handle_(handle) {}
    SnapshotHandle(SnapshotHandle&& other) noexcept
        : platform_(std::exchange(other.platform_, nullptr)), handle_(other.handle_) {}
    SnapshotHandle& operator=(SnapshotHandle&&) = delete;
    SnapshotHandle(const SnapshotHandle&) = delete;
    SnapshotHandle& operator=(const SnapshotHandle&) = delete;
    ~SnapshotHandle() {
        if (platform_ != nullptr) platform_->close_snapshot(handle_);
    }

    [[nodiscard]] RawHandle raw() const { return handle_; }

  private:
    ProcessPlatform* platform_ = nullptr;  // null when nothing is owned (moved from)
    RawHandle handle_ = 0;
};

}  // namespace quorle::host
