#include "common/std_streams.h"

#include "common/platform_error.h"

namespace quorle {

Status write_all(RawWriter& writer, std::string_view bytes) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const WriteOutcome outcome = writer.write_some(data, left);
        if (outcome.interrupted) continue;
        if (outcome.error != 0) return fail(platform_error_text(outcome.error));
        if (outcome.written == 0) return fail(platform_error_text(no_progress_error_code()));
        const std::size_t step = outcome.written < left ? outcome.written : left;
        data += step;
        left -= step;
    }
    return {};
}

Status LockedStream::write(std::string_view bytes) {
    const std::lock_guard<std::mutex> guard(lock_);
    return write_all(writer_, bytes);
}

std::mutex& standard_output_lock() {
    static std::mutex lock;
    return lock;
}

}  // namespace quorle
