// The candidate test for CPUs with AVX-512: eight earlier spheres at a time.
#include "fill_spheres_paths.h"

#ifdef SPHEREFILL_X86_SIMD
#define SIMD_TARGET SIMD_AVX512
#include "fill_spheres_simd.h"

std::int32_t firstConflictAvx512(const double* xs, const double* ys, const double* zs, const double* rs,
                               std::int32_t count, double x, double y, double z, double r, double s) {
    return firstConflictSimd<Avx512Ops>(xs, ys, zs, rs, count, x, y, z, r, s);
}
#endif
