#pragma once
// Opening the module's one cubeb context, and the names of cubeb's error codes.
#include <string>
#include <string_view>

#include "audio/backend/cubeb_api.h"
#include "audio/backend/cubeb_handles.h"
#include "common/result.h"
#include "common/std_streams.h"

namespace quorle::audio {

// The context name and the backend asked for. On platforms without WASAPI cubeb falls back
// to the first backend it has; the backend line reports the one really in use.
inline constexpr const char* kContextName = "Quorle";
inline constexpr const char* kRequestedBackend = "wasapi";

// The cubeb binding version announced on the backend line.
inline constexpr std::string_view kBindingVersion = "0.38.0";

// "Error", "InvalidFormat", "InvalidParameter", "NotSupported" or "DeviceUnavailable" for
// codes -1..-5; any other code is shown as "Error".
[[nodiscard]] std::string_view cubeb_error_name(int code);

struct OpenedContext {
    CubebContext context;
    std::string backend_id;  // cubeb_get_backend_id, e.g. "wasapi" or "pulse"
};

// Opens the context and writes "QUORLE_AUDIO backend=<id> binding=0.38.0\n" on `log`
// (standard error in the programs). A failed write of that diagnostics line does not fail
// the start. Fails with "cubeb context: <error name>".
[[nodiscard]] Result<OpenedContext> open_context(CubebApi& api, OutputStream& log);

}  // namespace quorle::audio
