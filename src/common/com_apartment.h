#pragma once
// Membership of the calling thread in COM's multithreaded apartment. On Windows this is
// CoInitializeEx(nullptr, COINIT_MULTITHREADED) and, when that succeeded, CoUninitialize at
// the end; on Linux there is no COM and joining always succeeds.
#include <cstdint>

namespace quorle {

class ComApartment {
  public:
    // Joins the multithreaded apartment on the calling thread.
    [[nodiscard]] static ComApartment join_multithreaded();

    ComApartment(ComApartment&& other) noexcept;
    ComApartment& operator=(ComApartment&&) = delete;
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment();

    // The raw result of the join (an HRESULT; S_OK or S_FALSE count as success).
    [[nodiscard]] std::int32_t result() const { return result_; }
    [[nodiscard]] bool joined() const { return result_ >= 0; }

  private:
    explicit ComApartment(std::int32_t result) : result_(result), owns_(result >= 0) {}
    std::int32_t result_;
    bool owns_;  // CoUninitialize is owed (the join succeeded)
};

}  // namespace quorle
