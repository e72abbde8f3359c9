#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "cell_grid.h"
#include "gateway_test_support.h"

namespace {

using standin::makeDoubles;

class SpherefillGateway : public ::testing::Test {
protected:
    void TearDown() override { standin::reset(); }

    mxArray* run(const mxArray* D, double L, double s) {
        std::vector<mxArray*> plhs(1);
        standin::HostError error = standin::call(
            1, plhs, {D, makeDoubles("L", {1, 1}, {L}), makeDoubles("s", {1, 1}, {s})});
        EXPECT_EQ(error.id, "") << error.message;
        return plhs[0];
    }
};

// Runs in a process of its own, so the plug-in's source is at its start: the
// plug-in's own PCG generator or, where RAND_MAX is 32767 (Windows), the C
// runtime's rand, which nothing has called yet. Spheres of diameter 0 with a
// negative clearance are never rejected and L = 1 makes each coordinate
// draw / 32767.
TEST_F(SpherefillGateway, InAFreshProcessThePluginStartsItsSequenceAndContinuesIt) {
#if RAND_MAX == 32767
    const double expected[10] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358, 26962, 24464};
#else
    const double expected[10] = {2710, 318, 25987, 31941, 3691, 21105, 13071, 1181, 23540, 29583};
#endif
    const mxArray* D = makeDoubles("D", {2, 1}, {0, 0});
    const mxArray* first = run(D, 1.0, -1.0);
    const mxArray* second = run(D, 1.0, -1.0);
    // Rows are spheres: draws go x, y, z of row 0, then row 1.
    const double got[10] = {first->data[0], first->data[2], first->data[4], first->data[1],
                            first->data[3], first->data[5], second->data[0], second->data[2],
                            second->data[4], second->data[1]};
    for (int k = 0; k < 10; ++k) EXPECT_EQ(got[k], expected[k] / 32767.0) << "draw " << k;
}

TEST_F(SpherefillGateway, CopiesFirstThenCreatesTheResultThenFills) {
    run(makeDoubles("D", {2, 1}, {1, 2}), 100, 0);
    const std::vector<std::string> expected = {
        "mxDuplicateArray D", "mxDuplicateArray L",  "mxDuplicateArray s", "mxCreateDoubleMatrix 2x4",
        "mxGetPr copy of D",  "mxGetPr copy of L",   "mxGetPr copy of s",  "mxGetPr result 1"};
    EXPECT_EQ(creatingCalls(), expected);
    expectDimensionsReadFromOriginal("D");
}

struct ShapeCase {
    std::string name;
    std::vector<mwSize> dims;
    std::vector<double> values;
    mwSize rows, cols;
    std::vector<double> diameters;  // the ones that must be used
};

TEST_F(SpherefillGateway, ResultShapeFollowsTheFirstTwoDimensionsOfD) {
    const std::vector<ShapeCase> cases = {
        {"column", {3, 1}, {1, 2, 3}, 3, 4, {1, 2, 3}},
        {"matrix: first column only, 4K columns", {2, 3}, {1, 2, 9, 9, 9, 9}, 2, 12, {1, 2}},
        {"row: one sphere", {1, 3}, {4, 9, 9}, 1, 12, {4}},
        {"three dimensions: 2x2x2", {2, 2, 2}, {1, 2, 9, 9, 9, 9, 9, 9}, 2, 8, {1, 2}},
        {"no rows: no data is read", {0, 1}, {}, 0, 4, {}},
        {"no rows and no columns", {0, 0}, {}, 0, 0, {}},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.name);
        const mxArray* D = makeDoubles("D", c.dims, c.values);
        const Snapshot before(D);
        const mxArray* P = run(D, 1000, 0);
        ASSERT_NE(P, nullptr);
        EXPECT_EQ(P->dims, (std::vector<mwSize>{c.rows, c.cols}));
        EXPECT_TRUE(Snapshot(D) == before);
        for (std::size_t i = 0; i < c.diameters.size(); ++i) {
            EXPECT_EQ(P->data[3 * c.rows + i], c.diameters[i] * 0.5);
            for (int k = 0; k < 3; ++k) EXPECT_TRUE(P->data[k * c.rows + i] >= 0 && P->data[k * c.rows + i] <= 1000);
        }
        for (std::size_t k = 4 * c.rows; k < P->data.size(); ++k) EXPECT_EQ(P->data[k], 0.0);
    }
}

