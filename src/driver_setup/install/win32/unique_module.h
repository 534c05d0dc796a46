#pragma once
// Owner of one loaded module (HMODULE); nullptr means none. Freeing the module keeps the
// thread's last error.
#include <windows.h>

#include <utility>

namespace quorle::setup::win32 {

class UniqueModule {
  public:
    UniqueModule() = default;
    explicit UniqueModule(HMODULE module) : module_(module) {}
    UniqueModule(UniqueModule&& other) noexcept : module_(std::exchange(other.module_, nullptr)) {}
    UniqueModule& operator=(UniqueModule&& other) noexcept {
        if (this != &other) {
            reset();
            module_ = std::exchange(other.module_, nullptr);
        }
        return *this;
    }
    UniqueModule(const UniqueModule&) = delete;
    UniqueModule& operator=(const UniqueModule&) = delete;
    ~UniqueModule() { reset(); }

    [[nodiscard]] HMODULE get() const { return module_; }
    [[nodiscard]] explicit operator bool() const { return module_ != nullptr; }

    void reset() {
        if (module_ == nullptr) return;
        const DWORD saved = GetLastError();
        FreeLibrary(std::exchange(module_, nullptr));
        SetLastError(saved);
    }

  private:
    HMODULE module_ = nullptr;
};

}  // namespace quorle::setup::win32
