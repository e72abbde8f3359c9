#pragma once

// The gap-cube sum over vectors of Ops::width pairs at a time. Included by
// one file per instruction set, which defines SIMD_TARGET to that set's
// target attribute first. Gives the same bits as the plain loop: every lane
// does the plain loop's operations in the same order, square root and
// division are correctly rounded in vector form too, and the included terms
// are added one by one, j ascending.

#include <cstdint>

#include "cell_grid.h"
#include "simd_ops.h"
#include "sum_gap_cubes_paths.h"
#include "sphere_table.h"

namespace {

template <class Ops>
SIMD_TARGET double sumGapCubesSimd(ConstSphereTable table, double T, InterruptPoll* poll) {
    using V = typename Ops::V;
    constexpr int width = Ops::width;

    double S = 0.0;
    const std::int32_t count = table.rows;
    if (count <= 1) return S;

    const double* xs = table.column(0);
    const double* ys = table.column(1);
    const double* zs = table.column(2);
    const double* rs = table.column(3);
    const V threshold = Ops::set1(T);
    const V half = Ops::set1(0.5);
    alignas(64) double terms[width];

    for (std::int32_t i = 1; i < count; ++i) {
        if (poll && poll->stop(i)) break;
        const V xi = Ops::set1(xs[i]);
        const V yi = Ops::set1(ys[i]);
        const V zi = Ops::set1(zs[i]);
        const V ri = Ops::set1(rs[i]);
        for (std::int32_t j = 0; j < i; j += width) {
            const int n = i - j < width ? static_cast<int>(i - j) : width;
            const Rows<Ops> row = loadRows<Ops>(xs, ys, zs, rs, j, n);
            const V dx = Ops::sub(xi, row.x);
            const V dy = Ops::sub(yi, row.y);
            const V dz = Ops::sub(zi, row.z);
            const V dist = Ops::sqrt(Ops::add(Ops::add(Ops::mul(dx, dx), Ops::mul(dy, dy)), Ops::mul(dz, dz)));
            const V gap = Ops::sub(Ops::sub(dist, ri), row.r);
            const V rel = Ops::div(gap, Ops::add(row.r, ri));
            unsigned included = Ops::greater(threshold, rel) & row.lanes;
            if (included) {
                const V h = Ops::mul(gap, half);
                Ops::store(terms, Ops::mul(Ops::mul(h, h), h));
                if (included == firstLanes(width)) {
                    // Every lane: a straight run of additions, the sum's only
                    // dependency chain, with no bit scanning in between.
                    for (int k = 0; k < width; ++k) S = terms[k] + S;
                } else {
                    do {
                        S = terms[__builtin_ctz(included)] + S;
                        included &= included - 1;
                    } while (included);
                }
            }
        }
    }
    return S;
}

// The grid's cells hold kSlots spheres, one vector of Ops::width per column.
template <class Ops>
SIMD_TARGET int gridRowTermsSimd(const GridRow& q) {
    using V = typename Ops::V;
    static_assert(CellGrid::kSlots == Ops::width, "one cell is one vector per column");
    constexpr int slots = CellGrid::kSlots;
    const CellGrid& grid = *q.grid;
    const V xi = Ops::set1(q.x), yi = Ops::set1(q.y), zi = Ops::set1(q.z), ri = Ops::set1(q.r);
    const V threshold = Ops::set1(q.T), half = Ops::set1(0.5);
    alignas(64) double terms[slots];
    int found = 0;
    for (int k = 0; k < q.boxCount; ++k) {
        const V far = Ops::set1(q.far[k]);
        CellGrid::BoxWalk walk(q.boxes[k], -1);
        for (std::int64_t cell; walk.next(cell);) {
            const double* d = grid.cellData(cell);
            const V dx = Ops::sub(xi, Ops::load(d));
            const V dy = Ops::sub(yi, Ops::load(d + slots));
            const V dz = Ops::sub(zi, Ops::load(d + 2 * slots));
            const V d2 = Ops::add(Ops::add(Ops::mul(dx, dx), Ops::mul(dy, dy)), Ops::mul(dz, dz));
            if (Ops::less(d2, far)) {
                const V rj = Ops::load(d + 3 * slots);
                const V gap = Ops::sub(Ops::sub(Ops::sqrt(d2), ri), rj);
                unsigned included = Ops::greater(threshold, Ops::div(gap, Ops::add(rj, ri)));
                if (included) {
                    const V h = Ops::mul(gap, half);
                    Ops::store(terms, Ops::mul(Ops::mul(h, h), h));
                    const std::int32_t* rows = grid.cellRows(cell);
                    for (; included; included &= included - 1) {
                        if (found == q.capacity) return -1;
                        const int lane = __builtin_ctz(included);
                        q.terms[found++] = {rows[lane], terms[lane]};
                    }
                }
            }
            for (std::int32_t e = grid.overflowHead(cell); e >= 0; e = grid.nextEntry(e)) {
                const std::int32_t j = grid.entryRow(e);
                double value;
                if (!pairTerm(q.x, q.y, q.z, q.r, q.xs[j], q.ys[j], q.zs[j], q.rs[j], q.T, value)) continue;
                if (found == q.capacity) return -1;
                q.terms[found++] = {j, value};
            }
        }
    }
    return found;
}

// A row's terms into ascending j. Up to kRankedTerms, each goes straight to
// its place: the number of terms with a smaller j, counted a vector of the
// row's js at a time, the last vector padded above every row.
template <class Ops>
SIMD_TARGET void orderTerms(std::int32_t* js, double* found, int count, double* out) {
    if (count > kRankedTerms) return orderTermsByInsertion(js, found, count, out);
    if (count <= 1) {
        if (count == 1) out[0] = found[0];
        return;
    }
    constexpr int width = Ops::width;
    const int vectors = (count + width - 1) / width;
    for (int k = count; k < vectors * width; ++k) js[k] = 2147483647;
    for (int k = 0; k < count; ++k) {
        int rank = 0;
        for (int v = 0; v < vectors; ++v) rank += __builtin_popcount(Ops::lessIntegers(js + v * width, js[k]));
        out[rank] = found[k];
    }
}

// The rows sorted by cell: a line of a box is one stretch of the sorted
// copy, taken Ops::width places at a time; only earlier rows count. The
// near places (below the far value) are put aside, packed, and their terms
// are found a whole vector of them at a time: the root and the division
// then run on full vectors, and no branch waits on which lanes are near.
template <class Ops>
SIMD_TARGET int sortedRowTermsSimd(const SortedRow& q) {
    using V = typename Ops::V;
    constexpr int width = Ops::width;
    const SortedCells& cells = *q.cells;
    const double *xs = cells.x(), *ys = cells.y(), *zs = cells.z(), *rs = cells.r();
    const std::int32_t* rows = cells.rows();
    const V xi = Ops::set1(q.x), yi = Ops::set1(q.y), zi = Ops::set1(q.z), ri = Ops::set1(q.r);
    const V threshold = Ops::set1(q.T), half = Ops::set1(0.5);
    // The near places put aside: their squared distances, radii and rows,
    // with room for a whole vector past the most kept.
    constexpr int kAside = 4 * width;
    alignas(64) double squares[kAside + width], radii[kAside + width], terms[width];
    std::int32_t nearRows[kAside + width];
    int pending = 0, found = 0;
    // The terms of the n places put aside from `from` (n <= width); false
    // when they are more than the capacity.
    const auto settle = [&](int from, int n) SIMD_TARGET {
        const V d2 = Ops::load(squares + from), rj = Ops::load(radii + from);
        const V gap = Ops::sub(Ops::sub(Ops::sqrt(d2), ri), rj);
        unsigned included = Ops::greater(threshold, Ops::div(gap, Ops::add(rj, ri))) & firstLanes(n);
        const V h = Ops::mul(gap, half);
        const V term = Ops::mul(Ops::mul(h, h), h);
        const int count = __builtin_popcount(included);
        if (found + width <= q.capacity) {
            Ops::compressStore(q.found + found, included, term);
            Ops::compressRows(q.js + found, included, nearRows + from);
            found += count;
            return true;
        }
        Ops::store(terms, term);
        for (; included; included &= included - 1, ++found) {
            if (found == q.capacity) return false;
            const int lane = __builtin_ctz(included);
            q.js[found] = nearRows[from + lane], q.found[found] = terms[lane];
        }
        return true;
    };
    for (int k = 0; k < q.boxCount; ++k) {
        const SortedCells::Box& b = q.boxes[k];
        const V far = Ops::set1(q.far[k]);
        for (std::int32_t kz = b.lo[2]; kz <= b.hi[2]; ++kz) {
            for (std::int32_t ky = b.lo[1]; ky <= b.hi[1]; ++ky) {
                const std::int64_t line = b.first + (kz * b.n + ky) * b.n;
                const std::int32_t to = cells.start(line + b.hi[0] + 1);
                // Whole vectors: places past the stretch (the next cells',
                // or the padding) are read and left out by their lanes.
                for (std::int32_t p = cells.start(line + b.lo[0]); p < to; p += width) {
                    const unsigned lanes = to - p < width ? firstLanes(to - p) : firstLanes(width);
                    const unsigned earlier = Ops::lessIntegers(rows + p, q.i) & lanes;
                    const V dx = Ops::sub(xi, Ops::load(xs + p));
                    const V dy = Ops::sub(yi, Ops::load(ys + p));
                    const V dz = Ops::sub(zi, Ops::load(zs + p));
                    const V d2 = Ops::add(Ops::add(Ops::mul(dx, dx), Ops::mul(dy, dy)), Ops::mul(dz, dz));
                    const unsigned near = Ops::less(d2, far) & earlier;
                    Ops::compressStore(squares + pending, near, d2);
                    Ops::compressStore(radii + pending, near, Ops::load(rs + p));
                    Ops::compressRows(nearRows + pending, near, rows + p);
                    pending += __builtin_popcount(near);
                    if (pending < kAside) continue;
                    int from = 0;
                    for (; pending - from >= width; from += width)
                        if (!settle(from, width)) return -1;
                    for (int m = from; m < pending; ++m)
                        squares[m - from] = squares[m], radii[m - from] = radii[m], nearRows[m - from] = nearRows[m];
                    pending -= from;
                }
            }
        }
    }
    // The rest; the idle lanes of the last vector hold distances that
    // include nothing.
    for (int m = pending; m < pending + width; ++m) squares[m] = 0.0, radii[m] = 0.0, nearRows[m] = 0;
    for (int from = 0; from < pending; from += width)
        if (!settle(from, std::min(width, pending - from))) return -1;
    orderTerms<Ops>(q.js, q.found, found, q.values);
    return found;
}

// Part of a box (see ForwardRow), Ops::width places at a time;
// the few near pairs are settled one by one.
template <class Ops>
SIMD_TARGET int forwardRowTermsSimd(const ForwardRow& q) {
    using V = typename Ops::V;
    constexpr int width = Ops::width;
    const SortedCells& cells = *q.cells;
    const double *xs = cells.x(), *ys = cells.y(), *zs = cells.z(), *rs = cells.r();
    const std::int32_t* rows = cells.rows();
    const V xi = Ops::set1(q.x), yi = Ops::set1(q.y), zi = Ops::set1(q.z), far = Ops::set1(q.far);
    const SortedCells::Box& b = q.box;
    alignas(64) double squares[width];
    int found = 0;
    for (std::int32_t kz = q.firstZ; kz <= b.hi[2]; ++kz) {
        for (std::int32_t ky = kz == q.firstZ ? q.firstY : b.lo[1]; ky <= b.hi[1]; ++ky) {
            const std::int64_t line = b.first + (kz * b.n + ky) * b.n;
            const std::int32_t to = cells.start(line + b.hi[0] + 1);
            const std::int32_t from = kz == q.firstZ && ky == q.firstY ? q.first : cells.start(line + b.lo[0]);
            // Whole vectors: places past the stretch are read and left out.
            for (std::int32_t p = from; p < to; p += width) {
                const unsigned lanes = to - p < width ? firstLanes(to - p) : firstLanes(width);
                const V dx = Ops::sub(xi, Ops::load(xs + p));
                const V dy = Ops::sub(yi, Ops::load(ys + p));
                const V dz = Ops::sub(zi, Ops::load(zs + p));
                const V d2 = Ops::add(Ops::add(Ops::mul(dx, dx), Ops::mul(dy, dy)), Ops::mul(dz, dz));
                unsigned near = Ops::less(d2, far) & lanes;
                if (!near) continue;
                Ops::store(squares, d2);
                for (; near; near &= near - 1) {
                    const int lane = __builtin_ctz(near);
                    double value;
                    if (!eitherWayTerm(squares[lane], q.r, q.i, rs[p + lane], rows[p + lane], q.T, value)) continue;
                    if (found == q.capacity) return -1;
                    q.places[found] = p + lane, q.values[found++] = value;
                }
            }
        }
    }
    return found;
}

}  // namespace
