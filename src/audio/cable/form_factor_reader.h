#pragma once
// The Core Audio calls that read an endpoint's form factor, one seam operation per platform
// call, each passing back its raw HRESULT. The order of the calls, the apartment rule and
// the release of every object belong to the caller (endpoint_form_factor.h), so that they
// hold on every platform and can be proven through a fake.
//
// A reader serves one thread at a time: the apartment it joins is the calling thread's.
#include <cstdint>
#include <string_view>

namespace quorle::audio {

using HResult = std::int32_t;  // negative: failure

inline constexpr HResult kHResultOk = 0;  // S_OK
inline constexpr HResult kHResultClassNotRegistered =
    static_cast<HResult>(0x80040154);  // REGDB_E_CLASSNOTREG

// An interface pointer handed out by the platform layer. Opaque to the caller, who gives
// every non-null one back through release() exactly once.
struct ComObject;

class FormFactorReader {
  public:
    virtual ~FormFactorReader() = default;

    // CoInitializeEx(nullptr, COINIT_MULTITHREADED) on the calling thread.
    [[nodiscard]] virtual HResult initialize_apartment() = 0;
    // CoUninitialize on the calling thread; owed only after a successful initialisation.
    virtual void uninitialize_apartment() = 0;

    // CoCreateInstance of MMDeviceEnumerator, CLSCTX_ALL, for IMMDeviceEnumerator.
    [[nodiscard]] virtual HResult create_enumerator(ComObject*& enumerator) = 0;
    // IMMDeviceEnumerator::GetDevice; `endpoint_id_z` ends with exactly one NUL unit.
    [[nodiscard]] virtual HResult get_device(ComObject* enumerator,
                                             std::u16string_view endpoint_id_z,
                                             ComObject*& device) = 0;
    // IMMDevice::OpenPropertyStore with STGM_READ.
    [[nodiscard]] virtual HResult open_property_store(ComObject* device, ComObject*& store) = 0;
    // IPropertyStore::GetValue for PKEY_AudioEndpoint_FormFactor, PropVariantToUInt32 on the
    // value, and PropVariantClear of the value whatever happened: the first failure's result,
    // or success with `form_factor` set.
    [[nodiscard]] virtual HResult read_form_factor(ComObject* store,
                                                   std::uint32_t& form_factor) = 0;

    // Releases an object handed out by this reader.
    virtual void release(ComObject* object) = 0;
};

}  // namespace quorle::audio
