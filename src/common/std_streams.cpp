#include "common/std_streams.h"

#include <algorithm>
#include <string>

#include "common/platform_error.h"

namespace quorle {

Status write_all(RawWriter& writer, std::string_view bytes, WriteWait* wait) {
    const char* data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        std::size_t size = left;
        if (wait != nullptr) {
            if (!wait->keep_writing()) return fail(std::string(kWriteStopped));
            if (!writer.wait_for_room(kWriteWaitSlice)) continue;
            size = std::min(size, kStoppableWriteChunk);
        }
        const WriteOutcome outcome = writer.write_some(data, size);
        if (outcome.interrupted) continue;
        if (outcome.error != 0) return fail(platform_error_text(outcome.error));
        if (outcome.written == 0) return fail(platform_error_text(no_progress_error_code()));
        const std::size_t step = std::min(outcome.written, size);
        data += step;
        left -= step;
    }
    return {};
}

Status LockedStream::write(std::string_view bytes) {
    const std::lock_guard<std::mutex> guard(lock_);
    return write_all(writer_, bytes);
}

Status LockedStream::write_stoppable(std::string_view bytes, WriteWait& wait) {
    const std::lock_guard<std::mutex> guard(lock_);
    return write_all(writer_, bytes, &wait);
}

Status LockedStream::write_if_free(std::string_view bytes) {
    const std::unique_lock<std::mutex> guard(lock_, std::try_to_lock);
    if (!guard.owns_lock()) return fail(std::string(kStreamBusy));
    return write_all(writer_, bytes);
}

std::mutex& standard_output_lock() {
    static std::mutex lock;
    return lock;
}

}  // namespace quorle
