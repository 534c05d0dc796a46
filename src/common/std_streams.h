#pragma once
// Standard output and standard error as byte streams: no newline translation, every write
// whole under a lock, short writes continued, interrupted writes repeated, failures returned
// as values (a closed reader is a write error, never a signal). A write can be made
// stoppable, so that a reader that stops reading cannot hold the writer for ever.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
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

// How long a stoppable write waits for room at a time before it asks whether to go on.
inline constexpr std::chrono::milliseconds kWriteWaitSlice{50};

// The most bytes one call of a stoppable write hands over. A pipe that poll() reports
// writable takes this much (PIPE_BUF) without blocking.
inline constexpr std::size_t kStoppableWriteChunk = 4096;

// One platform write primitive (a file descriptor, a Windows handle, or a test double).
class RawWriter {
  public:
    virtual ~RawWriter() = default;
    virtual WriteOutcome write_some(const char* data, std::size_t size) = 0;
    // Waits at most `limit` until write_some can take bytes without blocking. True: write
    // now (there is room, or the descriptor is in a state that write_some will report);
    // false: no room yet. Writers that cannot wait for room (a Windows handle: there a stop
    // cancels the blocked write instead) answer true at once.
    [[nodiscard]] virtual bool wait_for_room(std::chrono::milliseconds limit) {
        (void)limit;
        return true;
    }
};

// What a stoppable write asks while it goes on (the capture worker's running flag).
class WriteWait {
  public:
    virtual ~WriteWait() = default;
    // Called before each write call and after each slice spent waiting for room (so about
    // every kWriteWaitSlice while the reader takes nothing). False ends the write early.
    [[nodiscard]] virtual bool keep_writing() = 0;
};

// The error code reported when a write call accepts no bytes without reporting an error.
[[nodiscard]] std::uint32_t no_progress_error_code();

// The failure text of a write that its WriteWait ended early.
inline constexpr std::string_view kWriteStopped = "write stopped";

// Writes every byte through `writer`: a short write continues with the rest, an interrupted
// write is repeated, a failure (or a write accepting nothing) returns its platform error text.
// With `wait`, the write is stoppable: before each write call it waits for room in slices of
// kWriteWaitSlice, asks `wait` before each call and after each slice, and fails with
// kWriteStopped when told to end; each call then hands over at most kStoppableWriteChunk.
[[nodiscard]] Status write_all(RawWriter& writer, std::string_view bytes,
                               WriteWait* wait = nullptr);

// A stream that other code writes whole pieces to.
class OutputStream {
  public:
    virtual ~OutputStream() = default;
    // Writes all of `bytes` as one piece: no other write of the stream interleaves with it.
    [[nodiscard]] virtual Status write(std::string_view bytes) = 0;
    // The same, but `wait` may end the write early (see write_all); bytes already handed
    // over stay written. Streams that never wait write the whole piece.
    [[nodiscard]] virtual Status write_stoppable(std::string_view bytes, WriteWait& wait) {
        (void)wait;
        return write(bytes);
    }
    // The same as write, but only when no other write of the stream is in progress: a busy
    // stream fails with kStreamBusy at once and writes nothing. Streams that are never
    // busy write the whole piece.
    [[nodiscard]] virtual Status write_if_free(std::string_view bytes) { return write(bytes); }
};

// The failure text of write_if_free on a stream that another write holds.
inline constexpr std::string_view kStreamBusy = "stream busy";

// An OutputStream over a RawWriter that holds `lock` for each whole write.
class LockedStream final : public OutputStream {
  public:
    LockedStream(RawWriter& writer, std::mutex& lock) : writer_(writer), lock_(lock) {}
    [[nodiscard]] Status write(std::string_view bytes) override;
    [[nodiscard]] Status write_stoppable(std::string_view bytes, WriteWait& wait) override;
    [[nodiscard]] Status write_if_free(std::string_view bytes) override;

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

// A writer of an open file: a descriptor (Linux) or a HANDLE (Windows), given as an integer.
// The file stays open and belongs to the caller; it must outlive the writer.
[[nodiscard]] std::unique_ptr<RawWriter> file_writer(std::intptr_t file);

// Cancels every write in progress on the standard output and standard error handles, from
// whichever thread of the process it was made (Windows: CancelIoEx on each handle; the
// cancelled write fails with ERROR_OPERATION_ABORTED). Reaches the writes that a cancel of
// the writing thread's synchronous I/O cannot: a handle opened for overlapped I/O, or a
// writing thread whose handle could not be opened. Linux: nothing to cancel (stoppable
// writes wait in bounded polls).
void cancel_standard_stream_writes();

// Prepares the standard streams for binary output: no newline translation (Windows) and no
// SIGPIPE on a closed reader (Linux). Call first thing in every program entry.
void init_standard_streams();

}  // namespace quorle
