#pragma once

// Stops a build whose arithmetic would give other bits than every other
// machine's. The build scripts set the flags; this catches a build that
// bypasses them. (A fused multiply-add leaves no trace a header can see:
// the tests catch that one.)

#include <cfloat>

#if defined(__FAST_MATH__)
#error "Built with fast math, which reorders and approximates floating-point operations: remove -ffast-math / -Ofast."
#endif

#if defined(FLT_EVAL_METHOD) && FLT_EVAL_METHOD != 0 && FLT_EVAL_METHOD != -1
#error "Doubles are evaluated in extended precision (x87): on 32-bit x86 build with -msse2 -mfpmath=sse."
#endif
