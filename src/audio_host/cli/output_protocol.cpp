#include "audio_host/cli/output_protocol.h"

#include "common/json_text.h"

namespace quorle::host {

std::string header_line() {
    return R"({"backend":"wasapi-process-loopback","channels":1,"event":"format",)"
           R"("sampleFormat":"s16le","sampleRate":48000})"
           "\n";
}

std::string error_line(std::string_view message) {
    std::string line = R"({"code":"capture_failed","event":"error","message":)";
    json::append_string(line, message);
    line += "}\n";
    return line;
}

Status write_header_line(OutputStream& err) {
    return err.write(header_line());
}

Status write_error_line(OutputStream& err, std::string_view message) {
    return err.write(error_line(message));
}

}  // namespace quorle::host
