// Ctrl-C in Octave: its signal handler sets octave_signal_caught, and
// octave_quit() raises Octave's own interrupt, as a built-in function does.
// Only these two headers go beside mex.h (oct.h clashes with it).

#include "host_interrupt.h"
#include "mex.h"
#include "octave-config.h"
#include "quit.h"

namespace {

bool signalCaught(void*) { return octave_signal_caught != 0; }

}  // namespace

InterruptCheck hostInterruptCheck() { return InterruptCheck{&signalCaught, nullptr}; }

void endInterruptedCall(const char* id, const char* message) {
    octave_quit();
    // A signal other than an interrupt: end the call all the same.
    mexErrMsgIdAndTxt(id, "%s", message);
}
