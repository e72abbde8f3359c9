// The stand-in host's Ctrl-C: a check that says stop after a number of
// polls that a test sets, and an interrupted call that ends with its error.

#include "host_interrupt.h"
#include "standin_host.h"

namespace {

long pollsLeft = -1;  // -1: never stop
long polled = 0;

bool countdown(void*) {
    ++polled;
    if (pollsLeft < 0) return false;
    if (pollsLeft > 0) --pollsLeft;
    return pollsLeft == 0;
}

}  // namespace

namespace standin {

void interruptAfterPolls(long polls) {
    pollsLeft = polls;
    polled = 0;
}
long interruptPolls() { return polled; }

}  // namespace standin

InterruptCheck hostInterruptCheck() { return InterruptCheck{&countdown, nullptr}; }

void endInterruptedCall(const char* id, const char* message) { mexErrMsgIdAndTxt(id, "%s", message); }
