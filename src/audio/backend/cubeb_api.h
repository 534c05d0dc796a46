#pragma once
// The cubeb calls the audio backend relies on, behind one narrow interface, so that the
// context and device-list logic runs against the real library or a scripted fake. The
// interface passes cubeb's raw results (error codes, the backend text, device fields) and
// never builds a message.
#include <cstddef>
#include <cstdint>

namespace quorle::audio {

// cubeb result codes (cubeb.h). Success is 0; failures are negative.
inline constexpr int kCubebOk = 0;
inline constexpr int kCubebError = -1;
inline constexpr int kCubebErrorInvalidFormat = -2;
inline constexpr int kCubebErrorInvalidParameter = -3;
inline constexpr int kCubebErrorNotSupported = -4;
inline constexpr int kCubebErrorDeviceUnavailable = -5;

// cubeb_device_type values.
inline constexpr int kCubebDeviceTypeInput = 1;
inline constexpr int kCubebDeviceTypeOutput = 2;

// cubeb_device_state values.
inline constexpr int kCubebDeviceStateDisabled = 0;
inline constexpr int kCubebDeviceStateUnplugged = 1;
inline constexpr int kCubebDeviceStateEnabled = 2;

// cubeb_device_pref bits.
inline constexpr std::uint32_t kCubebDevicePrefMultimedia = 0x01;
inline constexpr std::uint32_t kCubebDevicePrefVoice = 0x02;
inline constexpr std::uint32_t kCubebDevicePrefNotification = 0x04;

// An open cubeb context (`cubeb*`), opaque to the logic.
struct CubebContextTag;
using CubebContextHandle = CubebContextTag*;

// A device collection filled by enumerate_devices (`cubeb_device_collection`): the array
// of device records and its length. Only the implementation that filled it reads `devices`.
struct CubebCollectionHandle {
    void* devices = nullptr;
    std::size_t count = 0;
};

// The fields of one `cubeb_device_info` that the logic reads. The texts point into the
// collection and stay valid until the collection is destroyed; either may be null.
struct CubebDeviceFields {
    const char* device_id = nullptr;
    const char* friendly_name = nullptr;
    int state = kCubebDeviceStateDisabled;  // cubeb_device_state
    std::uint32_t preferred = 0;            // cubeb_device_pref bits
    std::uint32_t max_channels = 0;
    std::uint32_t default_rate = 0;
};

class CubebApi {
  public:
    virtual ~CubebApi() = default;
    // cubeb_init(out, context_name, backend_name): 0 and a context, or a negative code.
    [[nodiscard]] virtual int init(CubebContextHandle* context, const char* context_name,
                                   const char* backend_name) = 0;
    // cubeb_get_backend_id: NUL-terminated name of the backend in use.
    [[nodiscard]] virtual const char* get_backend_id(CubebContextHandle context) = 0;
    // cubeb_enumerate_devices with device type 1 (input) or 2 (output): 0 and a filled
    // collection, or a negative code (and nothing to free).
    [[nodiscard]] virtual int enumerate_devices(CubebContextHandle context, int device_type,
                                                CubebCollectionHandle* collection) = 0;
    // Reads the record at `index` (< collection.count) of a filled collection.
    [[nodiscard]] virtual CubebDeviceFields device_info(const CubebCollectionHandle& collection,
                                                        std::size_t index) = 0;
    // cubeb_device_collection_destroy; its result is not looked at.
    virtual int device_collection_destroy(CubebContextHandle context,
                                          CubebCollectionHandle* collection) = 0;
    // cubeb_destroy.
    virtual void destroy(CubebContextHandle context) = 0;
};

// The real cubeb library. Exists only in builds that link cubeb (quorle_audio_backend).
[[nodiscard]] CubebApi& system_cubeb_api();

}  // namespace quorle::audio
