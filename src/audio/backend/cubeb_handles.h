#pragma once
// Move-only owners of the two cubeb resources: the context (released with cubeb_destroy)
// and a device collection (released with cubeb_device_collection_destroy). A collection
// must be released before the context it came from; declaring the collection after the
// context, or keeping it inside a narrower scope, gives that order.
#include <cstddef>

#include "audio/backend/cubeb_api.h"

namespace quorle::audio {

class CubebContext {
  public:
    CubebContext() = default;
    // Takes ownership of an open context of `api`.
    CubebContext(CubebApi& api, CubebContextHandle handle) : api_(&api), handle_(handle) {}
    CubebContext(CubebContext&& other) noexcept;
    CubebContext& operator=(CubebContext&& other) noexcept;
    CubebContext(const CubebContext&) = delete;
    CubebContext& operator=(const CubebContext&) = delete;
    ~CubebContext();

    [[nodiscard]] bool is_open() const { return handle_ != nullptr; }
    [[nodiscard]] CubebApi& api() const { return *api_; }
    [[nodiscard]] CubebContextHandle get() const { return handle_; }
    // Destroys the context now (no-op when empty).
    void reset();

  private:
    CubebApi* api_ = nullptr;
    CubebContextHandle handle_ = nullptr;
};

class CubebDeviceCollection {
  public:
    // Takes ownership of a collection that `context` filled.
    CubebDeviceCollection(const CubebContext& context, CubebCollectionHandle collection)
        : api_(&context.api()), context_(context.get()), collection_(collection), owned_(true) {}
    CubebDeviceCollection(CubebDeviceCollection&& other) noexcept;
    CubebDeviceCollection& operator=(CubebDeviceCollection&&) = delete;
    CubebDeviceCollection(const CubebDeviceCollection&) = delete;
    CubebDeviceCollection& operator=(const CubebDeviceCollection&) = delete;
    ~CubebDeviceCollection();

    [[nodiscard]] std::size_t size() const { return collection_.count; }
    [[nodiscard]] CubebDeviceFields at(std::size_t index) const {
        return api_->device_info(collection_, index);
    }

  private:
    CubebApi* api_;
    CubebContextHandle context_;
    CubebCollectionHandle collection_;
    bool owned_;  // cubeb_device_collection_destroy is still owed
};

}  // namespace quorle::audio
