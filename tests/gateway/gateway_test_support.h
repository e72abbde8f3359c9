#pragma once

// Shared pieces of the entry-point tests: snapshots of inputs and the parts of
// the call log that the order of host operations is judged on.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "standin_host.h"

inline std::uint64_t bitsOf(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// Everything an input's caller could observe, to check it is unchanged.
struct Snapshot {
    std::vector<mwSize> dims;
    std::vector<unsigned char> bytes;

    explicit Snapshot(const mxArray* a) : dims(a->dims), bytes(a->data.size() * sizeof(double)) {
        if (!a->data.empty()) std::memcpy(bytes.data(), a->data.data(), bytes.size());
    }
    bool operator==(const Snapshot& o) const { return dims == o.dims && bytes == o.bytes; }
};

// The log without the dimension reads, which input checks also make.
inline std::vector<std::string> creatingCalls() {
    std::vector<std::string> out;
    for (const std::string& c : standin::callLog())
        if (c.rfind("mxGetDimensions", 0) != 0) out.push_back(c);
    return out;
}

// Dimensions are read from the caller's array, never from a copy, and at
// least once after the copies were made.
inline void expectDimensionsReadFromOriginal(const std::string& name) {
    bool copied = false, readAfterCopies = false;
    for (const std::string& c : standin::callLog()) {
        EXPECT_NE(c, "mxGetDimensions copy of " + name);
        if (c == "mxDuplicateArray " + name) copied = true;
        if (copied && c == "mxGetDimensions " + name) readAfterCopies = true;
    }
    EXPECT_TRUE(readAfterCopies);
}

struct RefusalCase {
    std::string name;
    int nlhs;
    std::vector<const mxArray*> inputs;
    std::string id;
};

// Each refusal raises its identifier before anything is copied or created.
inline void expectRefusals(const std::vector<RefusalCase>& cases) {
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Snapshot> before;
        for (const mxArray* a : c.inputs) before.emplace_back(a);
        const std::size_t logStart = standin::callLog().size();
        std::vector<mxArray*> plhs(1);
        standin::HostError error = standin::call(c.nlhs, plhs, c.inputs);
        EXPECT_EQ(error.id, c.id) << error.message;
        EXPECT_FALSE(error.message.empty());
        EXPECT_EQ(plhs[0], nullptr);
        for (std::size_t k = logStart; k < standin::callLog().size(); ++k)
            EXPECT_EQ(standin::callLog()[k].rfind("mxGetDimensions", 0), 0u) << standin::callLog()[k];
        for (std::size_t k = 0; k < c.inputs.size(); ++k) EXPECT_TRUE(Snapshot(c.inputs[k]) == before[k]);
    }
}
