// The map of dead blocks at the edge of its proof, against a simple
// reference: a block is dead only if every corner of it (the farthest
// lattice points) is, in the fill's own arithmetic, no farther from the
// sphere than the limit; and the fill's test must then reject lattice points
// drawn from it. Also the plug-in generator's jumps and bulk draws.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "dead_blocks.h"
#include "pcg15.h"
#include "simd_path.h"
#include "test_support.h"

namespace {

// 8 blocks a side, of 4096 draws each: the map of 2 spheres. With L = 32767
// each draw's coordinate is the draw itself, so distances are exact here.
constexpr std::int32_t kSpheres = 2;
constexpr int kBlockDraws = 4096;
constexpr double kEdge = 32767.0;

double testDistance(double x, double y, double z, double xj, double yj, double zj) {
    const double dx = x - xj, dy = y - yj, dz = z - zj;
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

// Whether every corner of block (bx, by, bz) is, in the fill's arithmetic,
// no farther than the limit (an ordered comparison: a NaN limit proves
// nothing, though the fill's test would reject).
bool allCornersRejected(int bx, int by, int bz, double x, double y, double z, double limit,
                        int kBlockDraws = ::kBlockDraws) {
    for (int corner = 0; corner < 8; ++corner) {
        const int a = bx * kBlockDraws + (corner & 1 ? kBlockDraws - 1 : 0);
        const int b = by * kBlockDraws + (corner & 2 ? kBlockDraws - 1 : 0);
        const int c = bz * kBlockDraws + (corner & 4 ? kBlockDraws - 1 : 0);
        const double d = testDistance(latticeCoordinate(kEdge, a), latticeCoordinate(kEdge, b),
                                      latticeCoordinate(kEdge, c), x, y, z);
        if (!(d <= limit)) return false;
    }
    return true;
}

struct MarkCase {
    std::string name;
    double x, y, z, limit;
    bool blockZeroDead;  // block (0, 0, 0)
};

TEST(DeadBlocks, MarksExactlyTheBlocksWhoseFarthestPointsAreWithinTheLimit) {
    // A centre at (4095 - A, 4095 - B, 4095 - C) with A, B, C >= 2048 puts
    // the farthest corner of block 0 at differences (A, B, C): with
    // (2048, 3072, 6144) at distance 7168 exactly.
    const double x = 4095 - 2048, y = 4095 - 3072, z = 4095 - 6144;
    const std::vector<MarkCase> cases = {
        {"farthest corner exactly at the limit: a tie rejects", x, y, z, 7168, true},
        {"one lattice step beyond the limit", x - 1, y, z, 7168, false},
        {"the limit one ulp short of the corner", x, y, z, std::nextafter(7168.0, 0.0), false},
        {"a negative clearance lowers the limit: (0.5 + 7168) + -0.5", x, y, z, (0.5 + 7168.0) + -0.5, true},
        {"zero diameters: (0 + 0) + s", x, y, z, (0.0 + 0.0) + 7168.0, true},
        {"mixed sizes: (2000 + 5168) + 0", x, y, z, (2000.0 + 5168.0) + 0.0, true},
        // A centre on the lattice, decided in whole draws but for near ties:
        // block (0, 0, 1)'s farthest corner is at differences (2048, 3072, 6144).
        {"a lattice centre, a corner exactly at the limit", 2047, 1023, 2047, 7168, true},
        {"a lattice centre, the limit one ulp short of that corner", 2047, 1023, 2047, std::nextafter(7168.0, 0.0), true},
        {"a lattice centre one step farther", 2046, 1023, 2047, 7168, true},
        {"a lattice centre, a large limit", 16000, 9000, 30000, 12000.5, false},
        {"a centre inside the cube, a large limit", 16000.5, 9000.25, 30000, 12000, false},
        {"a limit below a block's half diagonal marks nothing", 16383.5, 16383.5, 16383.5, 3000, false},
        {"a negative limit marks nothing", 100, 100, 100, -5, false},
        {"a NaN limit marks nothing", 100, 100, 100, std::numeric_limits<double>::quiet_NaN(), false},
    };
    SeededDraws seeded(9);
    for (const MarkCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<unsigned char> memory(DeadBlocks::workspaceBytes(kSpheres));
        DeadBlocks map;
        ASSERT_TRUE(map.layout(GridWorkspace{memory.data(), memory.size()}, kSpheres, kEdge));
        ASSERT_EQ(map.totalBlocks(), 512u) << "blocks of 4096 draws a side";
        map.markAround(c.x, c.y, c.z, c.limit);
        EXPECT_EQ(map.dead(map.blockOf(0, 0, 0)), c.blockZeroDead);
        std::uint64_t dead = 0;
        for (int bz = 0; bz < 8; ++bz)
            for (int by = 0; by < 8; ++by)
                for (int bx = 0; bx < 8; ++bx) {
                    const bool want = allCornersRejected(bx, by, bz, c.x, c.y, c.z, c.limit);
                    const std::uint64_t block = map.blockOf(bx * kBlockDraws, by * kBlockDraws, bz * kBlockDraws);
                    ASSERT_EQ(map.dead(block), want) << "block " << bx << " " << by << " " << bz;
                    dead += want;
                    if (!want) continue;
                    // Lattice points of a dead block are rejected by the test.
                    for (int k = 0; k < 16; ++k) {
                        const int a = bx * kBlockDraws + SeededDraws::drawNext(&seeded) % kBlockDraws;
                        const int b = by * kBlockDraws + SeededDraws::drawNext(&seeded) % kBlockDraws;
                        const int cz = bz * kBlockDraws + SeededDraws::drawNext(&seeded) % kBlockDraws;
                        EXPECT_FALSE(testDistance(latticeCoordinate(kEdge, a), latticeCoordinate(kEdge, b),
                                                  latticeCoordinate(kEdge, cz), c.x, c.y, c.z) > c.limit);
                    }
                }
        EXPECT_EQ(map.deadBlocks(), dead);
        EXPECT_EQ(map.full(), dead == 512);
    }
}

// A map of several tiles a side (32 blocks of 1024 draws), marked around
// spheres across tile edges, at the cube's corner and overlapping: each
// block is dead exactly when one of the spheres kills it by itself.
TEST(DeadBlocks, MarksAcrossTilesTheBlocksOfEachSphere) {
    struct Sphere {
        double x, y, z, limit;
    };
    std::vector<Sphere> spheres = {{8191.5, 8191.5, 8191.5, 3500},  // centred on a corner of tiles
                                   {0, 0, 0, 5000},
                                   {20000.25, 9000, 16384, 4200},
                                   {22000, 9500, 15000.75, 2600},
                                   {32767, 100, 30000, 8000}};
    // Centres on the lattice, marked in whole draws: some at the cube's faces.
    SeededDraws seeded(5);
    for (int k = 0; k < 12; ++k) {
        double c[3];
        for (double& v : c) v = k % 3 == 0 ? 32767.0 * (SeededDraws::drawNext(&seeded) % 2) : SeededDraws::drawNext(&seeded);
        spheres.push_back({c[0], c[1], c[2], 1000.0 + SeededDraws::drawNext(&seeded) % 5000});
    }
    std::vector<unsigned char> memory(DeadBlocks::workspaceBytes(200));
    DeadBlocks map;
    ASSERT_TRUE(map.layout(GridWorkspace{memory.data(), memory.size()}, 200, kEdge));
    ASSERT_EQ(map.totalBlocks(), 32768u) << "blocks of 1024 draws a side";
    for (const Sphere& s : spheres) map.markAround(s.x, s.y, s.z, s.limit);
    std::uint64_t dead = 0;
    for (int bz = 0; bz < 32; ++bz)
        for (int by = 0; by < 32; ++by)
            for (int bx = 0; bx < 32; ++bx) {
                bool want = false;
                for (const Sphere& s : spheres) want = want || allCornersRejected(bx, by, bz, s.x, s.y, s.z, s.limit, 1024);
                ASSERT_EQ(map.dead(map.blockOf(bx * 1024 + 1023, by * 1024, bz * 1024 + 512)), want)
                    << "block " << bx << " " << by << " " << bz;
                dead += want;
            }
    EXPECT_EQ(map.deadBlocks(), dead);
    EXPECT_GT(dead, 500u);
}

// The blocks and bits of a batch of candidates, on every instruction set,
// are those of one candidate at a time: a map of 32 blocks a side, marked
// around a few spheres, and a batch long enough for whole vectors and a tail.
TEST(DeadBlocks, BatchesGiveTheBlocksAndBitsOfOneAtATime) {
    const SimdPath widest = activeSimdPath();
    SeededDraws seeded(4);
    std::vector<std::int32_t> draws(3 * 100);
    for (std::int32_t& d : draws) d = SeededDraws::drawNext(&seeded);
    draws[0] = draws[1] = draws[2] = 0, draws[3] = draws[4] = draws[5] = 32767;  // the lattice's corners
    for (SimdPath path : {SimdPath::Plain, SimdPath::Avx2, SimdPath::Avx512}) {
        if (!forceSimdPath(path)) continue;
        SCOPED_TRACE(simdPathName(path));
        std::vector<unsigned char> memory(DeadBlocks::workspaceBytes(200));
        DeadBlocks map;
        ASSERT_TRUE(map.layout(GridWorkspace{memory.data(), memory.size()}, 200, kEdge));
        for (double c : {3000.0, 16000.0, 29000.0}) map.markAround(c, 32767 - c, c, 9000);
        std::vector<std::uint64_t> blocks(100);
        map.blocksOf(draws.data(), 100, blocks.data());
        for (int k = 0; k < 100; ++k)
            ASSERT_EQ(blocks[k], map.blockOf(draws[3 * k], draws[3 * k + 1], draws[3 * k + 2])) << k;
        int dead = 0;
        for (int from : {0, 64}) {
            const int n = std::min(64, 100 - from);
            const std::uint64_t mask = map.deadMask(blocks.data() + from, n);
            for (int k = 0; k < n; ++k) {
                ASSERT_EQ((mask >> k) & 1, map.dead(blocks[from + k]) ? 1u : 0u) << from + k;
                dead += (mask >> k) & 1;
            }
        }
        EXPECT_GT(dead, 10);
        EXPECT_LT(dead, 90);
        if (!map.scansDraws()) continue;
        // The scan of the generator's draws, called again and again as the
        // fill calls it, taking the live attempt it stops at: the attempts,
        // one at a time, up to the first live one or `most`, the draws of the
        // last and the generator after them; first with runs of a few, then
        // with every block dead, where runs end at `most` (the last then in
        // the sixteen before).
        for (bool full : {false, true}) {
            if (full) map.markAround(16000, 16000, 16000, 1e6);
            for (std::int64_t most : {1, 15, 16, 17, 48, 4096, 4097}) {
                SCOPED_TRACE(std::to_string(most) + (full ? ", full" : ""));
                Pcg15 scanned, reference;
                for (int k = 0; k < 7 * most; ++k) Pcg15::drawNext(&scanned), Pcg15::drawNext(&reference);
                DeadBlocks::DrawScan scan;
                for (int call = 0; call < 24; ++call) {
                    SCOPED_TRACE(call);
                    std::int32_t last[3] = {-1, -1, -1}, want[3] = {-1, -1, -1};
                    const std::int64_t n = map.skipDeadDraws(scanned.state, scan, most, last);
                    std::int64_t m = 0;
                    std::int32_t d[3];
                    for (Pcg15 ahead = reference; m < most; ++m) {
                        for (std::int32_t& v : d) v = Pcg15::drawNext(&ahead);
                        if (!map.dead(map.blockOf(d[0], d[1], d[2]))) break;
                        std::copy(d, d + 3, want), reference = ahead;
                    }
                    ASSERT_EQ(n, m);
                    if (n > 0) {
                        EXPECT_TRUE(std::equal(last, last + 3, want));
                    }
                    if (full) {
                        EXPECT_EQ(n, most);
                    }
                    if (n == most) continue;
                    // The live attempt: from those held, else from the generator.
                    std::int32_t taken[3];
                    if (scan.held && scan.used < 16) {
                        scan.take(taken);
                    } else {
                        if (scan.held) scanned.state = scan.stateBefore(scan.used), scan.held = false;
                        for (std::int32_t& v : taken) v = Pcg15::drawNext(&scanned);
                    }
                    for (std::int32_t& v : d) v = Pcg15::drawNext(&reference);
                    EXPECT_TRUE(std::equal(taken, taken + 3, d));
                }
                if (scan.held) scanned.state = scan.stateBefore(scan.used);
                EXPECT_EQ(scanned.state, reference.state);
            }
        }
    }
    forceSimdPath(widest);
}

// The draws behind a jump and a bulk draw (on every instruction set) are
// those of one draw at a time, from the plug-in's start and from anywhere else.
TEST(Pcg15, JumpsAndBulkDrawsGiveTheDrawsOfOneAtATime) {
    const SimdPath widest = activeSimdPath();
    for (std::uint64_t start : {0ull, 1ull, 12345ull}) {
        for (std::uint64_t n : {0ull, 1ull, 3ull, 4ull, 7ull, 31ull, 32ull, 48ull, 96ull, 1001ull, (1ull << 20) + 7}) {
            SCOPED_TRACE("start " + std::to_string(start) + ", n " + std::to_string(n));
            Pcg15 one, jumped, bulk;
            for (Pcg15* g : {&one, &jumped, &bulk})
                for (std::uint64_t k = 0; k < start; ++k) Pcg15::drawNext(g);
            for (std::uint64_t k = 0; k < n; ++k) Pcg15::drawNext(&one);
            const std::uint64_t from = jumped.state;
            Pcg15::skipDraws(&jumped, n);
            EXPECT_EQ(jumped.state, one.state);
            EXPECT_EQ(Pcg15::drawsBetween(from, one.state), n);
            if (n > 4096) continue;
            Pcg15 again;
            for (std::uint64_t k = 0; k < start; ++k) Pcg15::drawNext(&again);
            std::vector<std::int32_t> expected(n);
            for (std::int32_t& d : expected) d = Pcg15::drawNext(&again);
            for (SimdPath path : {SimdPath::Plain, SimdPath::Avx2, SimdPath::Avx512}) {
                if (!forceSimdPath(path)) continue;
                Pcg15 copy = bulk;
                std::vector<std::int32_t> many(n);
                Pcg15::drawMany(&copy, many.data(), static_cast<int>(n));
                EXPECT_EQ(many, expected) << simdPathName(path);
                EXPECT_EQ(copy.state, again.state) << simdPathName(path);
            }
            forceSimdPath(widest);
        }
    }
}

}  // namespace
