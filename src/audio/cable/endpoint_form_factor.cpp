#include "audio/cable/endpoint_form_factor.h"

#include <string>

#include "common/text.h"

namespace quorle::audio {
namespace {

// The calling thread's membership in the multithreaded apartment for one check.
class ApartmentMembership {
  public:
    explicit ApartmentMembership(FormFactorReader& reader)
        : reader_(reader), owed_(reader.initialize_apartment() >= 0) {}
    ApartmentMembership(const ApartmentMembership&) = delete;
    ApartmentMembership& operator=(const ApartmentMembership&) = delete;
    ~ApartmentMembership() {
        if (owed_) reader_.uninitialize_apartment();
    }

  private:
    FormFactorReader& reader_;
    bool owed_;  // the join succeeded, so leaving is owed
};

// Owner of one object handed out by the reader; gives it back when it goes.
class ComObjectOwner {
  public:
    explicit ComObjectOwner(FormFactorReader& reader) : reader_(reader) {}
    ComObjectOwner(const ComObjectOwner&) = delete;
    ComObjectOwner& operator=(const ComObjectOwner&) = delete;
    ~ComObjectOwner() {
        if (object_ != nullptr) reader_.release(object_);
    }

    // The slot a reader call fills. Also kept when the call fails but still hands out an
    // object, so that nothing leaks.
    [[nodiscard]] ComObject*& slot() { return object_; }
    [[nodiscard]] ComObject* get() const { return object_; }

  private:
    FormFactorReader& reader_;
    ComObject* object_ = nullptr;
};

bool failed(HResult result) {
    return result < 0;
}

}  // namespace

bool endpoint_is_speakers(FormFactorReader& reader, std::string_view endpoint_id) {
    // Declared in acquisition order, so they are released in reverse on every return.
    const ApartmentMembership apartment(reader);
    ComObjectOwner enumerator(reader);
    if (failed(reader.create_enumerator(enumerator.slot())) || enumerator.get() == nullptr) {
        return false;
    }
    const std::u16string id = utf8_to_utf16z(endpoint_id);
    ComObjectOwner device(reader);
    if (failed(reader.get_device(enumerator.get(), id, device.slot())) || device.get() == nullptr) {
        return false;
    }
    ComObjectOwner store(reader);
    if (failed(reader.open_property_store(device.get(), store.slot())) || store.get() == nullptr) {
        return false;
    }
    std::uint32_t form_factor = 0;
    if (failed(reader.read_form_factor(store.get(), form_factor))) return false;
    return form_factor == kFormFactorSpeakers;
}

}  // namespace quorle::audio
