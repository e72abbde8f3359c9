#include "dead_blocks.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

// Why a marked block rejects every candidate in it.
//
// The fill rejects a candidate at (x', y', z') against a placed sphere at
// (x, y, z) when !(sqrt((dx*dx + dy*dy) + dz*dz) > limit'), with dx = x' - x
// and so on and limit' = (r' + r_j) + s, each operation rounded to double.
// A block is a box of lattice points [a0, a1] x [b0, b1] x [c0, c1], and:
//   - x' = fl(L * fl(a / 32767.0)) is monotone in a (rounding is monotone,
//     and so is scaling by L, increasing for L > 0, decreasing for L < 0);
//   - fl(x' - x) is monotone in x', so over the block |fl(x' - x)| is largest
//     at a0 or a1: farthest() takes the larger of the two, computed as the
//     test computes it (fl(x - x') is -fl(x' - x) exactly);
//   - fl(d * d) grows with |d|, a rounded sum of non-negative terms grows with
//     each term, and the correctly rounded square root is monotone.
// So the test's distance of every lattice point of the block is at most D,
// the same arithmetic applied to the three largest |differences|. If
// D <= limit (an ordered comparison: false for NaN), every point's distance
// is <= limit, and with limit = (r + r_j) + s for r at most the radius of
// every sphere still to come, limit <= limit' too (rounding is monotone), so
// dist > limit' is false: the sphere at (x, y, z) rejects the candidate. The
// proof uses no margin: it is the test's own arithmetic at the block's corner.
//
// D <= limit is mostly decided from the sum of squares d2 without its root,
// for limit in [2^-500, 2^500], where its square is normal: with u = 2^-53,
// d2 < fl(fl(limit^2) (1 - 2^-48)) gives d2 < limit^2 (1 - 2^-48)(1 + u)^2
// < limit^2 (1 - 2^-49), so sqrt(d2) < limit (1 - 2^-50) and its rounding is
// at most limit: D <= limit. Likewise d2 > fl(fl(limit^2) (1 + 2^-48)) gives
// D > limit. Between the two, the root is taken and compared.
//
// Along a line of blocks (fixed b and c blocks), the largest |dx| over block
// n falls and then rises with n (it is the farther end of the block from x),
// so the blocks between two that pass the test pass it too: a line's dead
// blocks are one run, marked between its two ends once both are checked.

namespace {

constexpr std::size_t kAlign = 64;

// Bits of the block number per axis: the finest blocks whose map, one bit a
// block, fits in kBytesPerSphere bytes a sphere; 0 when none does.
int blockBitsFor(std::int32_t count) {
    if (count <= 0) return 0;
    const double budgetBits = 8.0 * DeadBlocks::kBytesPerSphere * double(count);
    // Where memory is addressed in 32 bits, the map stays far below 2^32 bytes.
    const int widest = std::min(DeadBlocks::kDrawBits, std::numeric_limits<std::size_t>::digits / 3 - 1);
    int bits = 0;
    while (bits < widest && std::ldexp(1.0, 3 * (bits + 1)) <= budgetBits) ++bits;
    return bits;
}

// The bits set in each byte value.
struct ByteBits {
    unsigned char of[256];
};
constexpr ByteBits byteBits() {
    ByteBits b{};
    for (int v = 0; v < 256; ++v)
        for (int k = 0; k < 8; ++k) b.of[v] = static_cast<unsigned char>(b.of[v] + (v >> k & 1));
    return b;
}
constexpr ByteBits kByteBits = byteBits();
const unsigned char* const kBitsOfByte = kByteBits.of;

std::size_t mapBytes(int blockBits) {
    const std::size_t words = ((std::size_t(1) << (3 * blockBits)) + 63) / 64;
    return words * sizeof(std::uint64_t);
}

// The coordinates of each block's first and last draw, along an axis.
std::size_t endsBytes(int blockBits) { return (std::size_t(2) << blockBits) * sizeof(double); }

// Each axis's share of the bit numbers, by block.
std::size_t spreadBytes(int blockBits) { return (std::size_t(3) << blockBits) * sizeof(std::uint64_t); }

// Maps up to this size stay in a core's cache beside the grid: their words
// are not asked for ahead.
constexpr std::size_t kCachedMapBytes = std::size_t(256) << 10;

// Tiles of 8 blocks a side: 512 bits, a cache line.
constexpr int kTileBits = 3;

}  // namespace

std::size_t DeadBlocks::workspaceBytes(std::int32_t count) {
    const int bits = blockBitsFor(count);
    return bits == 0 ? 0 : kAlign + endsBytes(bits) + spreadBytes(bits) + mapBytes(bits);
}

