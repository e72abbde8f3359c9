// The gapsum plug-in: S = gapsum(P, T).
// Binds the host's arrays to sumGapCubes.

#include <cstdint>

#include "host_interrupt.h"
#include "mex.h"
#include "sum_gap_cubes.h"

#if defined(_WIN32)
#define PLUGIN_EXPORT __declspec(dllexport)
#else
#define PLUGIN_EXPORT __attribute__((visibility("default")))
#endif

namespace {

constexpr long long kMaxCount = 2147483647;  // counts are 32-bit signed

// Refuses an input that is not a full real double array, naming what it is.
void requireFullRealDouble(const mxArray* a, const char* name) {
    if (mxIsDouble(a) && !mxIsComplex(a) && !mxIsSparse(a)) return;
    const char* what = mxIsSparse(a) ? "sparse" : mxIsComplex(a) ? "complex" : mxGetClassName(a);
    mexErrMsgIdAndTxt("gapsum:notRealDouble", "%s must be a full real double array; it is %s.",
                      name, what);
}

}  // namespace

extern "C" PLUGIN_EXPORT void mexFunction(int nlhs, mxArray* plhs[], int nrhs, const mxArray* prhs[]) {
    // Checks refuse only calls that could not be carried out safely; they run
    // before anything is created.
    if (nrhs < 2)
        mexErrMsgIdAndTxt("gapsum:notEnoughInputs", "expected 2 inputs (P, T); got %d.", nrhs);
    if (nlhs > 1)
        mexErrMsgIdAndTxt("gapsum:tooManyOutputs", "returns one output (S); %d were requested.", nlhs);
    requireFullRealDouble(prhs[0], "P");
    requireFullRealDouble(prhs[1], "T");
    if (mxGetNumberOfElements(prhs[1]) == 0)
        mexErrMsgIdAndTxt("gapsum:emptyInput", "T (the threshold) must not be empty.");
    {
        const long long rows = static_cast<long long>(mxGetDimensions(prhs[0])[0]);
        // Columns as the host counts them: every dimension after the first.
        const long long cols = static_cast<long long>(mxGetN(prhs[0]));
        if (cols < 4)
            mexErrMsgIdAndTxt("gapsum:tooFewColumns",
                              "P must have at least 4 columns (x, y, z, radius); it has %lld.", cols);
        if (rows < 0 || rows > kMaxCount)
            mexErrMsgIdAndTxt("gapsum:tooLarge",
                              "P has %lld rows; at most 2147483647 spheres are supported.", rows);
    }

    // Private copies of the inputs: the caller's arrays are never written.
    mxArray* tableCopy = mxDuplicateArray(prhs[0]);
    mxArray* thresholdCopy = mxDuplicateArray(prhs[1]);

    const std::int32_t count = static_cast<std::int32_t>(mxGetDimensions(prhs[0])[0]);

    plhs[0] = mxCreateDoubleMatrix(1, 1, mxREAL);

    const double* table = mxGetPr(tableCopy);
    const double T = mxGetPr(thresholdCopy)[0];
    double* result = mxGetPr(plhs[0]);

    // The cell grid's memory comes from the host, which releases it however
    // the call ends; on a normal end it is freed here.
    const ConstSphereTable spheres{table, count};
    const GapSumPlan plan = planGapSum(spheres, T);
    GridWorkspace workspace;
    workspace.bytes = sumGapCubesWorkspaceBytes(plan);
    if (workspace.bytes > 0) {
        workspace.data = mxMalloc(workspace.bytes);
        if (!workspace.data)
            mexErrMsgIdAndTxt("gapsum:outOfMemory", "could not get %llu bytes for the search grid of %d spheres.",
                              static_cast<unsigned long long>(workspace.bytes), count);
    }

    const SumResult sum = sumGapCubesChecked(plan, workspace, hostInterruptCheck());
    if (workspace.data) mxFree(workspace.data);
    if (sum.interrupted) endInterruptedCall("gapsum:interrupted", "interrupted.");
    result[0] = sum.sum;
}
