// Ctrl-C in MATLAB: utIsInterruptPending() from MATLAB's libut, the way MEX
// files commonly poll it (it is not documented, so it is declared here);
// the plug-in is linked with -lut.

#include "host_interrupt.h"
#include "mex.h"

extern "C" bool utIsInterruptPending();

namespace {

bool interruptPending(void*) { return utIsInterruptPending(); }

}  // namespace

InterruptCheck hostInterruptCheck() { return InterruptCheck{&interruptPending, nullptr}; }

void endInterruptedCall(const char* id, const char* message) { mexErrMsgIdAndTxt(id, "%s", message); }
