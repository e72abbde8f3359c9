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

// The all-pairs vector test wins while few spheres are placed; from this
// many on, a candidate's few neighbours in the grid cost less than a pass
// over all earlier spheres.
constexpr std::int32_t kGridFromSphere = 512;

// Under the cost rule a grid pays only when the query box of the class with
// most spheres spans a small part of the cube.
constexpr double kCubeEdgesPerReach = 4.0;

CellTest cellTestFor(SimdPath path) {
#ifdef SPHEREFILL_X86_SIMD
    if (path != SimdPath::Plain) return &cellConflictAvx2;
#endif
    (void)path;
    return &cellConflictPlain;
}

// The largest limit any pair can have, (r_max + r_max) + s: rounding is
// monotone, so every pair's (r + r_j) + s is at most this.
double largestLimit(double largestRadius, double s) { return (largestRadius + largestRadius) + s; }

// The sphere from which the grid is used, or count when it is not used at
// all. Classifies the radii into `grid` on the way.
std::int32_t gridStart(const double* diameters, double L, double s, std::int32_t count, CellGrid& grid) {
    const SearchMode mode = activeSearchMode();
    if (mode == SearchMode::AllPairs || count < 2) return count;
    // The grid leaves a sphere out only where its distance is proven to exceed
    // its limit: that needs finite coordinates and finite limits. Otherwise the
    // all-pairs test runs, with its stops.
    if (!std::isfinite(L) || !std::isfinite(s)) return count;
    for (std::int32_t i = 0; i < count; ++i)
        if (!std::isfinite(diameters[i] * 0.5)) return count;
    grid.classify(count, [diameters](std::int32_t i) { return diameters[i] * 0.5; });
    double largest = -std::numeric_limits<double>::infinity();
    int crowded = 0;
    for (int c = 0; c < CellGrid::kClasses; ++c) {
        largest = std::fmax(largest, grid.largestRadius(c));
        if (grid.members(c) > grid.members(crowded)) crowded = c;
    }
    if (!std::isfinite(largestLimit(largest, s))) return count;
    if (mode == SearchMode::Grid) return 1;
    if (count <= kGridFromSphere) return count;
    const double reach = searchReach(largestLimit(grid.largestRadius(crowded), s), std::fabs(L));
    if (!(std::fabs(L) >= kCubeEdgesPerReach * reach)) return count;
    return kGridFromSphere;
}

// The earlier spheres near candidates, through the grid.
struct GridSearch {
    CellGrid& grid;
    CellTest cellTest;
    const double *xs, *ys, *zs, *rs;
    double L, s;
    double reach[CellGrid::kClasses];

    // The reach of a candidate of radius r into each class: no sphere of the
    // class has a larger limit against it than (r + largest radius) + s.
    void setRadius(double r) {
        for (int c = 0; c < CellGrid::kClasses; ++c)
            reach[c] = grid.members(c) ? searchReach((r + grid.largestRadius(c)) + s, std::fabs(L)) : 0.0;
    }
    void prefetch(double x, double y, double z) const {
        for (int c = 0; c < CellGrid::kClasses; ++c) grid.prefetch(c, x, y, z, reach[c]);
    }
    // Whether some earlier sphere rejects the candidate: the all-pairs test's
    // answer, as every sphere left out is proven to pass.
    bool rejects(double x, double y, double z, double r) const {
        const auto cell = [&](const double* cellData, const std::int32_t*) {
            return cellTest(cellData, x, y, z, r, s);
        };
        const auto row = [&](std::int32_t j) {
            return !(distance(x, y, z, xs[j], ys[j], zs[j]) > (r + rs[j]) + s);
        };
        for (int c = 0; c < CellGrid::kClasses; ++c)
            if (grid.visit(c, x, y, z, reach[c], cell, row)) return true;
        return false;
    }
};

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

// The plain loop: the definition the vector paths and the grid must match.
std::int32_t firstConflictPlain(const double* xs, const double* ys, const double* zs, const double* rs,
                                std::int32_t count, double x, double y, double z, double r, double s) {
    for (std::int32_t j = 0; j < count; ++j) {
        const double dist = distance(x, y, z, xs[j], ys[j], zs[j]);
        const double limit = (r + rs[j]) + s;
        if (!(dist > limit)) return j;
    }
    return -1;
}