TEST_F(SpherefillGateway, ExtraInputsAreIgnoredAndNoRequestedOutputStillGetsTheResult) {
    std::vector<mxArray*> plhs(1);
    const mxArray* L = makeDoubles("L", {1, 3}, {1000, -1, std::nan("")});
    standin::HostError error = standin::call(
        0, plhs, {makeDoubles("D", {2, 1}, {1, 1}), L, makeDoubles("s", {1, 1}, {0}),
                  standin::makeOther("extra", "cell", false, false)});
    EXPECT_EQ(error.id, "");
    ASSERT_NE(plhs[0], nullptr);
    EXPECT_EQ(plhs[0]->dims, (std::vector<mwSize>{2, 4}));
    for (int k = 0; k < 6; ++k) EXPECT_TRUE(plhs[0]->data[k] >= 0 && plhs[0]->data[k] <= 1000);
}

TEST_F(SpherefillGateway, RefusesCallsOutsideTheContract) {
    const mxArray* D = makeDoubles("D", {2, 1}, {1, 1});
    const mxArray* L = makeDoubles("L", {1, 1}, {10});
    const mxArray* s = makeDoubles("s", {1, 1}, {0});
    auto other = [](const char* cls, bool sparse = false, bool complex = false) {
        return standin::makeOther(cls, cls, sparse, complex);
    };
    std::vector<RefusalCase> cases = {
        {"no inputs", 1, {}, "spherefill:notEnoughInputs"},
        {"two inputs", 1, {D, L}, "spherefill:notEnoughInputs"},
        {"two outputs", 2, {D, L, s}, "spherefill:tooManyOutputs"},
        {"single D", 1, {other("single"), L, s}, "spherefill:notRealDouble"},
        {"int32 D", 1, {other("int32"), L, s}, "spherefill:notRealDouble"},
        {"logical L", 1, {D, other("logical"), s}, "spherefill:notRealDouble"},
        {"char s", 1, {D, L, other("char")}, "spherefill:notRealDouble"},
        {"cell D", 1, {other("cell"), L, s}, "spherefill:notRealDouble"},
        {"struct L", 1, {D, other("struct"), s}, "spherefill:notRealDouble"},
        {"sparse D", 1, {other("double", true), L, s}, "spherefill:notRealDouble"},
        {"complex s", 1, {D, L, other("double", false, true)}, "spherefill:notRealDouble"},
        {"empty L", 1, {D, makeDoubles("L", {0, 0}), s}, "spherefill:emptyInput"},
        {"empty s", 1, {D, L, makeDoubles("s", {1, 0})}, "spherefill:emptyInput"},
        {"rows but no columns", 1, {makeDoubles("D", {3, 0}), L, s}, "spherefill:noColumns"},
        {"rows but a later dimension of 0", 1, {makeDoubles("D", {2, 3, 0}), L, s}, "spherefill:noColumns"},
        {"4K beyond 32 bits", 1, {standin::makeShapeOnly("D", {1, 536870912}), L, s},
         "spherefill:tooLarge"},
#ifndef STANDIN_32BIT_DIMS
        {"rows beyond 32 bits", 1, {standin::makeShapeOnly("D", {2147483648u, 1}), L, s},
         "spherefill:tooLarge"},
#endif
    };
    expectRefusals(cases);
}

struct StopCase {
    std::string name;
    std::vector<double> diameters;
    double L, s;
    std::string id, message;
};

