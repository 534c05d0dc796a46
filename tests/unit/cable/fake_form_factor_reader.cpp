#include "unit/cable/fake_form_factor_reader.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "common/text.h"

namespace quorle::audio::testing {

int FakeFormFactorReader::outstanding() const {
    return static_cast<int>(std::count_if(objects_.begin(), objects_.end(),
                                          [](const auto& o) { return !o->released; }));
}

ComObject* FakeFormFactorReader::hand_out(std::string kind, std::string endpoint) {
    objects_.push_back(std::make_unique<Object>(Object{std::move(kind), std::move(endpoint)}));
    return reinterpret_cast<ComObject*>(objects_.back().get());
}

FakeFormFactorReader::Object& FakeFormFactorReader::object(ComObject* handle,
                                                           std::string_view kind) {
    auto* found = reinterpret_cast<Object*>(handle);
    const bool known = std::any_of(objects_.begin(), objects_.end(),
                                   [&](const auto& o) { return o.get() == found; });
    if (!known || found->released || found->kind != kind) {
        ADD_FAILURE() << "expected a live " << kind << " object";
        static Object invalid{"invalid", "", true};
        return invalid;
    }
    return *found;
}

HResult FakeFormFactorReader::initialize_apartment() {
    calls.push_back("initialize");
    return initialize_result;
}

void FakeFormFactorReader::uninitialize_apartment() {
    calls.push_back("uninitialize");
}

HResult FakeFormFactorReader::create_enumerator(ComObject*& enumerator) {
    calls.push_back("create");
    enumerator = create.hands_out_object ? hand_out("enumerator", "") : nullptr;
    return create.result;
}

HResult FakeFormFactorReader::get_device(ComObject* enumerator, std::u16string_view endpoint_id_z,
                                         ComObject*& device) {
    device = nullptr;
    EXPECT_TRUE(!endpoint_id_z.empty() && endpoint_id_z.back() == u'\0');
    const std::string id = utf16_to_utf8(endpoint_id_z.substr(0, endpoint_id_z.size() - 1));
    calls.push_back("get_device " + id);
    (void)object(enumerator, "enumerator");
    const auto it = endpoints.find(id);
    if (it == endpoints.end()) return kHResultNotFound;
    if (it->second.get_device.hands_out_object) device = hand_out("device", id);
    return it->second.get_device.result;
}

HResult FakeFormFactorReader::open_property_store(ComObject* device, ComObject*& store) {
    calls.push_back("open_store");
    store = nullptr;
    const Object& owner = object(device, "device");
    const auto it = endpoints.find(owner.endpoint);
    if (it == endpoints.end()) return kHResultFail;
    if (it->second.open_store.hands_out_object) store = hand_out("store", owner.endpoint);
    return it->second.open_store.result;
}

HResult FakeFormFactorReader::read_form_factor(ComObject* store, std::uint32_t& form_factor) {
    calls.push_back("read");
    form_factor = 0;
    const Object& owner = object(store, "store");
    const auto it = endpoints.find(owner.endpoint);
    if (it == endpoints.end()) return kHResultFail;
    if (it->second.read < 0) return it->second.read;
    form_factor = it->second.form_factor;
    return it->second.read;
}

void FakeFormFactorReader::release(ComObject* handle) {
    auto* found = reinterpret_cast<Object*>(handle);
    const bool known = std::any_of(objects_.begin(), objects_.end(),
                                   [&](const auto& o) { return o.get() == found; });
    if (!known || found->released) {
        ADD_FAILURE() << "release of an object that is not live";
        return;
    }
    found->released = true;
    calls.push_back("release " + found->kind);
}

}  // namespace quorle::audio::testing