bool DeadBlocks::layout(GridWorkspace workspace, std::int32_t count, double L) {
    const int bits = blockBitsFor(count);
    if (bits == 0 || !(std::fabs(L) > 0) || !std::isfinite(L) || !workspace.data) return false;
    char* at = static_cast<char*>(workspace.data);
    at += (kAlign - reinterpret_cast<std::uintptr_t>(at) % kAlign) % kAlign;
    if (at + endsBytes(bits) + spreadBytes(bits) + mapBytes(bits) >
        static_cast<char*>(workspace.data) + workspace.bytes)
        return false;
    L_ = L;
    drawsPerUnit_ = 32767.0 / L;
    blockBits_ = bits;
    shift_ = kDrawBits - bits;
    blocksPerAxis_ = std::int64_t(1) << bits;
    ends_ = reinterpret_cast<double*>(at);
    for (std::int64_t n = 0; n < blocksPerAxis_; ++n) {
        ends_[2 * n] = latticeCoordinate(L, static_cast<std::int32_t>(n << shift_));
        ends_[2 * n + 1] = latticeCoordinate(L, static_cast<std::int32_t>(((n + 1) << shift_) - 1));
    }
    // Block n along an axis is tile n >> t, place n & (2^t - 1) in it; a bit's
    // number is (tile z, tile y, tile x, place z, place y, place x), most
    // significant first.
    tileBits_ = std::min(kTileBits, bits);
    const int t = tileBits_;
    const std::int64_t place = (std::int64_t(1) << t) - 1;
    std::uint64_t* spread = reinterpret_cast<std::uint64_t*>(at + endsBytes(bits));
    for (std::int64_t n = 0; n < blocksPerAxis_; ++n) {
        const std::uint64_t tile = std::uint64_t(n >> t), in = std::uint64_t(n & place);
        spread[n] = tile << (3 * t) | in;
        spread[blocksPerAxis_ + n] = tile << (3 * t + (bits - t)) | in << t;
        spread[2 * blocksPerAxis_ + n] = tile << (3 * t + 2 * (bits - t)) | in << (2 * t);
    }
    spreadX_ = spread, spreadY_ = spread + blocksPerAxis_, spreadZ_ = spread + 2 * blocksPerAxis_;
#ifdef SPHEREFILL_X86_SIMD
    wide_ = activeSimdPath() == SimdPath::Avx512 && tileBits_ == kTileBits && 3 * bits <= 32;
#endif
    bits_ = reinterpret_cast<std::uint64_t*>(at + endsBytes(bits) + spreadBytes(bits));
    std::memset(bits_, 0, mapBytes(bits));
    adviseHugePages(bits_, mapBytes(bits));
    totalBlocks_ = std::uint64_t(1) << (3 * bits);
    scanFrom_ = totalBlocks_ - totalBlocks_ / 50;
    prefetching_ = mapBytes(bits) > kCachedMapBytes;
    deadBlocks_ = 0;
    return true;
}



std::uint64_t DeadBlocks::setRun(std::int64_t by, std::int64_t bz, std::int64_t first, std::int64_t last) {
    // Within a tile the blocks of a line are at most 8 consecutive bits of
    // one word (2^t, t <= 3).
    const int t = tileBits_;
    const std::uint64_t line = spreadY_[by] | spreadZ_[bz];
    std::uint64_t marked = 0;
    for (std::int64_t from = first; from <= last;) {
        const std::int64_t to = std::min(last, from | ((std::int64_t(1) << t) - 1));
        const std::uint64_t bit = line | spreadX_[from];
        const std::uint64_t mask = ((std::uint64_t(1) << (to - from + 1)) - 1) << (bit & 63);
        std::uint64_t& word = bits_[bit >> 6];
        marked += kBitsOfByte[(mask & ~word) >> (bit & 63)];
        word |= mask;
        from = to + 1;
    }
    return marked;
}

// Asks for the cache lines of the tiles that hold blocks lo..hi.
void DeadBlocks::prefetchTiles(const std::int64_t lo[3], const std::int64_t hi[3]) const {
#if defined(__GNUC__)
    const std::int64_t step = std::int64_t(1) << tileBits_;
    const auto tileStart = [step](std::int64_t n) { return n & ~(step - 1); };
    for (std::int64_t z = tileStart(lo[2]); z <= hi[2]; z += step)
        for (std::int64_t y = tileStart(lo[1]); y <= hi[1]; y += step)
            for (std::int64_t x = tileStart(lo[0]); x <= hi[0]; x += step)
                __builtin_prefetch(bits_ + ((spreadX_[x] | spreadY_[y] | spreadZ_[z]) >> 6), 1);
#else
    (void)lo, (void)hi;
#endif
}

