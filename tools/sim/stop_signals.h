#pragma once
// SIGTERM and SIGINT end the simulator only while it waits in ppoll(): they are blocked
// everywhere else, so a signal that arrives between two checks is never lost.

#include <signal.h>

// Blocks SIGTERM and SIGINT, routes them to `handler`, and returns the mask to hand to ppoll()
// (the current one with both unblocked).
inline sigset_t blockStopSignals(void (*handler)(int)) {
    sigset_t block, waitMask;
    sigemptyset(&block);
    sigaddset(&block, SIGTERM);
    sigaddset(&block, SIGINT);
    sigprocmask(SIG_BLOCK, &block, &waitMask);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGINT);
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    return waitMask;
}
