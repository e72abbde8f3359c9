#include "sum_gap_cubes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

double sumOf(const std::vector<RefSphere>& spheres, double T, int extraColumns = 0) {
    std::vector<double> data = toColumns(spheres, extraColumns);
    return sumGapCubes(ConstSphereTable{data.data(), std::int32_t(spheres.size())}, T);
}

struct SumCase {
    std::string name;
    std::vector<RefSphere> spheres;
    double T;
    double expected;
};

TEST(SumGapCubes, WorkedExamplesGiveExactBits) {
    const std::vector<SumCase> cases = {
        {"gap 1, rel 0.5, included below T = 1", {{0, 0, 0, 1}, {3, 0, 0, 1}}, 1.0, 0.125},
        {"rel equal to T is left out", {{0, 0, 0, 1}, {3, 0, 0, 1}}, 0.5, 0.0},
        {"overlap adds a negative term", {{0, 0, 0, 1}, {1, 0, 0, 1}}, 0.0, -0.125},
        {"coincident centres give rel -1, left out at T = -1", {{1, 1, 1, 1}, {1, 1, 1, 1}}, -1.0, 0.0},
        {"coincident centres are included just above -1", {{1, 1, 1, 1}, {1, 1, 1, 1}}, -0.999, -1.0},
        {"zero radii apart give rel +inf, never included", {{0, 0, 0, 0}, {2, 0, 0, 0}}, kInf, 0.0},
        {"coincident zero radii give rel NaN", {{0, 0, 0, 0}, {0, 0, 0, 0}}, kInf, 0.0},
        {"a NaN threshold includes nothing", {{0, 0, 0, 1}, {1, 0, 0, 1}}, kNaN, 0.0},
        {"a NaN coordinate drops only its pairs",
         {{0, 0, 0, 1}, {kNaN, 0, 0, 1}, {1, 0, 0, 1}}, 0.0, -0.125},
    };
    for (const SumCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(bitsOf(sumOf(c.spheres, c.T)), bitsOf(c.expected));
    }
}

TEST(SumGapCubes, OverflowingTermsAreNotClamped) {
    // A huge overlap adds -inf, a huge gap adds +inf: together NaN.
    std::vector<RefSphere> spheres = {{0, 0, 0, 1e120}, {0, 0, 0, 1e120}};
    EXPECT_EQ(sumOf(spheres, kInf), -kInf);
    spheres.push_back({1e150, 0, 0, 1});
    EXPECT_TRUE(std::isnan(sumOf(spheres, kInf)));
}

TEST(SumGapCubes, FewerThanTwoRowsGivePositiveZeroWithoutReading) {
    for (std::int32_t rows : {0, -1, -2147483647 - 1})
        EXPECT_EQ(bitsOf(sumGapCubes(ConstSphereTable{nullptr, rows}, 1.0)), 0u) << rows;
    const double one[4] = {1, 2, 3, 4};
    EXPECT_EQ(bitsOf(sumGapCubes(ConstSphereTable{one, 1}, kInf)), 0u);
}

// Random tables (polydisperse, overlapping, NaN-free) against the reference,
// bit for bit, over thresholds that include few, many and all pairs. Extra
// columns full of NaN must change nothing.
TEST(SumGapCubes, MatchesTheReferenceBitForBitOnRandomTables) {
    SeededDraws params(31);
    auto uniform = [&params] { return SeededDraws::drawNext(&params) / 32767.0; };
    for (int trial = 0; trial < 200; ++trial) {
        const int N = trial % 90;
        std::vector<RefSphere> spheres(N);
        for (RefSphere& s : spheres) s = {5 * uniform(), 5 * uniform(), 5 * uniform(), 0.05 + uniform()};
        for (double T : {-0.5, 0.0, 0.1, 2.0, kInf}) {
            std::vector<double> data = toColumns(spheres, 2);
            for (std::size_t k = 4 * std::size_t(N); k < data.size(); ++k) data[k] = kNaN;
            const double got = sumGapCubes(ConstSphereTable{data.data(), N}, T);
            EXPECT_EQ(bitsOf(got), bitsOf(referenceSum(spheres, T))) << "trial " << trial << " T " << T;
        }
    }
}

// dx = 1/32767 and dy = 32/32767 make the rounded dx*dx + dy*dy differ from
// either fused form fma(dx, dx, dy*dy) or fma(dy, dy, dx*dx), so the distance,
// the gap and the term all come out one or more units different under fusion;
// h*h*h + S with S = 0 also changes if fused. The radii keep the pair included.
TEST(SumGapCubes, AGapThatAFusedMultiplyAddWouldRoundDifferently) {
    const double dx = 1 / 32767.0, dy = 32 / 32767.0;
    const std::vector<RefSphere> spheres = {{0, 0, 0, 0x1p-12}, {dx, dy, 0, 0x1p-12}};
    EXPECT_EQ(bitsOf(sumOf(spheres, 2.0)), bitsOf(referenceSum(spheres, 2.0)));
    EXPECT_EQ(bitsOf(sumOf(spheres, 2.0)), bitsOf(0x1.00cc2bc8b01fbp-36));
}

}  // namespace
