#pragma once
// The platform's own device tree and endpoint form-factor reader: cfgmgr32 and Core Audio on
// Windows; on Linux, which has no Windows device tree, implementations that say so.
#include <memory>

#include "audio/cable/device_tree.h"
#include "audio/cable/form_factor_reader.h"

namespace quorle::audio {

[[nodiscard]] std::unique_ptr<DeviceTree> system_device_tree();

// A fresh reader for the calling thread (a reader is used by one thread at a time).
[[nodiscard]] std::unique_ptr<FormFactorReader> system_form_factor_reader();

}  // namespace quorle::audio
