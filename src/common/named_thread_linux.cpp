#include <pthread.h>

#include "common/named_thread.h"

namespace quorle {

std::string effective_thread_name(const std::string& name) {
    return name.substr(0, 15);
}

void set_current_thread_name(const std::string& name) {
    // The kernel refuses names longer than 15 bytes (ERANGE): keep what fits.
    (void)pthread_setname_np(pthread_self(), effective_thread_name(name).c_str());
}

// Writes wait for room in bounded polls and ask whether to go on after each, so there is
// nothing to cancel.
std::uintptr_t open_current_thread_for_io_cancel() {
    return 0;
}
void cancel_thread_io(std::uintptr_t) {}
void close_thread_for_io_cancel(std::uintptr_t) {}

}  // namespace quorle
