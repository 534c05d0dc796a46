#pragma once
// Scripted endpoint properties for tests: any step of the form-factor read can fail with any
// code or hand out no object, and every call and release is recorded in order.
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/cable/form_factor_reader.h"

namespace quorle::audio::testing {

inline constexpr HResult kHResultNotFound = static_cast<HResult>(0x80070490);  // E_NOTFOUND
inline constexpr HResult kHResultFail = static_cast<HResult>(0x80004005);      // E_FAIL
inline constexpr HResult kHResultChangedMode =
    static_cast<HResult>(0x80010106);        // RPC_E_CHANGED_MODE
inline constexpr HResult kHResultFalse = 1;  // S_FALSE

// How one step answers: its result, and whether it hands out an object.
struct FakeStep {
    HResult result = kHResultOk;
    bool hands_out_object = true;  // also on failure, to prove such objects are released
};

// What reading one endpoint's properties does.
struct FakeEndpointProperties {
    FakeStep get_device;
    FakeStep open_store;
    HResult read = kHResultOk;
    std::uint32_t form_factor = 1;
};

class FakeFormFactorReader final : public FormFactorReader {
  public:
    HResult initialize_result = kHResultOk;
    FakeStep create;
    // Endpoints by id; GetDevice on any other id fails with E_NOTFOUND and no object.
    std::map<std::string, FakeEndpointProperties> endpoints;
    // Every call in order: "initialize", "uninitialize", "create", "get_device <id>",
    // "open_store", "read", "release enumerator|device|store".
    std::vector<std::string> calls;

    // Objects handed out and not yet released.
    [[nodiscard]] int outstanding() const;

    HResult initialize_apartment() override;
    void uninitialize_apartment() override;
    HResult create_enumerator(ComObject*& enumerator) override;
    HResult get_device(ComObject* enumerator, std::u16string_view endpoint_id_z,
                       ComObject*& device) override;
    HResult open_property_store(ComObject* device, ComObject*& store) override;
    HResult read_form_factor(ComObject* store, std::uint32_t& form_factor) override;
    void release(ComObject* object) override;

  private:
    struct Object {
        std::string kind;  // "enumerator", "device", "store"
        std::string endpoint;
        bool released = false;
    };
    ComObject* hand_out(std::string kind, std::string endpoint);
    Object& object(ComObject* handle, std::string_view kind);

    std::vector<std::unique_ptr<Object>> objects_;
};

}  // namespace quorle::audio::testing
