#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <memory>

#include "common/platform_error.h"
#include "common/std_streams.h"

namespace quorle {
namespace {

// One WriteFile call. A synchronous handle's write blocks until the reader has taken the
// bytes; a stop ends such a write from another thread with CancelSynchronousIo on the
// writing thread or CancelIoEx on the handle (its ERROR_OPERATION_ABORTED is a failure like
// any other).
WriteOutcome write_handle(HANDLE handle, const char* data, std::size_t size) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(handle, data, chunk, &written, nullptr)) {
        return {0, hresult_from_win32(GetLastError()), false};
    }
    return {written, 0, false};
}

class HandleWriter final : public RawWriter {
  public:
    HandleWriter(DWORD which, bool missing_is_success)
        : which_(which), missing_is_success_(missing_is_success) {}

    WriteOutcome write_some(const char* data, std::size_t size) override {
        const HANDLE handle = GetStdHandle(which_);
        if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
            if (missing_is_success_) return {size, 0, false};
            return {0, hresult_from_win32(ERROR_INVALID_HANDLE), false};
        }
        return write_handle(handle, data, size);
    }

  private:
    DWORD which_;
    bool missing_is_success_;
};

class FileHandleWriter final : public RawWriter {
  public:
    explicit FileHandleWriter(HANDLE handle) : handle_(handle) {}
    WriteOutcome write_some(const char* data, std::size_t size) override {
        return write_handle(handle_, data, size);
    }

  private:
    HANDLE handle_;
};

}  // namespace

std::uint32_t no_progress_error_code() {
    return hresult_from_win32(ERROR_WRITE_FAULT);
}

OutputStream& standard_output() {
    static HandleWriter writer(STD_OUTPUT_HANDLE, false);
    static LockedStream stream(writer, standard_output_lock());
    return stream;
}

OutputStream& standard_error() {
    // A windowless program may have no standard error: its line is then dropped.
    static HandleWriter writer(STD_ERROR_HANDLE, true);
    static std::mutex lock;
    static LockedStream stream(writer, lock);
    return stream;
}

std::unique_ptr<RawWriter> file_writer(std::intptr_t file) {
    return std::make_unique<FileHandleWriter>(reinterpret_cast<HANDLE>(file));
}

void cancel_standard_stream_writes() {
    for (const DWORD which : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = GetStdHandle(which);
        // ERROR_NOT_FOUND (no write in progress) is expected; the caller repeats the cancel.
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) (void)CancelIoEx(handle, nullptr);
    }
}

void init_standard_streams() {
    // Writes go straight to the handles, but keep the C runtime binary too so that nothing
    // written through it could ever be translated.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

}  // namespace quorle
