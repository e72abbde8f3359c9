// The spherefill plug-in: P = spherefill(D, L, s).
// Binds the host's arrays to fillSpheres and owns the plug-in's random source.

#include <cstdint>
#include <cstdlib>

#include "fill_spheres.h"
#include "host_interrupt.h"
#include "mex.h"
#include "pcg15.h"

#if defined(_WIN32)
#define PLUGIN_EXPORT __declspec(dllexport)
#else
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// One random source for as long as the plug-in stays loaded, never reseeded,
// so consecutive calls continue one sequence. Where the C runtime's rand has
// exactly the range 0..32767 each draw is one rand call (shared with any other
// code in the process that uses rand); elsewhere the plug-in's own PCG
// generator runs here, from its constant initial state.
#if RAND_MAX == 32767
std::int32_t drawRuntimeRand(void*) { return std::rand(); }
RandomSource pluginRandom{&drawRuntimeRand, nullptr};
#else
Pcg15 pluginGenerator;
RandomSource pluginRandom{&Pcg15::drawNext, &pluginGenerator, &Pcg15::skipDraws, &Pcg15::drawMany,
                          &pluginGenerator.state};
#endif

constexpr long long kMaxCount = 2147483647;  // counts are 32-bit signed

// A host dimension as a wide signed value; anything that does not fit comes
// out negative or above kMaxCount, whatever the width of the host's mwSize.
template <typename Size>
long long wide(Size n) {
    return static_cast<long long>(n);
}

bool isFullRealDouble(const mxArray* a) {
    return mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a);
}

// Refuses an input that is not a full real double array, naming what it is.
void requireFullRealDouble(const mxArray* a, const char* name) {
    if (isFullRealDouble(a)) return;
    const char* what = mxIsSparse(a) ? "sparse" : mxIsComplex(a) ? "complex" : mxGetClassName(a);
    mexErrMsgIdAndTxt("spherefill:notRealDouble",
                      "%s must be a full real double array; it is %s.", name, what);
}

void requireScalarInput(const mxArray* a, const char* name, const char* meaning) {
    requireFullRealDouble(a, name);
    if (mxGetNumberOfElements(a) == 0)
        mexErrMsgIdAndTxt("spherefill:emptyInput", "%s (%s) must not be empty.", name, meaning);
}

void reportStop(const FillStatus& status, std::int32_t count) {
    const int sphere = status.placed + 1;
    const long long attempts = status.attempts;
    const char* plural = attempts == 1 ? "" : "s";
    switch (status.outcome) {
    case FillOutcome::AttemptCap:
        mexErrMsgIdAndTxt("spherefill:tooFull",
                          "sphere %d of %d could not be placed after %lld attempt%s: the cube is "
                          "too full for these diameters and this clearance.",
                          sphere, count, attempts, plural);
        break;
    case FillOutcome::LimitNotFinite:
        mexErrMsgIdAndTxt("spherefill:nonFiniteSize",
                          "sphere %d of %d could not be placed after %lld attempt%s: its required "
                          "distance from sphere %d is NaN or Inf; check s and the diameters.",
                          sphere, count, attempts, plural, status.blocker + 1);
        break;
    case FillOutcome::EdgeNotFinite:
        mexErrMsgIdAndTxt("spherefill:nonFiniteEdge",
                          "sphere %d of %d could not be placed after %lld attempt%s: the cube "
                          "edge L is NaN or Inf, so no distance between centres is defined.",
                          sphere, count, attempts, plural);
        break;
    case FillOutcome::Interrupted:
        endInterruptedCall("spherefill:interrupted",
                           "interrupted; the random sequence has advanced by the draws made before the "
                           "interrupt (clear spherefill starts it afresh).");
        break;
    case FillOutcome::Complete:
        break;
    }
}

}  // namespace

extern "C" PLUGIN_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    // Checks refuse only calls that could not be carried out safely; they run
    // before anything is created and never touch the random source.
    if (nrhs < 3)
        mexErrMsgIdAndTxt("spherefill:notEnoughInputs",
                          "expected 3 inputs (D, L, s); got %d.", nrhs);
    if (nlhs > 1)
        mexErrMsgIdAndTxt("spherefill:tooManyOutputs",
                          "returns one output (P); %d were requested.", nlhs);
    requireFullRealDouble(prhs[0], "D");
    requireScalarInput(prhs[1], "L", "the cube edge");
    requireScalarInput(prhs[2], "s", "the clearance");
    {
        const mwSize* dims = mxGetDimensions(prhs[0]);
        const long long rows = wide(dims[0]);
        const long long cols = wide(dims[1]);
        if (rows < 0 || rows > kMaxCount)
            mexErrMsgIdAndTxt("spherefill:tooLarge",
                              "D has %lld rows; at most 2147483647 spheres are supported.", rows);
        if (cols < 0 || cols > kMaxCount / 4)
            mexErrMsgIdAndTxt("spherefill:tooLarge",
                              "D has %lld columns; P would need 4 times as many, which is more "
                              "than 2147483647.", cols);
        if (rows > 0 && cols == 0)
            mexErrMsgIdAndTxt("spherefill:noColumns",
                              "D has %lld rows but no columns; pass the diameters as a column.", rows);
        // A later dimension of 0 (say 2x3x0) leaves no diameters to read either.
        if (rows > 0 && mxGetNumberOfElements(prhs[0]) == 0)
            mexErrMsgIdAndTxt("spherefill:noColumns",
                              "D has %lld rows but no elements (a later dimension is 0); pass the "
                              "diameters as a column.", rows);
    }

    // Private copies of the inputs: the caller's arrays are never written.
    mxArray* diametersCopy = mxDuplicateArray(prhs[0]);
    mxArray* edgeCopy = mxDuplicateArray(prhs[1]);
    mxArray* clearanceCopy = mxDuplicateArray(prhs[2]);

    const mwSize* dims = mxGetDimensions(prhs[0]);
    const std::int32_t count = static_cast<std::int32_t>(dims[0]);
    const std::int32_t width = static_cast<std::int32_t>(dims[1]);

    plhs[0] = mxCreateDoubleMatrix(count, 4 * width, mxREAL);

    const double* diameters = mxGetPr(diametersCopy);
    const double L = mxGetPr(edgeCopy)[0];
    const double s = mxGetPr(clearanceCopy)[0];
    double* table = mxGetPr(plhs[0]);

    // The cell grid's memory comes from the host, which releases it however
    // the call ends; on a normal end it is freed here.
    GridWorkspace workspace;
    workspace.bytes = fillSpheresWorkspaceBytes(diameters, L, s, count);
    if (workspace.bytes > 0) {
        workspace.data = mxMalloc(workspace.bytes);
        if (!workspace.data)
            mexErrMsgIdAndTxt("spherefill:outOfMemory",
                              "could not get %llu bytes for the search grid of %d spheres.",
                              static_cast<unsigned long long>(workspace.bytes), count);
    }

    const FillStatus status =
        fillSpheres(diameters, L, s, pluginRandom, SphereTable{table, count}, workspace, hostInterruptCheck());
    if (workspace.data) mxFree(workspace.data);
    // A stop, or Ctrl-C, leaves the partly filled table in plhs[0] and
    // reports why.
    reportStop(status, count);
}
