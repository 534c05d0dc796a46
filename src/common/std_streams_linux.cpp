#include <cerrno>
#include <csignal>
#include <poll.h>
#include <unistd.h>

#include <memory>

#include "common/std_streams.h"

namespace quorle {
namespace {

class FdWriter final : public RawWriter {
  public:
    explicit FdWriter(int fd) : fd_(fd) {}
    WriteOutcome write_some(const char* data, std::size_t size) override {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) return {0, 0, true};
            return {0, static_cast<std::uint32_t>(errno), false};
        }
        return {static_cast<std::size_t>(n), 0, false};
    }

    // Waits for room with poll() on the descriptor as it is: descriptor 1 stays blocking,
    // since its open file description may be shared with the reader or a terminal.
    bool wait_for_room(std::chrono::milliseconds limit) override {
        pollfd watched{fd_, POLLOUT, 0};
        const int ready = ::poll(&watched, 1, static_cast<int>(limit.count()));
        if (ready > 0) return true;  // room, or an error or hang-up that the write reports
        if (ready == 0 || errno == EINTR) return false;
        return true;  // poll itself failed: let the write report the descriptor's state
    }

  private:
    int fd_;
};

}  // namespace

std::uint32_t no_progress_error_code() {
    return EIO;
}

OutputStream& standard_output() {
    static FdWriter writer(STDOUT_FILENO);
    static LockedStream stream(writer, standard_output_lock());
    return stream;
}

OutputStream& standard_error() {
    static FdWriter writer(STDERR_FILENO);
    static std::mutex lock;
    static LockedStream stream(writer, lock);
    return stream;
}

std::unique_ptr<RawWriter> file_writer(std::intptr_t file) {
    return std::make_unique<FdWriter>(static_cast<int>(file));
}

void cancel_standard_stream_writes() {}

void init_standard_streams() {
    // A reader that goes away must show up as a write error (EPIPE), not end the process.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace quorle
