#pragma once

// The candidate test over vectors of Ops::width earlier spheres at a time.
// Included by one file per instruction set, which defines SIMD_TARGET to that
// set's target attribute first.
//
// Most distances are far from their limit, and for those the squared
// distance decides without a square root: with limit in [2^-500, 2^500] (so
// that limit*limit is normal and finite) and d2 the rounded sum of squares,
//   d2 > limit^2 * (1 + 2^-48)  (each side rounded)  implies  sqrt(d2) > limit(1 + 2^-51),
// which rounds above limit, so the candidate clears that sphere; and
//   d2 < limit^2 * (1 - 2^-48)  implies  sqrt(d2) < limit(1 - 2^-50),
// which rounds below limit, so it does not. The rounding errors of limit^2 and
// of the product are at most 2^-53 each, far inside the 2^-48 margin. A block
// that holds any other lane (near ties, NaN, limits out of that range) takes
// the square roots and compares exactly as the plain loop does, so the answer
// is always the plain loop's.

#include <cmath>
#include <cstdint>

#include "cell_grid.h"
#include "fill_spheres_paths.h"
#include "simd_ops.h"

namespace {

// The lanes of one block of rows j..j+n-1 (n <= width) whose sphere the
// candidate does not clear.
template <class Ops>
struct CandidateTest {
    using V = typename Ops::V;

    V cx, cy, cz, cr, clearance;

    SIMD_TARGET unsigned conflicts(const double* xs, const double* ys, const double* zs, const double* rs,
                                   std::int32_t j, int n) const {
        const V above = Ops::set1(1 + 0x1p-48);
        const V below = Ops::set1(1 - 0x1p-48);
        const V smallest = Ops::set1(0x1p-500);
        const V largest = Ops::set1(0x1p500);
        const Rows<Ops> row = loadRows<Ops>(xs, ys, zs, rs, j, n);
        const V dx = Ops::sub(cx, row.x);
        const V dy = Ops::sub(cy, row.y);
        const V dz = Ops::sub(cz, row.z);
        const V d2 = Ops::add(Ops::add(Ops::mul(dx, dx), Ops::mul(dy, dy)), Ops::mul(dz, dz));
        const V limit = Ops::add(Ops::add(cr, row.r), clearance);
        const V limit2 = Ops::mul(limit, limit);

        const unsigned inRange = Ops::greater(limit, smallest) & Ops::less(limit, largest);
        unsigned clears = Ops::greater(d2, Ops::mul(limit2, above)) & inRange;
        const unsigned fails = Ops::less(d2, Ops::mul(limit2, below)) & inRange;
        if (((clears | fails) & row.lanes) != row.lanes) {
            clears = Ops::greater(Ops::sqrt(d2), limit);
        }
        return ~clears & row.lanes;
    }
};

template <class Ops>
SIMD_TARGET std::int32_t firstConflictSimd(const double* xs, const double* ys, const double* zs,
                                           const double* rs, std::int32_t count, double x, double y,
                                           double z, double r, double s) {
    constexpr int width = Ops::width;
    const CandidateTest<Ops> test{Ops::set1(x), Ops::set1(y), Ops::set1(z), Ops::set1(r), Ops::set1(s)};

    std::int32_t j = 0;
    // Two blocks at a time: one branch for both, and more work in flight.
    for (; count - j >= 2 * width; j += 2 * width) {
        const unsigned first = test.conflicts(xs, ys, zs, rs, j, width);
        const unsigned second = test.conflicts(xs, ys, zs, rs, j + width, width);
        const unsigned failing = first | (second << width);
        if (failing) return j + __builtin_ctz(failing);
    }
    for (; j < count; j += width) {
        const int n = count - j < width ? static_cast<int>(count - j) : width;
        const unsigned failing = test.conflicts(xs, ys, zs, rs, j, n);
        if (failing) return j + __builtin_ctz(failing);
    }
    return -1;
}

// The grid's compact cells hold kSlots spheres, one vector of Ops::width per
// column once converted to doubles; see GridCandidate for the margin.
template <class Ops>
struct CompactSlots {
    using V = typename Ops::V;
    static_assert(CellGrid::kSlots == Ops::width, "one cell is one vector per column");
    static constexpr int slots = CellGrid::kSlots;
    V cx, cy, cz, cr, cs, margin;

