#include <cerrno>
#include <csignal>
#include <unistd.h>

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

void init_standard_streams() {
    // A reader that goes away must show up as a write error (EPIPE), not end the process.
    std::signal(SIGPIPE, SIG_IGN);
}

}  // namespace quorle