TEST_F(SpherefillGateway, AFillThatCannotFinishRaisesAnErrorAndKeepsThePartialTable) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<StopCase> cases = {
        {"NaN edge", {1, 1}, nan, 0, "spherefill:nonFiniteEdge", "sphere 2 of 2 could not be placed after 1 attempt: "},
        {"NaN clearance", {1, 1}, 10, nan, "spherefill:nonFiniteSize", "sphere 2 of 2 could not be placed after 1 attempt: "},
        {"cube too small", {10, 10, 10}, 1, 0, "spherefill:tooFull",
         "sphere 2 of 3 could not be placed after 10000000 attempts: the cube is too full"},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<mxArray*> plhs(1);
        const mwSize M = c.diameters.size();
        standin::HostError error = standin::call(
            1, plhs, {makeDoubles("D", {M, 1}, c.diameters), makeDoubles("L", {1, 1}, {c.L}),
                      makeDoubles("s", {1, 1}, {c.s})});
        EXPECT_EQ(error.id, c.id);
        EXPECT_EQ(error.message.rfind(c.message, 0), 0u) << error.message;
        ASSERT_NE(plhs[0], nullptr);
        EXPECT_EQ(plhs[0]->data[3 * M], c.diameters[0] * 0.5);  // sphere 1 was placed
    }
}

// The grid's memory comes from the host and goes back to it: freed on a
// normal end; when the host has none, a clear error before any draw, with
// the inputs unchanged and nothing but the result created.
TEST_F(SpherefillGateway, TheSearchGridsMemoryComesFromTheHostAndGoesBack) {
    forceSearchMode(SearchMode::Grid);
    for (bool fail : {true, false}) {
        SCOPED_TRACE(fail ? "allocation fails" : "allocation works");
        standin::failAllocations(fail);
        const mxArray* D = makeDoubles("D", {3, 1}, {1, 1, 1});
        const Snapshot before(D);
        const std::size_t arrays = standin::arrayCount();
        std::vector<mxArray*> plhs(1);
        standin::HostError error =
            standin::call(1, plhs, {D, makeDoubles("L", {1, 1}, {10}), makeDoubles("s", {1, 1}, {0})});
        EXPECT_EQ(error.id, fail ? "spherefill:outOfMemory" : "");
        EXPECT_EQ(standin::liveAllocations(), 0u);
        EXPECT_TRUE(Snapshot(D) == before);
        EXPECT_EQ(standin::arrayCount(), arrays + 2 + 3 + 1);  // L, s, three copies, the result
        if (fail) {
            EXPECT_EQ(plhs[0]->data[0], 0.0) << "no draw before the refusal";
        }
    }
    forceSearchMode(SearchMode::Auto);
}

// Ctrl-C: the call ends with its error, keeps the partial table, creates
// nothing else and frees the grid; the next call runs to its end.
TEST_F(SpherefillGateway, AnInterruptEndsTheCallAndTheNextCallRuns) {
    const mwSize count = 20000;
    const mxArray* D = makeDoubles("D", {count, 1}, std::vector<double>(count, 1.0));
    const mxArray* L = makeDoubles("L", {1, 1}, {std::cbrt(count * 0.5235987755982988 / 0.3)});
    const mxArray* s = makeDoubles("s", {1, 1}, {0});
    for (long polls : {2, -1}) {
        SCOPED_TRACE(polls);
        standin::interruptAfterPolls(polls);
        const std::size_t arrays = standin::arrayCount();
        std::vector<mxArray*> plhs(1);
        standin::HostError error = standin::call(1, plhs, {D, L, s});
        EXPECT_EQ(error.id, polls > 0 ? "spherefill:interrupted" : "");
        EXPECT_GE(standin::interruptPolls(), polls > 0 ? polls : 3);
        EXPECT_EQ(standin::arrayCount(), arrays + 4);  // three copies and the result
        EXPECT_EQ(standin::liveAllocations(), 0u);
        ASSERT_NE(plhs[0], nullptr);
        EXPECT_EQ(plhs[0]->data[3 * count], 0.5);  // sphere 1 was placed
        EXPECT_EQ(plhs[0]->data[4 * count - 1], polls > 0 ? 0.0 : 0.5);
    }
}

}  // namespace
