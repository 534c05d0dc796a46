#include "audio/backend/audio_context.h"

#include "common/text.h"

namespace quorle::audio {

std::string_view cubeb_error_name(int code) {
    switch (code) {
        case kCubebErrorInvalidFormat:
            return "InvalidFormat";
        case kCubebErrorInvalidParameter:
            return "InvalidParameter";
        case kCubebErrorNotSupported:
            return "NotSupported";
        case kCubebErrorDeviceUnavailable:
            return "DeviceUnavailable";
        default:
            return "Error";
    }
}

Result<OpenedContext> open_context(CubebApi& api, OutputStream& log) {
    CubebContextHandle handle = nullptr;
    const int result = api.init(&handle, kContextName, kRequestedBackend);
    if (result != kCubebOk)
        return fail("cubeb context: " + std::string(cubeb_error_name(result)));
    // A library that reports success without a context gives nothing to work with.
    if (handle == nullptr)
        return fail("cubeb context: " + std::string(cubeb_error_name(kCubebError)));
    CubebContext context(api, handle);

    const char* backend = api.get_backend_id(context.get());
    std::string backend_id = backend == nullptr ? std::string() : bytes_to_utf8(backend);

    std::string line = "QUORLE_AUDIO backend=";
    line += backend_id;
    line += " binding=";
    line += kBindingVersion;
    line += '\n';
    (void)log.write(line);

    return OpenedContext{std::move(context), std::move(backend_id)};
}

}  // namespace quorle::audio
