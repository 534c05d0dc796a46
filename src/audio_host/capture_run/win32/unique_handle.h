#pragma once
// One kernel handle (an event), move-only. Null and INVALID_HANDLE_VALUE both mean "none";
// the handle is closed on destruction and a failing close is ignored. Closing keeps the
// thread's last error, which may be the one being reported.
#include <windows.h>

#include <utility>

namespace quorle::host::win32 {

class UniqueHandle {
  public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE handle) : handle_(valid(handle) ? handle : nullptr) {}
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, nullptr);
        }
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    void reset() {
        if (HANDLE old = std::exchange(handle_, nullptr)) {
            const DWORD last_error = GetLastError();
            CloseHandle(old);
            SetLastError(last_error);
        }
    }

    [[nodiscard]] HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

    [[nodiscard]] static bool valid(HANDLE handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }

  private:
    HANDLE handle_ = nullptr;
};

}  // namespace quorle::host::win32
