// The candidate test for CPUs with AVX2: four earlier spheres at a time.
#include "cell_grid.h"
#include "fill_spheres_paths.h"

#ifdef SPHEREFILL_X86_SIMD
#define SIMD_TARGET SIMD_AVX2
#include "fill_spheres_simd.h"

std::int32_t firstConflictAvx2(const double* xs, const double* ys, const double* zs, const double* rs,
                             std::int32_t count, double x, double y, double z, double r, double s) {
    return firstConflictSimd<Avx2Ops>(xs, ys, zs, rs, count, x, y, z, r, s);
}
#endif

#ifdef SPHEREFILL_X86_SIMD
static_assert(CellGrid::kSlots == Avx2Ops::width, "one cell is one AVX2 vector per column");

// A grid cell's four spheres in one vector per column, with the plain loop's
// operations in its order: the exact square root, then the comparison.
SIMD_AVX2 bool cellConflictAvx2(const double* cell, double x, double y, double z, double r, double s) {
    using Ops = Avx2Ops;
    const Ops::V dx = Ops::sub(Ops::set1(x), Ops::load(cell));
    const Ops::V dy = Ops::sub(Ops::set1(y), Ops::load(cell + CellGrid::kSlots));
    const Ops::V dz = Ops::sub(Ops::set1(z), Ops::load(cell + 2 * CellGrid::kSlots));
    const Ops::V dist = Ops::sqrt(Ops::add(Ops::add(Ops::mul(dx, dx), Ops::mul(dy, dy)), Ops::mul(dz, dz)));
    const Ops::V limit = Ops::add(Ops::add(Ops::set1(r), Ops::load(cell + 3 * CellGrid::kSlots)), Ops::set1(s));
    return Ops::greater(dist, limit) != firstLanes(Ops::width);
}
#endif
