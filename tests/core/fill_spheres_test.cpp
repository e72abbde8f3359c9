#include "fill_spheres.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Filled {
    std::vector<double> table;  // column-major, 4 columns
    FillStatus status;
    std::size_t draws;
};

Filled fillScripted(const std::vector<double>& diameters, double L, double s,
                    const std::vector<std::int32_t>& draws) {
    ScriptedDraws script{draws};
    RandomSource source = script.source();
    Filled out;
    out.table.assign(4 * diameters.size(), 0.0);
    out.status = fillSpheres(diameters.data(), L, s, source,
                             SphereTable{out.table.data(), std::int32_t(diameters.size())});
    EXPECT_FALSE(script.overrun) << "the fill asked for more draws than scripted";
    out.draws = script.taken;
    return out;
}

struct WorkedCase {
    std::string name;
    std::vector<double> diameters;
    double L, s;
    std::vector<std::int32_t> draws;
    std::vector<double> expected;  // column-major table
};

TEST(FillSpheres, WorkedExamplesGiveExactBitsAndUseEveryScriptedDraw) {
    const double third = 16384.0 / 32767.0;
    const std::vector<WorkedCase> cases = {
        {"draws 0, 32767, 0 reach both ends of [0, L]", {5}, 2, 0, {0, 32767, 0}, {0, 2, 0, 2.5}},
        {"a distance equal to the limit is rejected",
         {2, 2}, 2, 0,
         {0, 0, 0, 32767, 0, 0, 32767, 32767, 0},
         {0, 2, 0, 2, 0, 0, 1, 1}},
        {"negative L gives -0.0 for draw 0", {1}, -3, 0, {0, 32767, 16384},
         {-0.0, -3, -3 * third, 0.5}},
        {"one sphere is never tested, whatever its diameter and L", {kNaN}, kNaN, kNaN, {1, 2, 3},
         {kNaN, kNaN, kNaN, kNaN}},
        {"a sphere of diameter 0 keeps more than r_j + s",
         {2, 0}, 2, 0.5,
         // (1.5, 0, 0) sits exactly at r_j + s = 1.5 and is rejected; 2 passes.
         {0, 0, 0, 24575, 0, 0, 32767, 0, 0},
         {0, 2, 0, 0, 0, 0, 1, 0}},
        {"negative clearance lets spheres overlap",
         {2, 2}, 2, -1.5,
         {0, 0, 0, 16384, 0, 0},
         {0, 2 * third, 0, 0, 0, 0, 1, 1}},
        {"a negative diameter is kept as a negative radius and lowers later limits",
         {-2, 0}, 2, 0.5,
         // limit against sphere 0 is (0 + -1) + 0.5 = -0.5, so coincident centres pass
         {0, 0, 0, 0, 0, 0},
         {0, 0, 0, 0, 0, 0, -1, 0}},
    };
    for (const WorkedCase& c : cases) {
        SCOPED_TRACE(c.name);
        Filled got = fillScripted(c.diameters, c.L, c.s, c.draws);
        EXPECT_EQ(got.draws, c.draws.size());
        EXPECT_EQ(got.status.outcome, FillOutcome::Complete);
        EXPECT_EQ(got.status.placed, std::int32_t(c.diameters.size()));
        EXPECT_EQ(bitsOf(got.table), bitsOf(c.expected));
    }
}

TEST(FillSpheres, NoRowsMeansNoDrawsAndNoReads) {
    for (std::int32_t rows : {0, -1, -2147483647 - 1}) {
        ScriptedDraws script{{}};
        RandomSource source = script.source();
        FillStatus status = fillSpheres(nullptr, 1.0, 0.0, source, SphereTable{nullptr, rows});
        EXPECT_EQ(script.taken, 0u) << rows;
        EXPECT_EQ(status.placed, 0);
        EXPECT_EQ(status.outcome, FillOutcome::Complete);
    }
}

TEST(FillSpheres, WritesOnlyTheFourColumnsOfItsRows) {
    // Six columns of three rows; columns 4 and 5 must keep their zeros.
    std::vector<double> storage(6 * 3, 0.0);
    SeededDraws seeded(7);
    RandomSource source = seeded.source();
    const double diameters[3] = {0.1, 0.2, 0.3};
    fillSpheres(diameters, 10.0, 0.0, source, SphereTable{storage.data(), 3});
    for (std::size_t k = 12; k < storage.size(); ++k) EXPECT_EQ(bitsOf(storage[k]), 0u) << k;
}

// Random polydisperse packings, overlapping and sparse, against the reference:
// same table bits and the same number of draws.
TEST(FillSpheres, MatchesTheReferenceBitForBitOnRandomPackings) {
    SeededDraws params(2024);
    auto uniform = [&params] { return SeededDraws::drawNext(&params) / 32767.0; };
    for (int trial = 0; trial < 300; ++trial) {
        const int M = trial % 70;
        const double s = (trial % 3 == 0) ? -0.5 * uniform() : 0.3 * uniform();
        std::vector<double> diameters(M);
        for (double& d : diameters) d = (trial % 5 == 0) ? 0.0 : 0.1 + 1.4 * uniform();
        // An edge that keeps the volume fraction (with the clearance) at most 0.2.
        double volume = 1.0;
        for (double d : diameters) volume += (3.14159265358979323846 / 6) * std::pow(d + s, 3);
        const double L = std::cbrt(volume / (0.01 + 0.19 * uniform()));
        SeededDraws mine(trial), theirs(trial);
        RandomSource mineSource = mine.source(), theirSource = theirs.source();
        std::vector<double> table(4 * M, 0.0);
        FillStatus status = fillSpheres(diameters.data(), L, s, mineSource, SphereTable{table.data(), M});
        std::vector<RefSphere> expected;
        ASSERT_TRUE(referenceFill(diameters, L, s, theirSource, expected)) << trial;

        SCOPED_TRACE(trial);
        EXPECT_EQ(status.outcome, FillOutcome::Complete);
        EXPECT_EQ(bitsOf(table), bitsOf(toColumns(expected)));
        EXPECT_EQ(mine.taken, theirs.taken);
    }
}

