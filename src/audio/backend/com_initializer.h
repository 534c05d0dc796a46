#pragma once
// COM membership of the audio control thread, as a platform operation that tests replace.
// Windows: CoInitializeEx(nullptr, COINIT_MULTITHREADED) and CoUninitialize. Linux: there
// is no COM; joining succeeds and leaving does nothing.
#include <cstdint>
#include <string>

namespace quorle::audio {

class ComInitializer {
  public:
    virtual ~ComInitializer() = default;
    // Joins the multithreaded apartment on the calling thread and returns the raw HRESULT
    // (negative: failure; S_OK and S_FALSE both count as success).
    [[nodiscard]] virtual std::int32_t initialize_multithreaded() = 0;
    // Leaves the apartment on the calling thread. Called once for each successful join.
    virtual void uninitialize() = 0;
};

// The platform's COM (a no-op on Linux).
[[nodiscard]] ComInitializer& system_com_initializer();

// "COM MTA initialization failed: 0x<result in lower-case hexadecimal, no leading zeros>".
[[nodiscard]] std::string com_failure_message(std::int32_t result);

// Owes one uninitialize() to `com` until destroyed; the owner of a successful join.
class ComMembership {
  public:
    explicit ComMembership(ComInitializer& com) : com_(&com) {}
    ComMembership(const ComMembership&) = delete;
    ComMembership& operator=(const ComMembership&) = delete;
    ~ComMembership() { com_->uninitialize(); }

  private:
    ComInitializer* com_;
};

}  // namespace quorle::audio
