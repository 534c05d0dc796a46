#pragma once
// The list of applications the translator can offer as capture targets: every running
// process that owns a visible top-level window, as a JSON array on standard output.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "audio_host/process/process_platform.h"
#include "common/result.h"
#include "common/std_streams.h"

namespace quorle::host {

struct ApplicationEntry {
    std::uint32_t pid = 0;
    std::string exe;               // the identity's executable path
    std::uint64_t start_time = 0;  // the identity's creation time
};

// The part of `exe` after its last "\" or "/"; all of it when it holds neither.
[[nodiscard]] std::string_view application_label(std::string_view exe);

// [{"id":"pid:N","label":...,"exe":...,"start_time":N,"active":false},...] in the given
// order, compact, no trailing newline; [] when empty.
[[nodiscard]] std::string application_list_json(const std::vector<ApplicationEntry>& entries);

// Lists the processes that own a visible top-level window, in ascending id order, each once.
// A process that cannot be opened or read, or that has exited, is left out silently.
// Writes the array to `out` as one write. Failures: "enumerate application windows: <text>"
// (nothing is written), or the write failure's text.
[[nodiscard]] Status list_applications(ProcessPlatform& platform, OutputStream& out);

}  // namespace quorle::host
