// The gap-cube sum for CPUs with AVX2: four pairs at a time.
#include "cell_grid.h"
#include "sum_gap_cubes_paths.h"

#ifdef SPHEREFILL_X86_SIMD
#define SIMD_TARGET SIMD_AVX2
#include "sum_gap_cubes_simd.h"

double sumGapCubesAvx2(ConstSphereTable table, double T) {
    return sumGapCubesSimd<Avx2Ops>(table, T);
}
#endif

#ifdef SPHEREFILL_X86_SIMD
static_assert(CellGrid::kSlots == Avx2Ops::width, "one cell is one AVX2 vector per column");

SIMD_AVX2 unsigned cellTermsAvx2(const double* cell, double x, double y, double z, double r, double T,
                                 double* terms) {
    using Ops = Avx2Ops;
    const Ops::V ri = Ops::set1(r);
    const Ops::V rj = Ops::load(cell + 3 * CellGrid::kSlots);
    const Ops::V dx = Ops::sub(Ops::set1(x), Ops::load(cell));
    const Ops::V dy = Ops::sub(Ops::set1(y), Ops::load(cell + CellGrid::kSlots));
    const Ops::V dz = Ops::sub(Ops::set1(z), Ops::load(cell + 2 * CellGrid::kSlots));
    const Ops::V dist = Ops::sqrt(Ops::add(Ops::add(Ops::mul(dx, dx), Ops::mul(dy, dy)), Ops::mul(dz, dz)));
    const Ops::V gap = Ops::sub(Ops::sub(dist, ri), rj);
    const unsigned included = Ops::greater(Ops::set1(T), Ops::div(gap, Ops::add(rj, ri)));
    if (included) {
        const Ops::V h = Ops::mul(gap, Ops::set1(0.5));
        Ops::store(terms, Ops::mul(Ops::mul(h, h), h));
    }
    return included;
}
#endif
