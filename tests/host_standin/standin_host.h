#pragma once

// The test side of the stand-in host: making arrays, reading them back, and
// the log of host operations an entry point called.

#include <string>
#include <vector>

#include "mex.h"

struct mxArray_tag {
    std::string name;       // for the call log: "D", "copy of D", "result 1"
    std::string className = "double";
    bool complex = false;
    bool sparse = false;
    std::vector<mwSize> dims;
    std::vector<double> data;  // real part, column by column
};

namespace standin {

struct HostError {
    std::string id;
    std::string message;
};

// A full real double array of the given dimensions; values fill it from the
// start and the rest is zero.
mxArray* makeDoubles(const std::string& name, std::vector<mwSize> dims, std::vector<double> values = {});
// Any array: class, sparsity, complexity, dimensions and (real) values.
mxArray* makeArray(const std::string& name, const std::string& className, bool sparse, bool complex,
                   std::vector<mwSize> dims, std::vector<double> values);
// An array that has dimensions but no data, for sizes too large to hold.
mxArray* makeShapeOnly(const std::string& name, std::vector<mwSize> dims);
// An array of another kind: a class name other than "double", or sparse, or complex.
mxArray* makeOther(const std::string& name, const std::string& className, bool sparse, bool complex);

// Host operations in the order they were called, as "operation name", e.g.
// "mxDuplicateArray D", "mxCreateDoubleMatrix 3x4", "mxGetPr copy of D".
const std::vector<std::string>& callLog();
// How many arrays the host holds: those made by the test and by the entry point.
std::size_t arrayCount();
// Memory from mxMalloc that is not freed yet.
std::size_t liveAllocations();
// While set, mxMalloc fails as a host out of memory does: it returns null.
void failAllocations(bool fail);

// Ctrl-C: from now on the plug-ins' check says stop at its `polls`-th
// question (-1: never); and how many questions it was asked since.
void interruptAfterPolls(long polls);
long interruptPolls();

// Forgets every array and the log.
void reset();

// Runs the entry point; returns the host error it raised, if any (id empty otherwise).
HostError call(int nlhs, std::vector<mxArray*>& plhs, const std::vector<const mxArray*>& prhs);

}  // namespace standin
