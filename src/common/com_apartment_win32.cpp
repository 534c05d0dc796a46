#include <objbase.h>
#include <windows.h>

#include "common/com_apartment.h"

namespace quorle {

ComApartment ComApartment::join_multithreaded() {
    return ComApartment(static_cast<std::int32_t>(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
}

ComApartment::ComApartment(ComApartment&& other) noexcept
    : result_(other.result_), owns_(other.owns_) {
    other.owns_ = false;
}

ComApartment::~ComApartment() {
    if (owns_) CoUninitialize();
}

}  // namespace quorle
