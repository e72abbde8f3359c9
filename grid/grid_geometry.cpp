#include "grid_geometry.h"

#include <cmath>

int GridGeometry::classOf(double r) const {
    if (r > largest_ * 0.25) return 0;
    if (r > largest_ * 0.0625) return 1;
    if (r > largest_ * 0.015625) return 2;
    return 3;
}

std::int64_t GridGeometry::cellsPerAxisFor(std::int32_t members, double span, double edge, double pointsPerCell,
                                           std::int32_t smallClassCells) {
    const std::int64_t target = std::max<std::int64_t>(
        {static_cast<std::int64_t>(members / pointsPerCell), std::min(members, smallClassCells), 1});
    std::int64_t n = static_cast<std::int64_t>(std::cbrt(double(target)));
    while ((n + 1) * (n + 1) * (n + 1) <= target) ++n;
    while (n > 1 && n * n * n > target) --n;
    if (edge > 0 && span / edge < double(n)) n = static_cast<std::int64_t>(span / edge);
    if (!(span > 0) || !(span < std::numeric_limits<double>::infinity()) || n < 1) n = 1;
    return n;
}

std::int64_t GridGeometry::place(double lo, double hi, const double* edges, double pointsPerCell,
                                 std::int32_t smallClassCells) {
    const double span = hi - lo;
    std::int64_t total = 0;
    for (int c = 0; c < kClasses; ++c) {
        Class& g = classes_[c];
        if (g.members == 0) continue;
        std::int64_t n = cellsPerAxisFor(g.members, span, edges[c], pointsPerCell, smallClassCells);
        // A span so small that n / span overflows: one cell (an infinite
        // scale would turn a zero offset into NaN).
        if (!(double(n) / span < std::numeric_limits<double>::infinity())) n = 1;
        g.n = static_cast<std::int32_t>(n);
        g.lo = lo;
        g.inv = n > 1 ? double(n) / span : 0.0;
        g.last = double(n - 1);
        g.first = total;
        total += n * n * n;
    }
    return total;
}
