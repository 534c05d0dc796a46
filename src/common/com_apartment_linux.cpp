#include "common/com_apartment.h"

namespace quorle {

ComApartment ComApartment::join_multithreaded() {
    return ComApartment(0);
}

ComApartment::ComApartment(ComApartment&& other) noexcept
    : result_(other.result_), owns_(other.owns_) {
    other.owns_ = false;
}

ComApartment::~ComApartment() = default;

}  // namespace quorle
