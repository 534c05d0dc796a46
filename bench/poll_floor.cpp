// poll_floor: the cost of polling alone. Sleeps 2 ms in a loop, through the same clock the
// capture worker polls its empty ring with, until it is ended by a signal; its CPU time is
// the least any capture with that poll can cost on this machine.
//
//   poll_floor        prints "ready" once it loops; stop it with SIGTERM or SIGINT
#include <chrono>
#include <csignal>
#include <cstdio>

#include "common/clock.h"

namespace {
volatile std::sig_atomic_t stop_requested = 0;
void request_stop(int) {
    stop_requested = 1;
}
}  // namespace

int main() {
    std::signal(SIGTERM, request_stop);
    std::signal(SIGINT, request_stop);
    std::printf("ready\n");
    std::fflush(stdout);
    quorle::MonotonicClock& clock = quorle::system_clock();
    while (stop_requested == 0)
        clock.sleep_for(std::chrono::milliseconds(2));
    return 0;
}
