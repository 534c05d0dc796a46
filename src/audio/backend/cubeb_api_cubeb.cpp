// The CubebApi seam on the real cubeb library.
#include <cubeb/cubeb.h>

#include "audio/backend/cubeb_api.h"

namespace quorle::audio {
namespace {

cubeb* native(CubebContextHandle context) {
    return reinterpret_cast<cubeb*>(context);
}

class LibraryCubebApi final : public CubebApi {
  public:
    int init(CubebContextHandle* context, const char* context_name,
             const char* backend_name) override {
        cubeb* opened = nullptr;
        const int result = cubeb_init(&opened, context_name, backend_name);
        *context = reinterpret_cast<CubebContextHandle>(opened);
        return result;
    }

    const char* get_backend_id(CubebContextHandle context) override {
        return cubeb_get_backend_id(native(context));
    }

    int enumerate_devices(CubebContextHandle context, int device_type,
                          CubebCollectionHandle* collection) override {
        cubeb_device_collection filled{};
        const int result = cubeb_enumerate_devices(
            native(context), static_cast<cubeb_device_type>(device_type), &filled);
        collection->devices = filled.device;
        collection->count = filled.count;
        return result;
    }

    CubebDeviceFields device_info(const CubebCollectionHandle& collection,
                                  std::size_t index) override {
        const cubeb_device_info& info =
            static_cast<const cubeb_device_info*>(collection.devices)[index];
        return CubebDeviceFields{info.device_id,
                                 info.friendly_name,
                                 static_cast<int>(info.state),
                                 static_cast<std::uint32_t>(info.preferred),
                                 info.max_channels,
                                 info.default_rate};
    }

    int device_collection_destroy(CubebContextHandle context,
                                  CubebCollectionHandle* collection) override {
        cubeb_device_collection native_collection{
            static_cast<cubeb_device_info*>(collection->devices), collection->count};
        const int result = cubeb_device_collection_destroy(native(context), &native_collection);
        collection->devices = nullptr;
        collection->count = 0;
        return result;
    }

    void destroy(CubebContextHandle context) override { cubeb_destroy(native(context)); }
};

}  // namespace

CubebApi& system_cubeb_api() {
    static LibraryCubebApi api;
    return api;
}

}  // namespace quorle::audio
