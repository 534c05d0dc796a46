#pragma once
// One COM reference, move-only. The pointer is null or holds exactly one reference, which is
// released on destruction; AddRef and Release are never called by hand elsewhere.
#include <unknwn.h>

#include <utility>

namespace quorle::host::win32 {

template <class T>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(ComPtr&& other) noexcept : pointer_(std::exchange(other.pointer_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            pointer_ = std::exchange(other.pointer_, nullptr);
        }
        return *this;
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ~ComPtr() { reset(); }

    // Takes over a reference the caller owns (an out-parameter of a COM call).
    [[nodiscard]] static ComPtr adopt(T* pointer) {
        ComPtr owned;
        owned.pointer_ = pointer;
        return owned;
    }

    // Releases the held reference, then gives the address for an out-parameter.
    [[nodiscard]] T** put() {
        reset();
        return &pointer_;
    }

    void reset() {
        if (T* old = std::exchange(pointer_, nullptr)) old->Release();
    }

    [[nodiscard]] T* get() const { return pointer_; }
    T* operator->() const { return pointer_; }
    explicit operator bool() const { return pointer_ != nullptr; }

  private:
    T* pointer_ = nullptr;
};

}  // namespace quorle::host::win32
