#include "floors.h"

#ifdef SPHEREFILL_X86_SIMD
#define SIMD_TARGET SIMD_AVX2
#include "floor_kernels.h"

double sumFloorAvx2(const double* xs, const double* rs, std::int32_t count) {
    return sumFloorSimd<Avx2Ops>(xs, rs, count);
}
double fillFloorAvx2(const double* data, std::int64_t size, std::int64_t roots) {
    return fillFloorSimd<Avx2Ops>(data, size, roots);
}
#endif
