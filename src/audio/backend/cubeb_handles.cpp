#include "audio/backend/cubeb_handles.h"

#include <utility>

namespace quorle::audio {

CubebContext::CubebContext(CubebContext&& other) noexcept
    : api_(other.api_), handle_(std::exchange(other.handle_, nullptr)) {}

CubebContext& CubebContext::operator=(CubebContext&& other) noexcept {
    if (this != &other) {
        reset();
        api_ = other.api_;
        handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
}

CubebContext::~CubebContext() {
    reset();
}

void CubebContext::reset() {
    if (handle_ != nullptr)
        api_->destroy(std::exchange(handle_, nullptr));
}

CubebDeviceCollection::CubebDeviceCollection(CubebDeviceCollection&& other) noexcept
    : api_(other.api_),
      context_(other.context_),
      collection_(other.collection_),
      owned_(std::exchange(other.owned_, false)) {}

CubebDeviceCollection::~CubebDeviceCollection() {
    if (owned_)
        (void)api_->device_collection_destroy(context_, &collection_);
}

}  // namespace quorle::audio
