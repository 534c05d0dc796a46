#include <windows.h>

#include "common/named_thread.h"
#include "common/text.h"

namespace quorle {

std::string effective_thread_name(const std::string& name) {
    return name;
}

void set_current_thread_name(const std::string& name) {
    // SetThreadDescription exists from Windows 10 1607 on; look it up so that older
    // systems (and Wine builds without it) simply keep an unnamed thread.
    using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return;
    const auto set = reinterpret_cast<SetDescription>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetThreadDescription")));
    if (set == nullptr) return;
    const std::u16string wide = utf8_to_utf16z(name);
    (void)set(GetCurrentThread(), reinterpret_cast<PCWSTR>(wide.c_str()));
}

// A real handle of the calling thread with THREAD_TERMINATE access, which
// CancelSynchronousIo needs (a pseudo handle or a pthread handle is not one).
std::uintptr_t open_current_thread_for_io_cancel() {
    HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, GetCurrentThreadId());
    if (thread == nullptr &&
        !DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &thread,
                         THREAD_TERMINATE, FALSE, 0)) {
        return 0;
    }
    return reinterpret_cast<std::uintptr_t>(thread);
}

void cancel_thread_io(std::uintptr_t thread) {
    // Fails with ERROR_NOT_FOUND when the thread is in no I/O now; the caller tries again.
    (void)CancelSynchronousIo(reinterpret_cast<HANDLE>(thread));
}

void close_thread_for_io_cancel(std::uintptr_t thread) {
    CloseHandle(reinterpret_cast<HANDLE>(thread));
}

}  // namespace quorle
