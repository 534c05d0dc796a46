// The endpoint form factor through the MMDevice API and the endpoint's property store.
#include <windows.h>

#include <mmdeviceapi.h>
#include <propidl.h>
#include <propsys.h>
#include <propvarutil.h>

#include <optional>

#include "audio/cable/system_cable_platform.h"
#include "common/com_apartment.h"

namespace quorle::audio {
namespace {

static_assert(REGDB_E_CLASSNOTREG == kHResultClassNotRegistered);

// PKEY_AudioEndpoint_FormFactor, spelt out so that no GUID definitions need to be linked.
constexpr PROPERTYKEY kFormFactorKey = {
    {0x1da5d803, 0xd492, 0x4edd, {0x8c, 0x23, 0xe0, 0xc0, 0xff, 0xee, 0x7f, 0x0e}}, 0};

// Objects cross the seam as IUnknown pointers; each is turned back into the interface it was
// handed out as.
ComObject* to_object(IUnknown* unknown) {
    return reinterpret_cast<ComObject*>(unknown);
}
template <class Interface>
Interface* from_object(ComObject* object) {
    return static_cast<Interface*>(reinterpret_cast<IUnknown*>(object));
}

// Clears a PROPVARIANT when it goes, whatever was read into it.
class PropVariantOwner {
  public:
    PropVariantOwner() { PropVariantInit(&value_); }
    PropVariantOwner(const PropVariantOwner&) = delete;
    PropVariantOwner& operator=(const PropVariantOwner&) = delete;
    ~PropVariantOwner() { PropVariantClear(&value_); }
    [[nodiscard]] PROPVARIANT* get() { return &value_; }

  private:
    PROPVARIANT value_;
};

class MMDeviceFormFactorReader final : public FormFactorReader {
  public:
    HResult initialize_apartment() override {
        apartment_.emplace(ComApartment::join_multithreaded());
        return apartment_->result();
    }

    void uninitialize_apartment() override { apartment_.reset(); }

    HResult create_enumerator(ComObject*& enumerator) override {
        IMMDeviceEnumerator* created = nullptr;
        const HRESULT result =
            CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                             __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&created));
        enumerator = to_object(created);
        return result;
    }

    HResult get_device(ComObject* enumerator, std::u16string_view endpoint_id_z,
                       ComObject*& device) override {
        device = nullptr;
        if (endpoint_id_z.empty() || endpoint_id_z.back() != u'\0') return E_INVALIDARG;
        IMMDevice* found = nullptr;
        const HRESULT result =
            from_object<IMMDeviceEnumerator>(enumerator)
                ->GetDevice(reinterpret_cast<const wchar_t*>(endpoint_id_z.data()), &found);
        device = to_object(found);
        return result;
    }

    HResult open_property_store(ComObject* device, ComObject*& store) override {
        IPropertyStore* opened = nullptr;
        const HRESULT result =
            from_object<IMMDevice>(device)->OpenPropertyStore(STGM_READ, &opened);
        store = to_object(opened);
        return result;
    }

    HResult read_form_factor(ComObject* store, std::uint32_t& form_factor) override {
        form_factor = 0;
        PropVariantOwner value;
        HRESULT result = from_object<IPropertyStore>(store)->GetValue(kFormFactorKey, value.get());
        if (FAILED(result)) return result;
        ULONG number = 0;
        result = PropVariantToUInt32(*value.get(), &number);
        if (FAILED(result)) return result;
        form_factor = number;
        return result;
    }

    void release(ComObject* object) override {
        if (object != nullptr) reinterpret_cast<IUnknown*>(object)->Release();
    }

  private:
    std::optional<ComApartment> apartment_;  // the calling thread's join, while it lasts
};

}  // namespace

std::unique_ptr<FormFactorReader> system_form_factor_reader() {
    return std::make_unique<MMDeviceFormFactorReader>();
}

}  // namespace quorle::audio