    // The slots' x, their squared distances from the candidate, and the
    // limits (r + r_j) + s minus and plus the margin.
    struct Cell {
        V xj, d2, lo, hi;
    };
    SIMD_TARGET Cell read(const float* d) const {
        const V xj = Ops::loadFloats(d);
        const V dx = Ops::sub(cx, xj);
        const V dy = Ops::sub(cy, Ops::loadFloats(d + slots));
        const V dz = Ops::sub(cz, Ops::loadFloats(d + 2 * slots));
        const V d2 = Ops::add(Ops::add(Ops::mul(dx, dx), Ops::mul(dy, dy)), Ops::mul(dz, dz));
        const V limit = Ops::add(Ops::add(cr, Ops::loadFloats(d + 3 * slots)), cs);
        return {xj, d2, Ops::sub(limit, margin), Ops::add(limit, margin)};
    }
    // The slots that are proven to reject the candidate.
    SIMD_TARGET unsigned fails(const Cell& c) const {
        return Ops::greater(c.lo, Ops::set1(0.0)) &
               Ops::less(c.d2, Ops::mul(Ops::mul(c.lo, c.lo), Ops::set1(1 - 0x1p-40)));
    }
};

template <class Ops>
SIMD_TARGET bool ownCellsRejectSimd(const GridCandidate& q, double x, double y, double z, double r, double s) {
    const CompactSlots<Ops> slots{Ops::set1(x), Ops::set1(y), Ops::set1(z), Ops::set1(r), Ops::set1(s),
                                  Ops::set1(q.margin)};
    unsigned fails = 0;
    for (int k = 0; k < q.classCount; ++k) fails |= slots.fails(slots.read(q.grid->compactData(q.own[k])));
    return fails != 0;
}

template <class Ops>
SIMD_TARGET bool gridConflictSimd(const GridCandidate& q, double x, double y, double z, double r, double s) {
    using V = typename Ops::V;
    constexpr int slots = CellGrid::kSlots;
    const CompactSlots<Ops> compact{Ops::set1(x), Ops::set1(y), Ops::set1(z), Ops::set1(r), Ops::set1(s),
                                    Ops::set1(q.margin)};
    const V zero = Ops::set1(0.0), infinity = Ops::set1(INFINITY), above = Ops::set1(1 + 0x1p-40);
    const CellGrid& grid = *q.grid;
    const auto cellConflicts = [&](std::int64_t cell) SIMD_TARGET {
        const typename CompactSlots<Ops>::Cell c = compact.read(grid.compactData(cell));
        if (compact.fails(c)) return true;
        const V &xj = c.xj, &d2 = c.d2, &hi = c.hi;
        const unsigned passes = Ops::less(hi, zero) | Ops::greater(d2, Ops::mul(Ops::mul(hi, hi), above));
        // Near ties in taken slots: the exact test on the table's row.
        unsigned unsure = ~passes & Ops::less(xj, infinity) & firstLanes(slots);
        for (const std::int32_t* rows = grid.cellRows(cell); unsure; unsure &= unsure - 1)
            if (rowConflict(q, rows[__builtin_ctz(unsure)], x, y, z, r, s)) return true;
        for (std::int32_t e = grid.overflowHead(cell); e >= 0; e = grid.nextEntry(e))
            if (rowConflict(q, grid.entryRow(e), x, y, z, r, s)) return true;
        return false;
    };
    // Where the own cells were not asked for early, the whole boxes are
    // asked for before any of them is read.
    if (!q.ownFetched)
        for (int k = 0; k < q.classCount; ++k) grid.prefetch(grid.box(q.classes[k], x, y, z, q.reach[k]));
    for (int k = 0; k < q.classCount; ++k)
        if (cellConflicts(q.own[k])) return true;
    for (int k = 0; k < q.classCount; ++k) {
        const CellGrid::Box b = grid.box(q.classes[k], x, y, z, q.reach[k]);
        if (q.ownFetched) grid.prefetch(b);
        CellGrid::BoxWalk walk(b, q.own[k]);
        for (std::int64_t cell; walk.next(cell);)
            if (cellConflicts(cell)) return true;
    }
    return false;
}

}  // namespace
