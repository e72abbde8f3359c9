#include "standin_host.h"

#include <cstdarg>
#include <cstdio>
#include <deque>
#include <cstdlib>
#include <memory>
#include <set>

namespace {

std::deque<std::unique_ptr<mxArray>> arrays;  // the host owns every array
std::vector<std::string> calls;
int created = 0;
std::set<void*> allocations;
bool allocationsFail = false;

mxArray* adopt(mxArray a) {
    arrays.push_back(std::make_unique<mxArray>(std::move(a)));
    return arrays.back().get();
}

}  // namespace

namespace standin {

mxArray* makeArray(const std::string& name, const std::string& className, bool sparse, bool complex,
                   std::vector<mwSize> dims, std::vector<double> values) {
    mxArray a;
    a.name = name;
    a.className = className;
    a.sparse = sparse;
    a.complex = complex;
    a.dims = std::move(dims);
    std::size_t n = 1;
    for (mwSize d : a.dims) n *= static_cast<std::size_t>(d);
    values.resize(n, 0.0);
    a.data = std::move(values);
    return adopt(std::move(a));
}

mxArray* makeDoubles(const std::string& name, std::vector<mwSize> dims, std::vector<double> values) {
    return makeArray(name, "double", false, false, std::move(dims), std::move(values));
}

mxArray* makeShapeOnly(const std::string& name, std::vector<mwSize> dims) {
    mxArray a;
    a.name = name;
    a.dims = std::move(dims);
    return adopt(std::move(a));
}

mxArray* makeOther(const std::string& name, const std::string& className, bool sparse, bool complex) {
    return makeArray(name, className, sparse, complex, {1, 1}, {1.0});
}

std::size_t arrayCount() { return arrays.size(); }

const std::vector<std::string>& callLog() { return calls; }

std::size_t liveAllocations() { return allocations.size(); }
void failAllocations(bool fail) { allocationsFail = fail; }

void reset() {
    for (void* p : allocations) std::free(p);
    allocations.clear();
    allocationsFail = false;
    interruptAfterPolls(-1);
    arrays.clear();
    calls.clear();
    created = 0;
}

HostError call(int nlhs, std::vector<mxArray*>& plhs, const std::vector<const mxArray*>& prhs) {
    plhs.assign(plhs.size() < 1 ? 1 : plhs.size(), nullptr);
    try {
        mexFunction(nlhs, plhs.data(), static_cast<int>(prhs.size()),
                    const_cast<const mxArray**>(prhs.data()));
    } catch (const HostError& e) {
        return e;
    }
    return {};
}


}  // namespace standin

mxArray* mxDuplicateArray(const mxArray* a) {
    calls.push_back("mxDuplicateArray " + a->name);
    mxArray copy = *a;
    copy.name = "copy of " + a->name;
    return adopt(std::move(copy));
}

const mwSize* mxGetDimensions(const mxArray* a) {
    calls.push_back("mxGetDimensions " + a->name);
    return a->dims.data();
}

mxArray* mxCreateDoubleMatrix(mwSize m, mwSize n, mxComplexity) {
    const std::string shape = std::to_string(m) + "x" + std::to_string(n);
    calls.push_back("mxCreateDoubleMatrix " + shape);
    return standin::makeDoubles("result " + std::to_string(++created), {m, n});
}

// Empty arrays have no data: the pointer is null, as hosts may hand it out.
double* mxGetPr(const mxArray* a) {
    calls.push_back("mxGetPr " + a->name);
    return a->data.empty() ? nullptr : const_cast<double*>(a->data.data());
}

void* mxMalloc(std::size_t bytes) {
    calls.push_back("mxMalloc");
    if (allocationsFail) return nullptr;
    void* p = std::malloc(bytes ? bytes : 1);
    allocations.insert(p);
    return p;
}

void mxFree(void* memory) {
    calls.push_back("mxFree");
    if (memory && allocations.erase(memory)) std::free(memory);
}

bool mxIsDouble(const mxArray* a) { return a->className == "double"; }
bool mxIsComplex(const mxArray* a) { return a->complex; }
bool mxIsSparse(const mxArray* a) { return a->sparse; }
const char* mxGetClassName(const mxArray* a) { return a->className.c_str(); }

std::size_t mxGetNumberOfElements(const mxArray* a) {
    std::size_t n = 1;
    for (mwSize d : a->dims) n *= static_cast<std::size_t>(d);
    return n;
}

std::size_t mxGetN(const mxArray* a) {
    std::size_t n = 1;
    for (std::size_t k = 1; k < a->dims.size(); ++k) n *= static_cast<std::size_t>(a->dims[k]);
    return n;
}

void mexErrMsgIdAndTxt(const char* id, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    throw standin::HostError{id, message};
}
