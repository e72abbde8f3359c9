#include "sum_gap_cubes.h"

#include <cmath>
#include <cstdint>

#include "sum_gap_cubes_paths.h"

// The plain loop: the definition the vector paths must match bit for bit.
double sumGapCubesPlain(ConstSphereTable table, double T) {
    double S = 0.0;
    const std::int32_t count = table.rows;
    if (count <= 1) return S;

    const double* xs = table.column(0);
    const double* ys = table.column(1);
    const double* zs = table.column(2);
    const double* rs = table.column(3);
    for (std::int32_t i = 1; i < count; ++i) {
        for (std::int32_t j = 0; j < i; ++j) {
            const double dx = xs[i] - xs[j];
            const double dy = ys[i] - ys[j];
            const double dz = zs[i] - zs[j];
            const double dist = std::sqrt((dx * dx + dy * dy) + dz * dz);
            const double gap = (dist - rs[i]) - rs[j];
            const double rel = gap / (rs[j] + rs[i]);
            if (T > rel) {
                const double h = gap * 0.5;
                S = (h * h) * h + S;
            }
        }
    }
    return S;
}

double sumGapCubes(ConstSphereTable table, double T) {
#ifdef SPHEREFILL_X86_SIMD
    switch (activeSimdPath()) {
    case SimdPath::Avx512:
        return sumGapCubesAvx512(table, T);
    case SimdPath::Avx2:
        return sumGapCubesAvx2(table, T);
    case SimdPath::Plain:
        break;
    }
#endif
    return sumGapCubesPlain(table, T);
}
