#pragma once

// The host's Ctrl-C for the plug-ins' entry points. One small file per host
// implements it, chosen when the plug-in is built: Octave's signal flag, or
// MATLAB's pending interrupt; a build for neither host never stops.

#include "interrupt_check.h"

// A check that says stop once the user has pressed Ctrl-C, for the routines.
InterruptCheck hostInterruptCheck();

// Ends a call whose check said stop, the way the host ends an interrupted
// built-in function where it can, otherwise with the error `id` and
// `message`. Does not return.
void endInterruptedCall(const char* id, const char* message);
