#pragma once
// Owner of one SetupAPI device information set (HDEVINFO); INVALID_HANDLE_VALUE means none.
// Destroying the set keeps the thread's last error, so that releasing a set on the way out
// of a failed step can never change the code that step reports.
#include <windows.h>

#include <setupapi.h>

#include <utility>

namespace quorle::setup::win32 {

class UniqueDeviceInfoSet {
  public:
    UniqueDeviceInfoSet() = default;
    explicit UniqueDeviceInfoSet(HDEVINFO handle) : handle_(handle) {}
    UniqueDeviceInfoSet(UniqueDeviceInfoSet&& other) noexcept
        : handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
    UniqueDeviceInfoSet& operator=(UniqueDeviceInfoSet&& other) noexcept {
        if (this != &other) {
            reset();
            handle_ = std::exchange(other.handle_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }
    UniqueDeviceInfoSet(const UniqueDeviceInfoSet&) = delete;
    UniqueDeviceInfoSet& operator=(const UniqueDeviceInfoSet&) = delete;
    ~UniqueDeviceInfoSet() { reset(); }

    [[nodiscard]] HDEVINFO get() const { return handle_; }
    [[nodiscard]] explicit operator bool() const { return handle_ != INVALID_HANDLE_VALUE; }

    void reset() {
        if (handle_ == INVALID_HANDLE_VALUE) return;
        const DWORD saved = GetLastError();
        SetupDiDestroyDeviceInfoList(std::exchange(handle_, INVALID_HANDLE_VALUE));
        SetLastError(saved);
    }

  private:
    HDEVINFO handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace quorle::setup::win32
