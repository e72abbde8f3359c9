#include "floors.h"

#include <cmath>

#ifdef SPHEREFILL_X86_SIMD
double sumFloorAvx2(const double* xs, const double* rs, std::int32_t count);
double sumFloorAvx512(const double* xs, const double* rs, std::int32_t count);
double fillFloorAvx2(const double* data, std::int64_t size, std::int64_t roots);
double fillFloorAvx512(const double* data, std::int64_t size, std::int64_t roots);
#endif

double sumFloor(SimdPath path, const double* xs, const double* rs, std::int32_t count) {
#ifdef SPHEREFILL_X86_SIMD
    if (path == SimdPath::Avx512) return sumFloorAvx512(xs, rs, count);
    if (path == SimdPath::Avx2) return sumFloorAvx2(xs, rs, count);
#endif
    double acc = 0;
    for (std::int32_t i = 1; i < count; ++i)
        for (std::int32_t j = 0; j < i; ++j) acc += std::sqrt(xs[j] * xs[i]) + xs[i] / rs[j];
    return acc;
}

double fillFloor(SimdPath path, const double* data, std::int64_t size, std::int64_t roots) {
#ifdef SPHEREFILL_X86_SIMD
    if (path == SimdPath::Avx512) return fillFloorAvx512(data, size, roots);
    if (path == SimdPath::Avx2) return fillFloorAvx2(data, size, roots);
#endif
    double acc = 0;
    std::int64_t k = 0;
    for (std::int64_t done = 0; done < roots; ++done) {
        acc += std::sqrt(data[k]);
        if (++k == size) k = 0;
    }
    return acc;
}
