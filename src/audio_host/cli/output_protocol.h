#pragma once
// The audio host's lines on standard error: the format header of a capture and the error
// line of a failed run. Both are compact JSON objects with members in ascending name order,
// ended by one line feed.
#include <string>
#include <string_view>

#include "common/result.h"
#include "common/std_streams.h"

namespace quorle::host {

// {"backend":"wasapi-process-loopback","channels":1,"event":"format","sampleFormat":"s16le","sampleRate":48000}\n
[[nodiscard]] std::string header_line();

// {"code":"capture_failed","event":"error","message":<message>}\n
[[nodiscard]] std::string error_line(std::string_view message);

// Writes the header line to `err` (standard error in the program) as one whole write.
Status write_header_line(OutputStream& err);
Status write_error_line(OutputStream& err, std::string_view message);

}  // namespace quorle::host
