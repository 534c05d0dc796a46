#pragma once
// Move-only owner of one file handle; INVALID_HANDLE_VALUE means none (CreateFileW's failure
// value), so a null handle is never closed either.
#include <windows.h>

#include <utility>

namespace quorle::setup {

class UniqueFileHandle {
  public:
    explicit UniqueFileHandle(HANDLE handle = INVALID_HANDLE_VALUE) noexcept : handle_(handle) {}
    UniqueFileHandle(UniqueFileHandle&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueFileHandle& operator=(UniqueFileHandle&& other) noexcept {
        if (this != &other) reset(std::exchange(other.handle_, INVALID_HANDLE_VALUE));
        return *this;
    }
    UniqueFileHandle(const UniqueFileHandle&) = delete;
    UniqueFileHandle& operator=(const UniqueFileHandle&) = delete;
    ~UniqueFileHandle() { reset(); }

    [[nodiscard]] HANDLE get() const noexcept { return handle_; }
    [[nodiscard]] bool valid() const noexcept {
        return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr;
    }

    void reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept {
        if (valid()) {
            // Closing must not overwrite the error a caller is about to report.
            const DWORD saved = GetLastError();
            CloseHandle(handle_);
            SetLastError(saved);
        }
        handle_ = handle;
    }

  private:
    HANDLE handle_;
};

}  // namespace quorle::setup
