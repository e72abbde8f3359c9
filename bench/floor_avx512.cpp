#include "floors.h"

#ifdef SPHEREFILL_X86_SIMD
#define SIMD_TARGET SIMD_AVX512
#include "floor_kernels.h"

double sumFloorAvx512(const double* xs, const double* rs, std::int32_t count) {
    return sumFloorSimd<Avx512Ops>(xs, rs, count);
}
double fillFloorAvx512(const double* data, std::int64_t size, std::int64_t roots) {
    return fillFloorSimd<Avx512Ops>(data, size, roots);
}
#endif
