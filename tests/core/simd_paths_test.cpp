// Every instruction-set path this machine can run, forced one by one, against
// the plain loop, bit for bit.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "fill_spheres.h"
#include "fill_spheres_paths.h"
#include "sum_gap_cubes.h"
#include "sum_gap_cubes_paths.h"
#include "test_support.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

struct Path {
    SimdPath path;
    ConflictTest conflict;
    double (*sum)(ConstSphereTable, double, InterruptPoll*);
};

std::vector<Path> vectorPaths() {
    std::vector<Path> out;
#ifdef SPHEREFILL_X86_SIMD
    if (simdPathSupported(SimdPath::Avx2)) out.push_back({SimdPath::Avx2, &firstConflictAvx2, &sumGapCubesAvx2});
    if (simdPathSupported(SimdPath::Avx512))
        out.push_back({SimdPath::Avx512, &firstConflictAvx512, &sumGapCubesAvx512});
#endif
    return out;
}

// Values that sit on the edges of the arithmetic: signed zeros, NaN, infinities,
// subnormals, the ends of the range in which squared limits stay normal.
const std::vector<double> kEdgeValues = {0.0, -0.0, 1.0, -1.0, 0.5, 2.0, 3.0, 5.0, kNaN, kInf, -kInf,
                                          5e-324, 1e-300, 0x1p-500, 0x1p500, 1e300, 1e-160, 1e160};

TEST(SimdPaths, TheEnvironmentChoosesThePath) {
    const char* wanted = std::getenv("SPHEREFILL_SIMD");
    if (!wanted) GTEST_SKIP() << "SPHEREFILL_SIMD is not set";
    for (SimdPath p : {SimdPath::Plain, SimdPath::Avx2, SimdPath::Avx512}) {
        if (std::string(wanted) != simdPathName(p)) continue;
        if (!simdPathSupported(p)) GTEST_SKIP() << wanted << " is not supported here";
        EXPECT_EQ(activeSimdPath(), p);
        return;
    }
    FAIL() << "unknown path " << wanted;
}

// Rows where the candidate's distance equals its limit, or lies within a few
// units in the last place of it, on either side: the squared distances differ
// from the squared limit by a unit or two in their last place, where only the
// square root decides.
TEST(SimdPaths, TheCandidateTestAgreesWithThePlainLoopOnTiesAndNearTies) {
    // Candidate at the origin; rows near distance 5 (3-4-0 triangles), moved
    // by a few units in the last place of x or of the squared distance.
    const double limits[] = {5.0, std::nextafter(5.0, 0.0), std::nextafter(5.0, 10.0), 5 * (1 + 0x1p-50),
                             5 * (1 - 0x1p-50), 5 * (1 + 0x1p-47), 5 * (1 - 0x1p-47)};
    const double xOffsets[] = {0.0, 0x1p-51, -0x1p-51, 0x1p-50, -0x1p-50, 0x1p-49, -0x1p-49};
    const double zOffsets[] = {0.0, 0x1p-24, 0x1p-23, 0x1.8p-24, 0x1p-25, 0x1p-22};
    for (const Path& p : vectorPaths()) {
        SCOPED_TRACE(simdPathName(p.path));
        for (int count : {1, 3, 4, 5, 8, 9, 13}) {
            for (double limit : limits) {
                for (double ox : xOffsets) {
                    for (double oz : zOffsets) {
                        const int tieAt = count / 2;
                        // Every row clears by a wide margin except row tieAt.
                        std::vector<double> xs(count, 30.0), ys(count, 40.0), zs(count, 0.0), rs(count, 1.0);
                        xs[tieAt] = 3.0 + ox, ys[tieAt] = 4.0, zs[tieAt] = oz, rs[tieAt] = limit - 1.0;
                        const std::int32_t want = firstConflictPlain(xs.data(), ys.data(), zs.data(),
                                                                     rs.data(), count, 0, 0, 0, 1.0, 0.0);
                        EXPECT_EQ(p.conflict(xs.data(), ys.data(), zs.data(), rs.data(), count, 0, 0, 0, 1.0, 0.0),
                                  want)
                            << "count " << count << " limit " << limit << " x " << ox << " z " << oz;
                    }
                }
            }
        }
    }
}

