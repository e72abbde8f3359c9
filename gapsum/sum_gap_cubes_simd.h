#pragma once

// The gap-cube sum over vectors of Ops::width pairs at a time. Included by
// one file per instruction set, which defines SIMD_TARGET to that set's
// target attribute first. Gives the same bits as the plain loop: every lane
// does the plain loop's operations in the same order, square root and
// division are correctly rounded in vector form too, and the included terms
// are added one by one, j ascending.

#include <cstdint>

#include "simd_ops.h"
#include "sphere_table.h"

namespace {

template <class Ops>
SIMD_TARGET double sumGapCubesSimd(ConstSphereTable table, double T) {
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

}  // namespace
