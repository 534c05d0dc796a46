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

}  // namespace quorle
