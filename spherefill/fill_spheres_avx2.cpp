// The candidate test for CPUs with AVX2: four earlier spheres at a time.
#include "fill_spheres_paths.h"

#ifdef SPHEREFILL_X86_SIMD
#define SIMD_TARGET SIMD_AVX2
#include "fill_spheres_simd.h"

std::int32_t firstConflictAvx2(const double* xs, const double* ys, const double* zs, const double* rs,
                             std::int32_t count, double x, double y, double z, double r, double s) {
    return firstConflictSimd<Avx2Ops>(xs, ys, zs, rs, count, x, y, z, r, s);
}

bool gridConflictAvx2(const GridCandidate& q, double x, double y, double z, double r, double s) {
    return gridConflictSimd<Avx2Ops>(q, x, y, z, r, s);
}

bool ownCellsRejectAvx2(const GridCandidate& q, double x, double y, double z, double r, double s) {
    return ownCellsRejectSimd<Avx2Ops>(q, x, y, z, r, s);
}
#endif