TEST(SimdPaths, TheCandidateTestAgreesWithThePlainLoopOnEdgeValues) {
    SeededDraws params(77);
    auto pick = [&params](const std::vector<double>& pool) {
        return pool[SeededDraws::drawNext(&params) % pool.size()];
    };
    auto uniform = [&params] { return SeededDraws::drawNext(&params) / 32767.0; };
    for (const Path& p : vectorPaths()) {
        SCOPED_TRACE(simdPathName(p.path));
        for (int trial = 0; trial < 20000; ++trial) {
            const int count = trial % 21;
            std::vector<double> xs(count), ys(count), zs(count), rs(count);
            // Mostly ordinary values with an edge value now and then.
            auto value = [&] { return uniform() < 0.15 ? pick(kEdgeValues) : 6 * uniform() - 1; };
            for (int k = 0; k < count; ++k) xs[k] = value(), ys[k] = value(), zs[k] = value(), rs[k] = value() / 4;
            const double x = value(), y = value(), z = value(), r = value() / 4, s = value() / 8;
            EXPECT_EQ(p.conflict(xs.data(), ys.data(), zs.data(), rs.data(), count, x, y, z, r, s),
                      firstConflictPlain(xs.data(), ys.data(), zs.data(), rs.data(), count, x, y, z, r, s))
                << "trial " << trial;
        }
    }
}

TEST(SimdPaths, TheSumAgreesWithThePlainLoopOnRandomAndEdgeTables) {
    SeededDraws params(13);
    auto uniform = [&params] { return SeededDraws::drawNext(&params) / 32767.0; };
    for (const Path& p : vectorPaths()) {
        SCOPED_TRACE(simdPathName(p.path));
        for (int trial = 0; trial < 3000; ++trial) {
            const int count = trial % 41;
            const bool edges = trial % 2 == 1;
            std::vector<double> data(4 * count);
            for (double& v : data)
                v = edges && uniform() < 0.1 ? kEdgeValues[SeededDraws::drawNext(&params) % kEdgeValues.size()]
                                             : 4 * uniform();
            for (int k = 0; k < count; ++k) data[3 * count + k] *= 0.5;  // radii, overlapping often
            const ConstSphereTable table{data.data(), count};
            for (double T : {-1.0, -0.2, 0.0, 0.1, 1.0, kInf, kNaN}) {
                EXPECT_TRUE(sameResult(p.sum(table, T, nullptr), sumGapCubesPlain(table, T)))
                    << "trial " << trial << " T " << T;
            }
        }
    }
}

// Whole fills through fillSpheres with the path forced: the same table and
// the same number of draws as the plain loop. Dense, polydisperse, with zero
// diameters and negative clearances, and sizes that are not multiples of a
// vector's width.
TEST(SimdPaths, WholeFillsAgreeInTableAndDraws) {
    const SimdPath saved = activeSimdPath();
    struct Fill {
        int count;
        double phi, s;
        bool zeros;
    };
    const std::vector<Fill> fills = {{1, 0.1, 0.0, false},   {3, 0.2, 0.0, false},  {7, 0.3, 0.1, false},
                                     {37, 0.3, 0.0, true},   {61, 0.2, -0.3, false}, {300, 0.3, 0.0, false},
                                     {700, 0.33, 0.01, false}};
    for (const Path& p : vectorPaths()) {
        SCOPED_TRACE(simdPathName(p.path));
        for (const Fill& f : fills) {
            std::vector<double> diameters(f.count);
            for (int k = 0; k < f.count; ++k) diameters[k] = f.zeros && k % 3 == 0 ? 0.0 : 1.0 + 0.5 * (k % 2);
            double volume = 0;
            for (double d : diameters) volume += (3.14159265358979323846 / 6) * d * d * d;
            const double L = std::cbrt(volume / f.phi);

            std::vector<double> want(4 * f.count), got(4 * f.count);
            SeededDraws plainDraws(f.count), pathDraws(f.count);
            RandomSource plainSource = plainDraws.source(), pathSource = pathDraws.source();
            forceSimdPath(SimdPath::Plain);
            fillSpheres(diameters.data(), L, f.s, plainSource, SphereTable{want.data(), f.count});
            forceSimdPath(p.path);
            fillSpheres(diameters.data(), L, f.s, pathSource, SphereTable{got.data(), f.count});
            EXPECT_EQ(bitsOf(got), bitsOf(want)) << f.count;
            EXPECT_EQ(pathDraws.taken, plainDraws.taken) << f.count;
        }
    }
    forceSimdPath(saved);
}

}  // namespace
