#pragma once

// Blocks of the lattice of candidate centres that are proven to reject every
// candidate in them. A candidate's three draws (a, b, c), each 0..32767, put
// its centre at (latticeCoordinate(L, a), ...), whatever the sphere: a point
// of a fixed lattice of 32768^3. The lattice is cut into blocks of 2^shift
// draws a side, and a bitmap holds one bit a block: set once it is proven
// that every lattice point of the block lies, as the fill's own test
// computes it, no farther from some placed sphere than the limit of any
// sphere still to come. A candidate in a dead block is then rejected by
// reading one bit.
//
// The map knows the lattice and the test's arithmetic, nothing of the fill's
// order or its spheres. Its memory comes from a workspace the caller hands
// over: at most kBytesPerSphere bytes a sphere.

#include <cstddef>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "cell_grid.h"
#include "pcg15.h"
#include "simd_path.h"

// The centre coordinate of one draw: the integer converted exactly, divided
// by 32767.0 (whatever the range of any platform rand), then scaled by L.
inline double latticeCoordinate(double L, std::int32_t draw) {
    return L * (static_cast<double>(draw) / 32767.0);
}

class DeadBlocks {
public:
    static constexpr int kDrawBits = 15;  // draws 0..32767
    static constexpr std::size_t kBytesPerSphere = 32;

    // The map's bytes for a fill of `count` spheres: the finest blocks whose
    // bitmap stays within kBytesPerSphere a sphere.
    static std::size_t workspaceBytes(std::int32_t count);

    // Lays the map out in `workspace` (at least workspaceBytes(count)) for
    // a cube edge L (finite), with no block dead. False when too small.
    bool layout(GridWorkspace workspace, std::int32_t count, double L);

    // The block of a candidate's draws (the number of its bit), and whether
    // it is dead.
    std::uint64_t blockOf(std::int32_t a, std::int32_t b, std::int32_t c) const {
        return spreadX_[a >> shift_] | spreadY_[b >> shift_] | spreadZ_[c >> shift_];
    }
    bool dead(std::uint64_t block) const { return (bits_[block >> 6] >> (block & 63)) & 1; }
    // The blocks of n candidates from their draws (three each, in order),
    // and asks for their words of the map.
    void blocksOf(const std::int32_t* draws, int n, std::uint64_t* blocks) const {
        int k = 0;
#ifdef SPHEREFILL_X86_SIMD
        if (wide_) k = blocksOfAvx512(draws, n, blocks);
#endif
        for (; k < n; ++k) blocks[k] = blockOf(draws[3 * k], draws[3 * k + 1], draws[3 * k + 2]);
        if (prefetching_)
            for (k = 0; k < n; ++k) prefetch(blocks[k]);
    }
    // Bit k: whether blocks[k] is dead, for n <= 64 blocks.
    std::uint64_t deadMask(const std::uint64_t* blocks, int n) const {
        std::uint64_t mask = 0;
        int k = 0;
#ifdef SPHEREFILL_X86_SIMD
        if (wide_) k = deadMaskAvx512(blocks, n, mask);
#endif
        for (; k < n; ++k) mask |= std::uint64_t(dead(blocks[k])) << k;
        return mask;
    }
    void prefetch(std::uint64_t block) const {
#if defined(__GNUC__)
        __builtin_prefetch(bits_ + (block >> 6));
#else
        (void)block;
#endif
    }

    // Marks dead every block whose every lattice point (x', y', z') has
    // !(sqrt((dx*dx + dy*dy) + dz*dz) > limit), with dx = x' - x and so on,
    // each operation rounded as the fill's test rounds it: a placed sphere at
    // (x, y, z), and limit = (r + r_j) + s for the smallest radius r still
    // to come, so that the proof holds for every sphere still to come.
    void markAround(double x, double y, double z, double limit);

    // The attempts a scan of the generator's draws holds: sixteen of them,
    // drawn from lanes of states, with their draws and whether their blocks
    // read live when their words were gathered. A bit read live may be stale
    // (its block died since): that attempt only goes on to the grid. While
    // attempts are held, the generator's state stays where the scan found
    // it; the state it must be left in is stateBefore(used).
    struct DrawScan {
        // Vector 2 axis + half, lane k: the state from which the draw of that
        // axis of attempt 8 half + k comes, 3 (8 half + k) + axis steps on
        // from the state before the sixteen.
        alignas(64) std::uint64_t lanes[6][8];
        alignas(64) std::int32_t draws[3][16];
        std::uint32_t live = 0;
        int used = 0;        // attempts of the sixteen taken
        bool held = false;   // whether sixteen are held
        bool asked = false;  // whether the words of the sixteens after them were asked for

        // The state before attempt k of the sixteen, k <= 16.
        std::uint64_t stateBefore(int k) const {
            constexpr Pcg15::Jump sixteen = Pcg15::jumpOf(48);
            return k < 16 ? lanes[k >> 3][k & 7] : sixteen.apply(lanes[0][0]);
        }
        // Takes the next attempt held (used < 16): its draws.
        void take(std::int32_t out[3]) {
            out[0] = draws[0][used], out[1] = draws[1][used], out[2] = draws[2][used];
            ++used;
        }
    };