bool cellConflictPlain(const double* cell, double x, double y, double z, double r, double s) {
    bool conflict = false;
    for (int k = 0; k < CellGrid::kSlots; ++k) {
        const double dist = distance(x, y, z, cell[k], cell[CellGrid::kSlots + k], cell[2 * CellGrid::kSlots + k]);
        conflict |= !(dist > (r + cell[3 * CellGrid::kSlots + k]) + s);
    }
    return conflict;
}

std::size_t fillSpheresWorkspaceBytes(const double* diameters, double L, double s, std::int32_t count) {
    CellGrid grid;
    return gridStart(diameters, L, s, count, grid) < count ? CellGrid::workspaceBytes(count) : 0;
}

FillStatus fillSpheres(const double* diameters, double L, double s, RandomSource& random,
                       SphereTable table, GridWorkspace workspace) {
    FillStatus status{0, 0, FillOutcome::Complete, -1};
    const std::int32_t count = table.rows;
    if (count <= 0) return status;

    double* xs = table.column(0);
    double* ys = table.column(1);
    double* zs = table.column(2);
    double* rs = table.column(3);
    const double infinity = std::numeric_limits<double>::infinity();
    const SimdPath path = activeSimdPath();
    const ConflictTest firstConflict = conflictTestFor(path);

    CellGrid grid;
    std::int32_t gridFrom = gridStart(diameters, L, s, count, grid);
    const double lowest = L < 0 ? L : 0.0;
    const double highest = L < 0 ? 0.0 : L;
    const auto cellEdge = [&grid, s](int c) { return largestLimit(grid.largestRadius(c), s); };
    if (gridFrom < count && !grid.layout(workspace, count, lowest, highest, cellEdge)) gridFrom = count;
    GridSearch search{grid, cellTestFor(path), xs, ys, zs, rs, L, s, {}};

    // In the grid, the next attempt's draws are taken as soon as it is sure
    // that they will be used, so that its cells can be fetched while this
    // candidate is tested. The draws and their order stay the same.
    bool drawn = false;
    std::int32_t next[3] = {0, 0, 0};

    for (std::int32_t i = 0; i < count; ++i) {
        const double r = diameters[i] * 0.5;
        const bool inGrid = i >= gridFrom;
        if (i == gridFrom)
            for (std::int32_t j = 0; j < i; ++j) grid.insert(j, xs[j], ys[j], zs[j], rs[j]);
        if (inGrid) search.setRadius(r);
        for (std::int64_t attempt = 1;; ++attempt) {
            std::int32_t a, b, c;
            if (drawn) {
                a = next[0], b = next[1], c = next[2];
                drawn = false;
            } else {
                a = random.next();
                b = random.next();
                c = random.next();
            }
            const double x = coordinate(L, a);
            const double y = coordinate(L, b);
            const double z = coordinate(L, c);
            xs[i] = x;
            ys[i] = y;
            zs[i] = z;
            rs[i] = r;
            status.attempts = attempt;

            std::int32_t j;
            if (inGrid) {
                // Another attempt follows this one unless this is the last
                // sphere (it may be accepted) or the last allowed attempt.
                if (i + 1 < count && attempt < kMaxAttemptsPerSphere) {
                    next[0] = random.next();
                    next[1] = random.next();
                    next[2] = random.next();
                    drawn = true;
                    search.prefetch(coordinate(L, next[0]), coordinate(L, next[1]), coordinate(L, next[2]));
                }
                if (!search.rejects(x, y, z, r)) {
                    grid.insert(i, x, y, z, r);
                    break;
                }
                if (attempt < kMaxAttemptsPerSphere) continue;
                // The stop names the first sphere that rejects the candidate.
                j = firstConflict(xs, ys, zs, rs, i, x, y, z, r, s);
            } else {
                j = firstConflict(xs, ys, zs, rs, i, x, y, z, r, s);
                if (j < 0) break;
            }

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
