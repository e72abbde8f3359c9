#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "gateway_test_support.h"
#include "sum_gap_cubes.h"

namespace {

using standin::makeDoubles;

class GapsumGateway : public ::testing::Test {
protected:
    void TearDown() override { standin::reset(); }

    double run(const mxArray* P, const mxArray* T, int nlhs = 1, const mxArray* extra = nullptr) {
        std::vector<mxArray*> plhs(1);
        std::vector<const mxArray*> prhs = {P, T};
        if (extra) prhs.push_back(extra);
        standin::HostError error = standin::call(nlhs, plhs, prhs);
        EXPECT_EQ(error.id, "") << error.message;
        if (!plhs[0]) return std::numeric_limits<double>::quiet_NaN();
        EXPECT_EQ(plhs[0]->dims, (std::vector<mwSize>{1, 1}));
        return plhs[0]->data[0];
    }
};

// Two unit spheres 3 apart: gap 1, rel 0.5, term 0.125 when T > 0.5.
const std::vector<double> kPair = {0, 3, 0, 0, 0, 0, 1, 1};

TEST_F(GapsumGateway, CopiesFirstThenCreatesTheResultThenSums) {
    EXPECT_EQ(run(makeDoubles("P", {2, 4}, kPair), makeDoubles("T", {1, 1}, {1})), 0.125);
    const std::vector<std::string> expected = {"mxDuplicateArray P", "mxDuplicateArray T",
                                               "mxCreateDoubleMatrix 1x1", "mxGetPr copy of P",
                                               "mxGetPr copy of T", "mxGetPr result 1"};
    EXPECT_EQ(creatingCalls(), expected);
    expectDimensionsReadFromOriginal("P");
}

struct ShapeCase {
    std::string name;
    std::vector<mwSize> dims;
    std::vector<double> values;
    std::vector<double> T;
    double expected;
};

TEST_F(GapsumGateway, ReadsTheFirstFourColumnsAndTheFirstThreshold) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    std::vector<double> wide = kPair;
    wide.insert(wide.end(), {nan, nan});
    const std::vector<ShapeCase> cases = {
        {"no rows: no data is read", {0, 4}, {}, {1}, 0.0},
        {"one row", {1, 4}, {0, 0, 0, 1}, {1}, 0.0},
        {"a fifth column is ignored", {2, 5}, wide, {1}, 0.125},
        {"only the first threshold is used", {2, 4}, kPair, {1, 0}, 0.125},
        {"only the first threshold is used (left out)", {2, 4}, kPair, {0.5, 1}, 0.0},
        {"2x2x2 counts as four columns", {2, 2, 2}, kPair, {1}, 0.125},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const mxArray* P = makeDoubles("P", c.dims, c.values);
        const mxArray* T = makeDoubles("T", {1, static_cast<mwSize>(c.T.size())}, c.T);
        const Snapshot beforeP(P), beforeT(T);
        const double S = run(P, T);
        EXPECT_EQ(bitsOf(S), bitsOf(c.expected));
        EXPECT_TRUE(Snapshot(P) == beforeP);
        EXPECT_TRUE(Snapshot(T) == beforeT);
    }
}

TEST_F(GapsumGateway, ExtraInputsAreIgnoredAndNoRequestedOutputStillGetsTheResult) {
    const double S = run(makeDoubles("P", {2, 4}, kPair), makeDoubles("T", {1, 1}, {1}), 0,
                         standin::makeOther("extra", "struct", false, false));
    EXPECT_EQ(S, 0.125);
}

