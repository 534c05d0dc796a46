// Linux has no Core Audio: the apartment join follows the project's COM apartment (which
// always succeeds here), and the MMDevice enumerator class is not registered.
#include <optional>

#include "audio/cable/system_cable_platform.h"
#include "common/com_apartment.h"

namespace quorle::audio {
namespace {

class AbsentFormFactorReader final : public FormFactorReader {
  public:
    HResult initialize_apartment() override {
        apartment_.emplace(ComApartment::join_multithreaded());
        return apartment_->result();
    }
    void uninitialize_apartment() override { apartment_.reset(); }
    HResult create_enumerator(ComObject*& enumerator) override {
        enumerator = nullptr;
        return kHResultClassNotRegistered;
    }
    HResult get_device(ComObject* /*enumerator*/, std::u16string_view /*endpoint_id_z*/,
                       ComObject*& device) override {
        device = nullptr;
        return kHResultClassNotRegistered;
    }
    HResult open_property_store(ComObject* /*device*/, ComObject*& store) override {
        store = nullptr;
        return kHResultClassNotRegistered;
    }
    HResult read_form_factor(ComObject* /*store*/, std::uint32_t& form_factor) override {
        form_factor = 0;
        return kHResultClassNotRegistered;
    }
    void release(ComObject* /*object*/) override {}

  private:
    std::optional<ComApartment> apartment_;
};

}  // namespace

std::unique_ptr<FormFactorReader> system_form_factor_reader() {
    return std::make_unique<AbsentFormFactorReader>();
}

}  // namespace quorle::audio