void DeadBlocks::markAround(double x, double y, double z, double limit) {
    if (!bits_ || !(limit > 0) || !std::isfinite(limit)) return;
    std::int32_t d[3];
    if (drawOf(x, d[0]) && drawOf(y, d[1]) && drawOf(z, d[2])) return markAroundLatticePoint(d, x, y, z, limit);
    markAroundByCoordinates(x, y, z, limit);
}

bool DeadBlocks::drawOf(double v, std::int32_t& draw) const {
    const double guess = std::nearbyint(v * drawsPerUnit_);
    if (!(guess >= 0 && guess <= 32767)) return false;
    for (std::int32_t d = static_cast<std::int32_t>(guess) - 1; d <= static_cast<std::int32_t>(guess) + 1; ++d)
        if (d >= 0 && d <= 32767 && latticeCoordinate(L_, d) == v) {
            draw = d;
            return true;
        }
    return false;
}

namespace {

// floor(sqrt(n)) for 0 <= n < 2^62.
std::int64_t floorRoot(std::int64_t n) {
    std::int64_t r = static_cast<std::int64_t>(std::sqrt(static_cast<double>(n)));
    while (r > 0 && r * r > n) --r;
    while ((r + 1) * (r + 1) <= n) ++r;
    return r;
}

}  // namespace

// The same blocks for a centre on the lattice, at draws (a, b, c), decided in
// whole draws. Block n along an axis holds draws n B .. n B + B - 1 (B =
// 2^shift), so its farthest draw from a is D = max(n B + B - 1 - a, a - n B).
// With w = fl(|L| / 32767) and u = 2^-53, a lattice coordinate is within
// 2.01 u |L| of its exact value L a / 32767, so the test's |difference| along
// an axis is within (1 +- u) of D |L| / 32767 +- E, E = 2^-50 |L|, and, each
// of its five operations rounding once and Minkowski's inequality bounding
// the three E's, the test's distance for draw differences D_x, D_y, D_z is
//   at most  (sqrt(S) w (1 + u)^2 + 2E)(1 + 3u)  and
//   at least (sqrt(S) w (1 - u)^2 - 2E)(1 - 3u),  S = D_x^2 + D_y^2 + D_z^2.
// So with Rlo = ((limit (1 - 2^-48) - 2^-47 |L|) / w)(1 - 2^-48), every
// S <= Rlo^2 (1 - 2^-48) has distance at most the limit: the block is dead
// (the margins 2^-48 and 2^-47 |L| cover the rounding above and that of Rlo
// itself, its three operations and its square); and with Rhi likewise from
// (limit (1 + 2^-48) + 2^-47 |L|), every S > Rhi^2 (1 + 2^-48) has distance
// above the limit: the block is not. A block between the two, a near tie, is
// decided by the test's own arithmetic at its farthest corner, as
// markAroundByCoordinates decides every block. Along a line the blocks whose
// S is at most a bound are one run, found from the two ends of the root of
// the room left; the dead ones are one run too, that run and the near ties
// next to it that pass.
void DeadBlocks::markAroundLatticePoint(const std::int32_t d[3], double x, double y, double z, double limit) {
    const double magnitude = std::fabs(L_), w = magnitude / 32767.0;
    // No draw difference exceeds 2^15, nor a root of three such squares 2^17.
    const double most = 0x1p17;
    const double rlo = std::min(((limit * (1 - 0x1p-48) - 0x1p-47 * magnitude) / w) * (1 - 0x1p-48), most);
    const double rhi = std::min(((limit * (1 + 0x1p-48) + 0x1p-47 * magnitude) / w) * (1 + 0x1p-48), most);
    if (!(rhi >= 0)) return;
    const std::int64_t sureBound = rlo > 0 ? static_cast<std::int64_t>(rlo * rlo * (1 - 0x1p-48)) : -1;
    const std::int64_t bound = static_cast<std::int64_t>(std::ceil(rhi * rhi * (1 + 0x1p-48)));
    const int shift = shift_;
    const std::int64_t B = std::int64_t(1) << shift, last = blocksPerAxis_ - 1;
    // Floor and ceiling of v / B for v > -2^20.
    constexpr std::int64_t kOffset = std::int64_t(1) << 20;
    const auto floorBlock = [&](std::int64_t v) { return ((v + kOffset) >> shift) - (kOffset >> shift); };
    const auto farthestDraw = [&](std::int64_t n, std::int64_t a) { return std::max(n * B + B - 1 - a, a - n * B); };
    // The blocks along an axis whose farthest draw from a is at most r.
    const auto run = [&](std::int64_t a, std::int64_t r, std::int64_t& lo, std::int64_t& hi) {
        lo = std::max<std::int64_t>(floorBlock(a - r + B - 1), 0);
        hi = std::min<std::int64_t>(floorBlock(a + r - B + 1), last);
    };
    const Within within(limit);
    std::int64_t boxLo[3], boxHi[3];
    const std::int64_t reach = floorRoot(bound);
    for (int k = 0; k < 3; ++k) run(d[k], reach, boxLo[k], boxHi[k]);
    if (boxLo[0] > boxHi[0] || boxLo[1] > boxHi[1] || boxLo[2] > boxHi[2]) return;
    prefetchTiles(boxLo, boxHi);
    std::uint64_t marked = 0;
    for (std::int64_t bz = boxLo[2]; bz <= boxHi[2]; ++bz) {
        const std::int64_t dz = farthestDraw(bz, d[2]), roomZ = bound - dz * dz;
        if (roomZ < 0) continue;
        std::int64_t y0, y1;
        run(d[1], floorRoot(roomZ), y0, y1);
        for (std::int64_t by = y0; by <= y1; ++by) {
            const std::int64_t dy = farthestDraw(by, d[1]), room = roomZ - dy * dy;
            if (room < 0) continue;
            std::int64_t lo, hi, sureLo = 1, sureHi = 0;
            const std::int64_t root = floorRoot(room);
            run(d[0], root, lo, hi);
            if (lo > hi) continue;
            // The sure room is a hair smaller: its root is found from this one.
            const std::int64_t sureRoom = sureBound - dz * dz - dy * dy;
            if (sureRoom >= 0) {
                std::int64_t sureRoot = root;
                while (sureRoot * sureRoot > sureRoom) --sureRoot;
                run(d[0], sureRoot, sureLo, sureHi);
            }
            if (sureLo > lo || sureHi < hi || sureLo > sureHi) {
                // Near ties at the ends: the test's arithmetic decides them.
                const double fy = farthest(by, y), fz = farthest(bz, z);
                const auto deadAt = [&](std::int64_t n) { return within(farthest(n, x), fy, fz); };
                if (sureLo > sureHi) {
                    while (lo <= hi && !deadAt(lo)) ++lo;
                    if (lo > hi) continue;
                    while (!deadAt(hi)) --hi;
                } else {
                    while (lo < sureLo && !deadAt(lo)) ++lo;
                    while (hi > sureHi && !deadAt(hi)) --hi;
                }
            }
            marked += setRun(by, bz, lo, hi);
        }
    }
    deadBlocks_ += marked;
}