TEST_F(GapsumGateway, RefusesCallsOutsideTheContract) {
    const mxArray* P = makeDoubles("P", {2, 4}, kPair);
    const mxArray* T = makeDoubles("T", {1, 1}, {1});
    auto other = [](const char* cls, bool sparse = false, bool complex = false) {
        return standin::makeOther(cls, cls, sparse, complex);
    };
    std::vector<RefusalCase> cases = {
        {"no inputs", 1, {}, "gapsum:notEnoughInputs"},
        {"one input", 1, {P}, "gapsum:notEnoughInputs"},
        {"two outputs", 2, {P, T}, "gapsum:tooManyOutputs"},
        {"single P", 1, {other("single"), T}, "gapsum:notRealDouble"},
        {"char P", 1, {other("char"), T}, "gapsum:notRealDouble"},
        {"cell P", 1, {other("cell"), T}, "gapsum:notRealDouble"},
        {"sparse P", 1, {other("double", true), T}, "gapsum:notRealDouble"},
        {"int8 T", 1, {P, other("int8")}, "gapsum:notRealDouble"},
        {"complex T", 1, {P, other("double", false, true)}, "gapsum:notRealDouble"},
        {"empty T", 1, {P, makeDoubles("T", {0, 1})}, "gapsum:emptyInput"},
        {"three columns", 1, {makeDoubles("P", {3, 3}), T}, "gapsum:tooFewColumns"},
        {"no rows, three columns", 1, {makeDoubles("P", {0, 3}), T}, "gapsum:tooFewColumns"},
#ifndef STANDIN_32BIT_DIMS
        {"rows beyond 32 bits", 1, {standin::makeShapeOnly("P", {2147483648u, 4}), T}, "gapsum:tooLarge"},
#endif
    };
    expectRefusals(cases);
}

TEST_F(GapsumGateway, TheColumnCountIsNamedInTheMessage) {
    std::vector<mxArray*> plhs(1);
    standin::HostError error = standin::call(1, plhs, {makeDoubles("P", {5, 3}), makeDoubles("T", {1, 1})});
    EXPECT_EQ(error.message, "P must have at least 4 columns (x, y, z, radius); it has 3.");
}

// The grid's memory comes from the host and goes back to it: freed on a
// normal end; when the host has none, a clear error, with the inputs
// unchanged and nothing but the result created.
TEST_F(GapsumGateway, TheSearchGridsMemoryComesFromTheHostAndGoesBack) {
    for (int k = 0; k < 4; ++k) {
        const SearchMode mode = k < 2 ? SearchMode::Grid : SearchMode::Sorted;
        const bool fail = k % 2 == 0;
        forceSearchMode(mode);
        SCOPED_TRACE(std::string(searchModeName(mode)) + (fail ? ", allocation fails" : ", allocation works"));
        standin::failAllocations(fail);
        const mxArray* P = makeDoubles("P", {2, 4}, kPair);
        const Snapshot before(P);
        const std::size_t arrays = standin::arrayCount();
        std::vector<mxArray*> plhs(1);
        standin::HostError error = standin::call(1, plhs, {P, makeDoubles("T", {1, 1}, {1})});
        EXPECT_EQ(error.id, fail ? "gapsum:outOfMemory" : "");
        EXPECT_EQ(standin::liveAllocations(), 0u);
        EXPECT_TRUE(Snapshot(P) == before);
        EXPECT_EQ(standin::arrayCount(), arrays + 1 + 2 + 1);  // T, two copies, the result
        if (!fail) {
            EXPECT_EQ(plhs[0]->data[0], 0.125);
        }
    }
    forceSearchMode(SearchMode::Auto);
}

// Ctrl-C: the call ends with its error, creates nothing but the result and
// frees the grid; the next call gives the sum exactly.
TEST_F(GapsumGateway, AnInterruptEndsTheCallAndTheNextCallIsExact) {
    const mwSize count = 11000;  // 6·10^7 pairs: at least 3 polls
    std::vector<double> values(4 * count, 0.5);
    for (mwSize i = 0; i < 3 * count; ++i) values[i] = std::fmod(i * 0.618033988749895, 1.0) * 40;
    const mxArray* P = makeDoubles("P", {count, 4}, values);
    const mxArray* T = makeDoubles("T", {1, 1}, {std::numeric_limits<double>::infinity()});
    for (long polls : {2, -1}) {
        SCOPED_TRACE(polls);
        standin::interruptAfterPolls(polls);
        const std::size_t arrays = standin::arrayCount();
        std::vector<mxArray*> plhs(1);
        standin::HostError error = standin::call(1, plhs, {P, T});
        EXPECT_EQ(error.id, polls > 0 ? "gapsum:interrupted" : "");
        EXPECT_GE(standin::interruptPolls(), polls > 0 ? polls : 3);
        EXPECT_EQ(standin::arrayCount(), arrays + 3);  // two copies and the result
        EXPECT_EQ(standin::liveAllocations(), 0u);
        if (polls < 0) {
            EXPECT_EQ(bitsOf(plhs[0]->data[0]),
                      bitsOf(sumGapCubes(ConstSphereTable{values.data(), static_cast<std::int32_t>(count)}, INFINITY)));
        }
    }
}

}  // namespace
