#pragma once

// The floors the kernels are measured against: loops that do only the vector
// square roots (and, for the sum, the divisions) of a kernel over the same
// data, and nothing else. Included by one file per instruction set, after
// SIMD_TARGET is defined.

#include <cstdint>

#include "simd_ops.h"

namespace {

// One square root and one division per pair (i, j), j < i, as sumGapCubes.
template <class Ops>
SIMD_TARGET double sumFloorSimd(const double* xs, const double* rs, std::int32_t count) {
    using V = typename Ops::V;
    constexpr int width = Ops::width;
    V acc = Ops::set1(0.0);
    for (std::int32_t i = 1; i < count; ++i) {
        const V xi = Ops::set1(xs[i]);
        for (std::int32_t j = 0; j < i; j += width) {
            const int n = i - j < width ? static_cast<int>(i - j) : width;
            const V xj = n == width ? Ops::load(xs + j) : Ops::loadFirst(xs + j, n);
            const V rj = n == width ? Ops::load(rs + j) : Ops::loadFirst(rs + j, n);
            acc = Ops::add(acc, Ops::add(Ops::sqrt(Ops::mul(xj, xi)), Ops::div(xi, rj)));
        }
    }
    alignas(64) double lanes[width];
    Ops::store(lanes, acc);
    return lanes[0];
}

// `roots` square roots, width at a time, over the table's data in turn.
template <class Ops>
SIMD_TARGET double fillFloorSimd(const double* data, std::int64_t size, std::int64_t roots) {
    using V = typename Ops::V;
    constexpr int width = Ops::width;
    V acc = Ops::set1(0.0);
    std::int64_t k = 0;
    for (std::int64_t done = 0; done < roots; done += width) {
        acc = Ops::add(acc, Ops::sqrt(Ops::load(data + k)));
        k += width;
        if (k + width > size) k = 0;
    }
    alignas(64) double lanes[width];
    Ops::store(lanes, acc);
    return lanes[0];
}

}  // namespace