// A long, fairly dense packing that completes must not be touched by the stop
// rules: 2000 unit spheres at volume fraction 0.3.
TEST(FillSpheres, ALongPackingFinishesUnaffected) {
    const int M = 2000;
    const double L = std::cbrt(M * (3.14159265358979323846 / 6) / 0.3);
    std::vector<double> diameters(M, 1.0);
    SeededDraws mine(99), theirs(99);
    RandomSource mineSource = mine.source(), theirSource = theirs.source();
    std::vector<double> table(4 * M, 0.0);
    FillStatus status = fillSpheres(diameters.data(), L, 0.0, mineSource, SphereTable{table.data(), M});
    std::vector<RefSphere> expected;
    ASSERT_TRUE(referenceFill(diameters, L, 0.0, theirSource, expected));
    EXPECT_EQ(status.outcome, FillOutcome::Complete);
    EXPECT_EQ(status.placed, M);
    EXPECT_EQ(bitsOf(table), bitsOf(toColumns(expected)));
    EXPECT_EQ(mine.taken, theirs.taken);
}

// With L = 1, draws (1, 32, 0) put the candidate at dx = 1/32767, dy = 32/32767,
// dz = 0. Rounding dx*dx and dy*dy separately gives a sum whose square root is
// one unit in the last place below the square root of either fused form
// fma(dx, dx, dy*dy) or fma(dy, dy, dx*dx), and dz = 0 makes the last addition
// exact either way. The clearance is set to the unfused distance, so the
// correct build rejects this candidate while a build that fuses accepts it.
TEST(FillSpheres, ADistanceThatAFusedMultiplyAddWouldRoundDifferently) {
    const double s = 0x1.0021fe443c7e7p-10;
    Filled got = fillScripted({0, 0}, 1.0, s, {0, 0, 0, 1, 32, 0, 32767, 32767, 32767});
    EXPECT_EQ(got.draws, 9u);
    EXPECT_EQ(bitsOf(got.table), bitsOf({0, 1, 0, 1, 0, 1, 0, 0}));
}

struct StopCase {
    std::string name;
    std::vector<double> diameters;
    double L, s;
    FillOutcome outcome;
};

TEST(FillSpheres, StopsWhenNoCandidateCanEverPass) {
    const std::vector<StopCase> cases = {
        {"NaN edge", {1, 1}, kNaN, 0, FillOutcome::EdgeNotFinite},
        {"infinite edge", {1, 1}, kInf, 0, FillOutcome::EdgeNotFinite},
        {"NaN clearance", {1, 1}, 10, kNaN, FillOutcome::LimitNotFinite},
        {"infinite clearance", {1, 1}, 10, kInf, FillOutcome::LimitNotFinite},
        {"infinite diameter of the new sphere", {1, kInf}, 10, 0, FillOutcome::LimitNotFinite},
        {"NaN diameter of an earlier sphere", {kNaN, 1}, 10, 0, FillOutcome::LimitNotFinite},
        {"radii summing to NaN", {kInf, -kInf}, 10, 0, FillOutcome::LimitNotFinite},
    };
    for (const StopCase& c : cases) {
        SCOPED_TRACE(c.name);
        Filled got = fillScripted(c.diameters, c.L, c.s, {100, 200, 300, 400, 500, 600});
        EXPECT_EQ(got.status.outcome, c.outcome);
        EXPECT_EQ(got.status.placed, 1);
        EXPECT_EQ(got.status.attempts, 1);
        EXPECT_EQ(got.status.blocker, 0);
        EXPECT_EQ(got.draws, 6u);
        // Row 1 holds the rejected candidate.
        EXPECT_EQ(bitsOf(got.table[1]), bitsOf(c.L * (400 / 32767.0)));
        EXPECT_EQ(bitsOf(got.table[7]), bitsOf(c.diameters[1] * 0.5));
    }
}

TEST(FillSpheres, ACubeTooSmallStopsAtTheAttemptCap) {
    // Ten spheres of diameter 10 in a cube of edge 1: sphere 1 never fits.
    std::vector<double> diameters(10, 10.0);
    std::vector<double> table(40, 0.0);
    SeededDraws seeded(5);
    RandomSource source = seeded.source();
    FillStatus status = fillSpheres(diameters.data(), 1.0, 0.0, source, SphereTable{table.data(), 10});
    EXPECT_EQ(status.outcome, FillOutcome::AttemptCap);
    EXPECT_EQ(status.placed, 1);
    EXPECT_EQ(status.attempts, kMaxAttemptsPerSphere);
    EXPECT_EQ(status.blocker, 0);
    EXPECT_EQ(seeded.taken, 3u * (1 + kMaxAttemptsPerSphere));
    EXPECT_EQ(table[10 * 3 + 1], 5.0);  // the last candidate's radius
    for (int row = 2; row < 10; ++row)
        for (int c = 0; c < 4; ++c) EXPECT_EQ(bitsOf(table[c * 10 + row]), 0u);
}

}  // namespace