    // Where the source is the plug-in's own generator: rejects the attempts
    // (three draws each) that the map rejects, one after another, at most
    // `most` of them, from those the scan holds or, when none are held, from
    // the generator's `state`, testing sixteen at a time; returns how many,
    // with the draws of the last in lastDraws. The scan then holds the
    // attempt that follows them, unless it is the first of a next sixteen.
    // Only where scansDraws(), on AVX-512. It pays once nearly every block is
    // dead (scanPays). Where the map is not kept in cache, the words of the
    // next sixteens are asked for when a live attempt ends a scan.
    bool scansDraws() const {
#ifdef SPHEREFILL_X86_SIMD
        return wide_;
#else
        return false;
#endif
    }
    bool scanPays() const { return deadBlocks_ >= scanFrom_; }
    std::int64_t skipDeadDraws(std::uint64_t state, DrawScan& scan, std::int64_t most, std::int32_t lastDraws[3]) const {
#ifdef SPHEREFILL_X86_SIMD
        if (scansDraws()) return skipDeadDrawsAvx512(state, scan, most, lastDraws);
#endif
        (void)state, (void)scan, (void)most, (void)lastDraws;
        return 0;
    }

    // Whether every block is dead: then no lattice point can take a sphere.
    bool full() const { return deadBlocks_ == totalBlocks_; }
    std::uint64_t deadBlocks() const { return deadBlocks_; }
    std::uint64_t totalBlocks() const { return totalBlocks_; }

private:
#ifdef SPHEREFILL_X86_SIMD
    // The same on AVX-512, sixteen and eight at a time: how many were done.
    int blocksOfAvx512(const std::int32_t* draws, int n, std::uint64_t* blocks) const;
    int deadMaskAvx512(const std::uint64_t* blocks, int n, std::uint64_t& mask) const;
    std::int64_t skipDeadDrawsAvx512(std::uint64_t state, DrawScan& scan, std::int64_t most,
                                     std::int32_t* lastDraws) const;
    // Whether they are used: on AVX-512, with tiles of 8^3 blocks and bit
    // numbers of at most 32 bits.
    bool wide_ = false;
#endif
    // The largest |difference| the test computes between centre v and the
    // lattice coordinates of block n along an axis.
    double farthest(std::int64_t n, double v) const {
        return std::max(std::fabs(ends_[2 * n] - v), std::fabs(ends_[2 * n + 1] - v));
    }
    // Whether the test's distance from a placed sphere of a point whose
    // differences are dx, dy, dz is at most `limit` (finite, above 0): the
    // squares decide it without a root, but for limits outside [2^-500,
    // 2^500], whose squares decide nothing, and near ties (see the proof).
    struct Within {
        double limit, limit2, below, above;
        explicit Within(double limit)
            : limit(limit), limit2(limit * limit),
              below(limit >= 0x1p-500 && limit <= 0x1p500 ? limit2 * (1 - 0x1p-48) : 0.0),
              above(limit >= 0x1p-500 && limit <= 0x1p500 ? limit2 * (1 + 0x1p-48)
                                                          : std::numeric_limits<double>::infinity()) {}
        bool operator()(double dx, double dy, double dz) const {
            const double d2 = (dx * dx + dy * dy) + dz * dz;
            if (d2 < below) return true;
            if (d2 > above) return false;
            return std::sqrt(d2) <= limit;
        }
    };
    // The block along an axis that holds coordinate v, clamped to the cube:
    // only an estimate, since every block it leads to is tested.
    std::int64_t blockAt(double v) const {
        const double scaled = v * drawsPerUnit_;  // NaN for 0 times an infinite scale
        const double draw = scaled > 0 ? std::min(scaled, 32767.0) : 0.0;
        return static_cast<std::int64_t>(draw) >> shift_;
    }
    // Marks the blocks first..last along x of the line (by, bz): how many
    // were not dead before.
    std::uint64_t setRun(std::int64_t by, std::int64_t bz, std::int64_t first, std::int64_t last);
    // markAround from the block ends' coordinates, for any centre; and in
    // whole draws, for a centre on the lattice (its draws d), where the
    // squares of draw differences decide all but near ties.
    void markAroundByCoordinates(double x, double y, double z, double limit);
    void markAroundLatticePoint(const std::int32_t d[3], double x, double y, double z, double limit);
    // The draw whose lattice coordinate is v, if there is one.
    bool drawOf(double v, std::int32_t& draw) const;
    void prefetchTiles(const std::int64_t lo[3], const std::int64_t hi[3]) const;

    double L_ = 0, drawsPerUnit_ = 0;
    int shift_ = 0, blockBits_ = 0, tileBits_ = 0;
    std::int64_t blocksPerAxis_ = 0;
    std::uint64_t* bits_ = nullptr;
    double* ends_ = nullptr;  // by block along an axis: the coordinates of its first and last draw
    // By block along each axis: its share of the number of a block's bit.
    // The bits go tile by tile, a tile being 2^tileBits blocks a side (8^3
    // bits, one cache line, in all but the smallest maps), so that the
    // blocks around a sphere lie in a few cache lines.
    const std::uint64_t *spreadX_ = nullptr, *spreadY_ = nullptr, *spreadZ_ = nullptr;
    std::uint64_t totalBlocks_ = 0, deadBlocks_ = 0;
    std::uint64_t scanFrom_ = 0;  // the dead blocks from which the scan pays
    // Whether words are asked for ahead: not where the map stays in cache.
    bool prefetching_ = true;
};
