#pragma once

// A stand-in for the host's mex.h, for unit tests of the plug-ins' entry
// points without a host. It declares the host operations the entry points use;
// standin_host.h gives tests the means to make arrays and to see what the
// entry point did with them. Built with STANDIN_32BIT_DIMS it has the 32-bit
// dimension interface of a MATLAB build with -compatibleArrayDims; otherwise
// an unsigned 64-bit mwSize as in MATLAB's large-array interface.

#include <cstddef>

#ifdef STANDIN_32BIT_DIMS
typedef int mwSize;
#else
typedef std::size_t mwSize;
#endif

typedef struct mxArray_tag mxArray;
typedef enum { mxREAL, mxCOMPLEX } mxComplexity;

mxArray* mxDuplicateArray(const mxArray* a);
const mwSize* mxGetDimensions(const mxArray* a);
mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity complexity);
double* mxGetPr(const mxArray* a);
bool mxIsDouble(const mxArray* a);
bool mxIsComplex(const mxArray* a);
bool mxIsSparse(const mxArray* a);
std::size_t mxGetNumberOfElements(const mxArray* a);
std::size_t mxGetN(const mxArray* a);
const char* mxGetClassName(const mxArray* a);
void* mxMalloc(std::size_t bytes);
void mxFree(void* memory);

// Throws standin::HostError, as the real host's error operation ends the call.
void mexErrMsgIdAndTxt(const char* id, const char* format, ...);

extern "C" void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]);
