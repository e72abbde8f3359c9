#include "fill_spheres.h"

#include <cmath>
#include <limits>

#include "fill_spheres_paths.h"

namespace {

// The coordinate of one draw: the integer converted exactly, divided by
// 32767.0 (whatever the range of any platform rand), then scaled by L.
double coordinate(double L, std::int32_t draw) {
    return L * (static_cast<double>(draw) / 32767.0);
}

double distance(double x, double y, double z, double xj, double yj, double zj) {
    const double dx = x - xj;
    const double dy = y - yj;
    const double dz = z - zj;
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

ConflictTest conflictTestFor(SimdPath path) {
    switch (path) {
#ifdef SPHEREFILL_X86_SIMD
    case SimdPath::Avx512:
        return &firstConflictAvx512;
    case SimdPath::Avx2:
        return &firstConflictAvx2;
#endif
    default:
        return &firstConflictPlain;
    }
}

}  // namespace

// The plain loop: the definition the vector paths must match.
std::int32_t firstConflictPlain(const double* xs, const double* ys, const double* zs, const double* rs,
                                std::int32_t count, double x, double y, double z, double r, double s) {
    for (std::int32_t j = 0; j < count; ++j) {
        const double dist = distance(x, y, z, xs[j], ys[j], zs[j]);
        const double limit = (r + rs[j]) + s;
        if (!(dist > limit)) return j;
    }
    return -1;
}

FillStatus fillSpheres(const double* diameters, double L, double s, RandomSource& random,
                       SphereTable table) {
    FillStatus status{0, 0, FillOutcome::Complete, -1};
    const std::int32_t count = table.rows;
    if (count <= 0) return status;

    double* xs = table.column(0);
    double* ys = table.column(1);
    double* zs = table.column(2);
    double* rs = table.column(3);
    const double infinity = std::numeric_limits<double>::infinity();
    const ConflictTest firstConflict = conflictTestFor(activeSimdPath());

    for (std::int32_t i = 0; i < count; ++i) {
        const double r = diameters[i] * 0.5;
        for (std::int64_t attempt = 1;; ++attempt) {
            const std::int32_t a = random.next();
            const std::int32_t b = random.next();
            const std::int32_t c = random.next();
            const double x = coordinate(L, a);
            const double y = coordinate(L, b);
            const double z = coordinate(L, c);
            xs[i] = x;
            ys[i] = y;
            zs[i] = z;
            rs[i] = r;
            status.attempts = attempt;

            const std::int32_t j = firstConflict(xs, ys, zs, rs, i, x, y, z, r, s);
            if (j < 0) break;

            // Rejected. Stop when no candidate can ever pass, or at the cap.
            const double limit = (r + rs[j]) + s;
            FillOutcome stop = FillOutcome::Complete;
            if (!(limit < infinity)) {
                stop = FillOutcome::LimitNotFinite;
            } else if (std::isnan(distance(x, y, z, xs[j], ys[j], zs[j]))) {
                stop = FillOutcome::EdgeNotFinite;
            } else if (attempt >= kMaxAttemptsPerSphere) {
                stop = FillOutcome::AttemptCap;
            }
            if (stop != FillOutcome::Complete) {
                status.outcome = stop;
                status.blocker = j;
                return status;
            }
        }
        status.placed = i + 1;
    }
    return status;
}
