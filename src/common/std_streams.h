#pragma once
// Standard output and standard error as byte streams: no newline translation, every write
// whole under a lock, short writes continued, interrupted writes repeated, failures returned
// as values (a closed reader is a write error, never a signal).
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string_view>

#include "common/result.h"

namespace quorle {

// The outcome of one raw write call of the platform.
struct WriteOutcome {
    std::size_t written = 0;   // bytes the call accepted
    std::uint32_t error = 0;   // platform error code when the call failed (0: no failure)
    bool interrupted = false;  // the call was interrupted before writing anything (EINTR)
};

// One platform write primitive (a file descriptor, a Windows handle, or a test double).
class RawWriter {
  public:
    virtual ~RawWriter() = default;
    virtual WriteOutcome write_some(const char* data, std::size_t size) = 0;
};

// The error code reported when a write call accepts no bytes without reporting an error.
[[nodiscard]] std::uint32_t no_progress_error_code();

// Writes every byte through `writer`: a short write continues with the rest, an interrupted
// write is repeated, a failure (or a write accepting nothing) returns its platform error text.
[[nodiscard]] Status write_all(RawWriter& writer, std::string_view bytes);

// A stream that other code writes whole pieces to.
class OutputStream {
  public:
    virtual ~OutputStream() = default;
    // Writes all of `bytes` as one piece: no other write of the stream interleaves with it.
    [[nodiscard]] virtual Status write(std::string_view bytes) = 0;
};

// An OutputStream over a RawWriter that holds `lock` for each whole write.
class LockedStream final : public OutputStream {
  public:
    LockedStream(RawWriter& writer, std::mutex& lock) : writer_(writer), lock_(lock) {}
    [[nodiscard]] Status write(std::string_view bytes) override;

  private:
    RawWriter& writer_;
    std::mutex& lock_;
};

// The process-wide standard output lock, held for every whole write of standard output.
[[nodiscard]] std::mutex& standard_output_lock();

// The process's standard output and standard error. On Windows a process without a
// standard error handle drops what is written there and reports success.
[[nodiscard]] OutputStream& standard_output();
[[nodiscard]] OutputStream& standard_error();

// Prepares the standard streams for binary output: no newline translation (Windows) and no
// SIGPIPE on a closed reader (Linux). Call first thing in every program entry.
void init_standard_streams();

}  // namespace quorle
