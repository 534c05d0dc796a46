// The two process fields a capture reads from outside: the text of /proc/<pid>/stat and the
// `application.process.id` property a PulseAudio client states about itself.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "audio_host/pulse/process_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parent = quorle::pulse::parse_stat_parent(text);
    const auto pid = quorle::pulse::parse_process_id(text);
    // A process id is never 0, and it is made of digits only.
    if (pid && *pid == 0) __builtin_trap();
    if (pid && text.find_first_not_of("0123456789") != std::string_view::npos) __builtin_trap();
    (void)parent;
    return 0;
}
