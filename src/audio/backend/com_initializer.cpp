#include "audio/backend/com_initializer.h"

#include <optional>

#include "common/com_apartment.h"

namespace quorle::audio {
namespace {

// Each thread's membership lives in a thread-local slot between the two calls, so that the
// apartment is left on the thread that joined it.
class SystemComInitializer final : public ComInitializer {
  public:
    std::int32_t initialize_multithreaded() override {
        std::optional<ComApartment>& slot = membership();
        slot.emplace(ComApartment::join_multithreaded());
        return slot->result();
    }

    void uninitialize() override { membership().reset(); }

  private:
    static std::optional<ComApartment>& membership() {
        thread_local std::optional<ComApartment> slot;
        return slot;
    }
};

}  // namespace

ComInitializer& system_com_initializer() {
    static SystemComInitializer com;
    return com;
}

std::string com_failure_message(std::int32_t result) {
    static constexpr char kDigits[] = "0123456789abcdef";
    auto value = static_cast<std::uint32_t>(result);
    std::string digits;
    do {
        digits.insert(digits.begin(), kDigits[value & 0xFu]);
        value >>= 4;
    } while (value != 0);
    return "COM MTA initialization failed: 0x" + digits;
}

}  // namespace quorle::audio