void DeadBlocks::markAroundByCoordinates(double x, double y, double z, double limit) {
    const Within within(limit);
    // The blocks along an axis within `reach` of v, by estimate, one more on
    // each side.
    const auto range = [&](double v, double reach, std::int64_t& lo, std::int64_t& hi) {
        const std::int64_t a = blockAt(v - reach), b = blockAt(v + reach);
        lo = std::max<std::int64_t>(std::min(a, b) - 1, 0);
        hi = std::min<std::int64_t>(std::max(a, b) + 1, blocksPerAxis_ - 1);
    };
    const double blockEdge = std::fabs(L_) / 32767.0 * double(std::int64_t(1) << shift_);
    // The blocks within reach, by estimate: their cache lines are asked for
    // at once.
    std::int64_t boxLo[3], boxHi[3];
    range(x, limit, boxLo[0], boxHi[0]);
    range(y, limit, boxLo[1], boxHi[1]);
    range(z, limit, boxLo[2], boxHi[2]);
    prefetchTiles(boxLo, boxHi);
    std::uint64_t marked = 0;
    const std::int64_t z0 = boxLo[2], z1 = boxHi[2];
    for (std::int64_t bz = z0; bz <= z1; ++bz) {
        const double dz = farthest(bz, z);
        const double roomYZ = within.limit2 - dz * dz;
        if (!(roomYZ > 0)) continue;
        std::int64_t y0, y1;
        range(y, std::sqrt(roomYZ), y0, y1);
        for (std::int64_t by = y0; by <= y1; ++by) {
            const double dy = farthest(by, y);
            const auto deadAt = [&](std::int64_t n) { return within(farthest(n, x), dy, dz); };
            // A first estimate of the run from the room left along x, then
            // each end moved inward to the first block that passes the test.
            // The estimate is at most a block short of the whole run at
            // either end, and a block left out only sends its candidates to
            // the grid: testing further out costs more than it saves.
            const double room = roomYZ - dy * dy;
            if (!(room > 0)) continue;
            const double half = std::sqrt(room) - blockEdge;
            std::int64_t lo = std::min(blockAt(x - half), blockAt(x + half));
            std::int64_t hi = std::max(blockAt(x - half), blockAt(x + half));
            if (!(half > 0)) lo = hi = blockAt(x);
            while (lo <= hi && !deadAt(lo)) ++lo;
            if (lo > hi) continue;
            while (!deadAt(hi)) --hi;
            marked += setRun(by, bz, lo, hi);
        }
    }
    deadBlocks_ += marked;
}
