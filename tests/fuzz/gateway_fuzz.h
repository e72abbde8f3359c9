#pragma once

// Shared part of the entry-point fuzzers: inputs of any class, sparsity,
// complexity and shape from the fuzzer's bytes, and the checks that hold
// after every call whatever it was given.

#include <string>
#include <vector>

#include "cell_grid.h"
#include "fuzz_support.h"
#include "standin_host.h"

namespace gatewayfuzz {

// Any array a script could pass, within what a host can hold: dimensions of
// 0 to 8, or a huge one with no elements. The first input may also have more
// rows than 32 bits count, which both entry points must refuse before they
// read any data; it comes without data, as no test machine could hold it.
inline mxArray* makeInput(FuzzBytes& bytes, int index) {
    static const char* const kClasses[] = {"double", "double", "double", "double", "double", "double",
                                           "single", "int32", "logical", "char", "cell", "struct"};
    const std::uint8_t kind = bytes.byte();
    const std::string className = kClasses[kind % 12];
    const bool sparse = (kind >> 4) % 8 == 0;
    const bool complex = (kind >> 4) % 8 == 1;
    const int ndims = 2 + bytes.byte() % 3;
    std::vector<mwSize> dims(ndims);
    bool huge = false;
    for (mwSize& d : dims) {
        const std::uint8_t b = bytes.byte();
        if (b >= 250 && !huge) {  // one huge dimension at most: element counts never overflow
            static const mwSize kHuge[] = {2147483647u, 2147483648u, 536870912u, 4294967299u, 536870911u, 1u << 30};
            d = kHuge[b - 250];
            huge = true;
        } else {
            d = b % 9;
        }
    }
    std::size_t elements = 1;
    for (mwSize d : dims) elements *= static_cast<std::size_t>(d);
    const std::string name = "input " + std::to_string(index);
    if (huge && elements != 0) {
        if (index == 0) {
            dims[0] = 2147483648u;
            return standin::makeShapeOnly(name, dims);
        }
        for (mwSize& d : dims) d %= 9;
        elements = 1;
        for (mwSize d : dims) elements *= static_cast<std::size_t>(d);
    }
    std::vector<double> values(elements);
    for (double& v : values) v = bytes.value();
    return standin::makeArray(name, className, sparse, complex, dims, values);
}

struct Copy {
    std::vector<mwSize> dims;
    std::vector<double> data;
    std::string className;
    bool sparse, complex;
};

inline Copy copyOf(const mxArray* a) { return {a->dims, a->data, a->className, a->sparse, a->complex}; }

inline bool unchanged(const mxArray* a, const Copy& c) {
    return a->dims == c.dims && a->className == c.className && a->sparse == c.sparse && a->complex == c.complex &&
           a->data.size() == c.data.size() &&
           (c.data.empty() || std::memcmp(a->data.data(), c.data.data(), c.data.size() * sizeof(double)) == 0);
}

// Runs the entry point on inputs from the bytes and checks what must hold
// after any call. Returns the outcome for the plug-in's own checks.
struct Outcome {
    std::vector<const mxArray*> inputs;
    std::vector<mxArray*> outputs;
    standin::HostError error;
    std::size_t created;
};

inline Outcome run(FuzzBytes& bytes, const char* prefix) {
    Outcome out;
    // The first byte also chooses the search: the cost rule, or the grid,
    // the map or the rows sorted by cell forced at any size.
    const std::uint8_t first = bytes.byte();
    const int nlhs = first % 3;
    const SearchMode modes[] = {SearchMode::Auto, SearchMode::Grid, SearchMode::Map, SearchMode::Sorted};
    forceSearchMode(modes[(first / 3) % 4]);
    const int nrhs = bytes.byte() % 6;
    for (int k = 0; k < nrhs; ++k) out.inputs.push_back(makeInput(bytes, k));
    std::vector<Copy> before;
    for (const mxArray* a : out.inputs) before.push_back(copyOf(a));

    const std::size_t arrays = standin::arrayCount();
    out.outputs.resize(1);
    out.error = standin::call(nlhs, out.outputs, out.inputs);
    out.created = standin::arrayCount() - arrays;
    FUZZ_CHECK(standin::liveAllocations() == 0);

    for (std::size_t k = 0; k < out.inputs.size(); ++k) FUZZ_CHECK(unchanged(out.inputs[k], before[k]));
    if (!out.error.id.empty()) FUZZ_CHECK(out.error.id.rfind(prefix, 0) == 0 && !out.error.message.empty());
    return out;
}

}  // namespace gatewayfuzz
