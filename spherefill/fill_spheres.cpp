#include "fill_spheres.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "dead_blocks.h"
#include "fill_spheres_paths.h"
#include "grid_fill.h"
#include "strict_arithmetic.h"

namespace {

double distance(double x, double y, double z, double xj, double yj, double zj) {
    const double dx = x - xj;
    const double dy = y - yj;
    const double dz = z - zj;
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

// The cost rule. The all-pairs vector test wins while few spheres are
// placed; from this many on (measured: the two break even at about 500 unit
// spheres at volume fraction 0.3 with AVX-512, at about 250 with AVX2, half
// as many spheres a vector), a candidate's neighbours in the grid cost less
// than a pass over all earlier spheres, as long as the cells searched
// around a candidate cover a small share of the cube.
std::int32_t gridFromSphere(SimdPath path) { return path == SimdPath::Avx512 ? 512 : 256; }
constexpr double kLargestSearchedShare = 0.1;

GridTest gridTestFor(SimdPath path) {
#ifdef SPHEREFILL_X86_SIMD
    // A cell holds four spheres: one AVX2 vector per column, on AVX-512 too.
    if (path != SimdPath::Plain) return &gridConflictAvx2;
#endif
    (void)path;
    return &gridConflictPlain;
}

OwnCellTest ownCellTestFor(SimdPath path) {
#ifdef SPHEREFILL_X86_SIMD
    if (path != SimdPath::Plain) return &ownCellsRejectAvx2;
#endif
    (void)path;
    return &ownCellsRejectPlain;
}

// The largest limit any pair can have, (r_max + r_max) + s: rounding is
// monotone, so every pair's (r + r_j) + s is at most this.
double largestLimit(double largestRadius, double s) { return (largestRadius + largestRadius) + s; }

// Values up to which the grid's compact cells hold every value as a float,
// with a margin far below the distances.
constexpr double kCompactRange = 0x1p100;

// The sphere from which the grid is used, or count when it is not used at
// all. Classifies the radii into `grid` on the way, and bounds |radius|.
std::int32_t gridStart(const double* diameters, double L, double s, std::int32_t count, CellGrid& grid,
                       double& radiusBound) {
    const SearchMode mode = activeSearchMode();
    if (mode == SearchMode::AllPairs || count < 2) return count;
    // The grid leaves a sphere out only where its distance is proven to exceed
    // its limit: that needs finite coordinates and finite limits, here all
    // within the compact range. Otherwise the all-pairs test runs, with its
    // stops.
    if (!(std::fabs(L) < kCompactRange) || !(std::fabs(s) < kCompactRange)) return count;
    radiusBound = 0;
    for (std::int32_t i = 0; i < count; ++i) {
        const double r = std::fabs(diameters[i] * 0.5);
        if (!(r < kCompactRange)) return count;
        radiusBound = std::max(radiusBound, r);
    }
    grid.classify(count, [diameters](std::int32_t i) { return diameters[i] * 0.5; });
    double largest = -std::numeric_limits<double>::infinity();
    int crowded = 0;
    for (int c = 0; c < CellGrid::kClasses; ++c) {
        largest = std::fmax(largest, grid.largestRadius(c));
        if (grid.members(c) > grid.members(crowded)) crowded = c;
    }
    if (!std::isfinite(largestLimit(largest, s))) return count;
    if (mode != SearchMode::Auto) return 1;
    const std::int32_t from = gridFromSphere(activeSimdPath());
    if (count <= from) return count;
    const double reach = searchReach(largestLimit(grid.largestRadius(crowded), s), std::fabs(L));
    if (!(CellGrid::searchedShare(grid.members(crowded), std::fabs(L), reach) < kLargestSearchedShare)) return count;
    return from;
}

// The map of dead blocks pays once most attempts are rejected, and costs a
// microsecond or so a placed sphere to mark. It is used for the spheres that
// find the cube dense: a sphere of radius rho is kept off by a zone of
// radius (rho + r_j) + s around each sphere j, and the map serves the radii
// rho for which those zones, (rho + r_j + s)^3 pi / 6 each, fill at least
// kMapFromFraction of the cube (for one size, (d + s)^3 pi / 6 each;
// measured: the map and the grid alone break even at about 0.32 for 10^5
// unit spheres, 0.335 for 10^4). In a mixture that is the larger spheres,
// which take nearly all the attempts, and the map's proofs then hold for
// the smallest of them still to come, a wider zone than the smallest sphere
// would allow. It is switched on when the spheres it serves of a window of
// kMapWindow needed more than kMapFromAttempts attempts each, and from then
// on marks the blocks around every placed sphere.
constexpr double kMapFromFraction = 0.325;
constexpr std::int32_t kMapWindow = 256;
constexpr std::int64_t kMapFromAttempts = 4;
// An attempt the map rejects counts as this many tests for the check, and
// they are taken kMapRun at a time.
constexpr std::int64_t kMapAttemptTests = 16;
constexpr std::int64_t kMapRun = 4096;

// The smallest radius among the spheres still to come that the map serves
// (radius at least `from`), which the map's proofs take. It only grows as
// spheres are placed; it is found again a few times at most, since a
// smaller, stale value keeps every proof true.
struct SmallestToCome {
    double from = 0;
    double radius = 0;
    std::int32_t lastAt = -1;  // the last sphere with that radius
    int updates = 0;

    // From sphere i on.
    void find(const double* diameters, std::int32_t i, std::int32_t count) {
        radius = std::numeric_limits<double>::infinity();
        for (std::int32_t k = i; k < count; ++k) {
            const double r = diameters[k] * 0.5;
            if (r >= from && r <= radius) radius = r, lastAt = k;
        }
    }
    // Sphere i is next.
    void reach(const double* diameters, std::int32_t i, std::int32_t count) {
        if (i > lastAt && updates < 8) {
            ++updates;
            find(diameters, i, count);
        }
    }
};

// Why a rejected candidate ends the call, if it does: its limit against the
// first sphere j that rejects it is NaN or +inf (nothing can ever pass), its
// distance is NaN (L is not finite), or the sphere has used its attempts.
FillOutcome stopFor(double limit, double dist, std::int64_t attempt) {
    if (!(limit < std::numeric_limits<double>::infinity())) return FillOutcome::LimitNotFinite;
    if (std::isnan(dist)) return FillOutcome::EdgeNotFinite;
    if (attempt >= kMaxAttemptsPerSphere) return FillOutcome::AttemptCap;
    return FillOutcome::Complete;
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

// The compact cells one sphere at a time, with the margin of GridCandidate.
bool gridConflictPlain(const GridCandidate& q, double x, double y, double z, double r, double s) {
    constexpr int slots = CellGrid::kSlots;
    const CellGrid& grid = *q.grid;
    const auto row = [&](std::int32_t j) { return rowConflict(q, j, x, y, z, r, s); };
    const auto cell = [&](std::int64_t c) {
        const float* d = grid.compactData(c);
        const std::int32_t* rows = grid.cellRows(c);
        for (int k = 0; k < slots && d[k] != std::numeric_limits<float>::infinity(); ++k) {
            const double dx = x - double(d[k]), dy = y - double(d[slots + k]), dz = z - double(d[2 * slots + k]);
            const double d2 = (dx * dx + dy * dy) + dz * dz;
            const double limit = (r + double(d[3 * slots + k])) + s;
            const double hi = limit + q.margin, lo = limit - q.margin;
            if (lo > 0 && d2 < (lo * lo) * (1 - 0x1p-40)) return true;
            if (!(hi < 0 || d2 > (hi * hi) * (1 + 0x1p-40)) && row(rows[k])) return true;
        }
        for (std::int32_t e = grid.overflowHead(c); e >= 0; e = grid.nextEntry(e))
            if (row(grid.entryRow(e))) return true;
        return false;
    };
    for (int k = 0; k < q.classCount; ++k) {
        const CellGrid::Box b = grid.box(q.classes[k], x, y, z, q.reach[k]);
        CellGrid::BoxWalk walk(b, -1);
        for (std::int64_t c; walk.next(c);)
            if (cell(c)) return true;
    }
    return false;
}

bool ownCellsRejectPlain(const GridCandidate& q, double x, double y, double z, double r, double s) {
    constexpr int slots = CellGrid::kSlots;
    for (int c = 0; c < q.classCount; ++c) {
        const float* d = q.grid->compactData(q.own[c]);
        for (int k = 0; k < slots && d[k] != std::numeric_limits<float>::infinity(); ++k) {
            const double dx = x - double(d[k]), dy = y - double(d[slots + k]), dz = z - double(d[2 * slots + k]);
            const double lo = ((r + double(d[3 * slots + k])) + s) - q.margin;
            if (lo > 0 && ((dx * dx + dy * dy) + dz * dz) < (lo * lo) * (1 - 0x1p-40)) return true;
        }
    }
    return false;
}

namespace {

// The smallest radius of the spheres the map serves: forced, all of them;
// by the cost rule, the smallest radius tried for which it pays (+inf:
// none). The radii tried are the smallest of all, then the smallest in each
// eighth of an octave above the smallest positive one; the fraction the
// zones fill grows with the radius, so the first that pays is found by
// halving.
double mapFromRadius(const double* diameters, double L, double s, std::int32_t count) {
    const SearchMode mode = activeSearchMode();
    const double infinity = std::numeric_limits<double>::infinity();
    if (mode != SearchMode::Auto) return mode == SearchMode::Map ? -infinity : infinity;
    double least = infinity, leastPositive = infinity;
    for (std::int32_t i = 0; i < count; ++i) {
        const double r = diameters[i] * 0.5;
        least = std::min(least, r);
        if (r > 0) leastPositive = std::min(leastPositive, r);
    }
    constexpr int kSteps = 64;  // eighths of an octave: radii up to 256 times the smallest apart
    double stepLeast[kSteps];
    std::fill(stepLeast, stepLeast + kSteps, infinity);
    if (leastPositive < infinity)
        for (std::int32_t i = 0; i < count; ++i) {
            const double r = diameters[i] * 0.5;
            if (!(r > 0)) continue;
            const double ratio = r / leastPositive;  // at least 1, perhaps +inf
            int exponent = 0;
            const double mantissa = ratio < 0x1p32 ? std::frexp(ratio, &exponent) : 0.5;  // in [0.5, 1)
            const int step = ratio < 0x1p32 ? std::min(kSteps - 1, 8 * (exponent - 1) + static_cast<int>(16 * mantissa - 8))
                                            : kSteps - 1;
            stepLeast[step] = std::min(stepLeast[step], r);
        }
    double tried[kSteps + 1];
    int n = 0;
    tried[n++] = least;
    for (double r : stepLeast)
        if (r < infinity && r > tried[n - 1]) tried[n++] = r;
    const double edge = std::fabs(L);
    const auto pays = [&](double rho) {
        double volume = 0;
        for (std::int32_t i = 0; i < count; ++i) {
            const double extent = std::max((rho + diameters[i] * 0.5) + s, 0.0);
            volume += extent * extent * extent;
        }
        return volume * (3.14159265358979323846 / 6) >= kMapFromFraction * (edge * edge * edge);
    };
    int lo = 0, hi = n;  // the first that pays lies in [lo, hi], n for none
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (pays(tried[mid])) hi = mid;
        else lo = mid + 1;
    }
    return lo < n ? tried[lo] : infinity;
}

}  // namespace

std::size_t fillSpheresWorkspaceBytes(const double* diameters, double L, double s, std::int32_t count) {
    CellGrid grid;
    double radiusBound;
    return gridStart(diameters, L, s, count, grid, radiusBound) < count
               ? CellGrid::workspaceBytes(count, CellGrid::Format::Compact) +
                     (mapFromRadius(diameters, L, s, count) < std::numeric_limits<double>::infinity()
                          ? DeadBlocks::workspaceBytes(count)
                          : 0)
               : 0;
}

FillStatus fillSpheres(const double* diameters, double L, double s, RandomSource& random,
                       SphereTable table, GridWorkspace workspace, InterruptCheck check) {
    FillStatus status{0, 0, FillOutcome::Complete, -1};
    const std::int32_t count = table.rows;
    if (count <= 0) return status;

    double* xs = table.column(0);
    double* ys = table.column(1);
    double* zs = table.column(2);
    double* rs = table.column(3);
    const SimdPath path = activeSimdPath();
    const ConflictTest firstConflict = conflictTestFor(path);

    CellGrid grid;
    double radiusBound = 0;
    std::int32_t gridFrom = gridStart(diameters, L, s, count, grid, radiusBound);
    const double lowest = L < 0 ? L : 0.0;
    const double highest = L < 0 ? 0.0 : L;
    const auto cellEdge = [&grid, s](int c) { return largestLimit(grid.largestRadius(c), s); };
    if (gridFrom < count && !grid.layout(workspace, count, lowest, highest, cellEdge, CellGrid::Format::Compact))
        gridFrom = count;
    GridFill gridFill(grid, gridTestFor(path), ownCellTestFor(path), xs, ys, zs, rs, L, s, radiusBound, random);
    InterruptPoll poll(check, kInterruptInterval);

    // The map, in the workspace after the grid, once the attempts say so.
    const std::size_t gridBytes = CellGrid::workspaceBytes(count, CellGrid::Format::Compact);
    DeadBlocks map;
    // Forced, the grid goes without the map and the map starts at once.
    const SearchMode mode = activeSearchMode();
    const double mapFrom = gridFrom < count ? mapFromRadius(diameters, L, s, count)
                                            : std::numeric_limits<double>::infinity();
    const bool mapAllowed = mapFrom < std::numeric_limits<double>::infinity();
    bool mapOn = false, mapWanted = mapAllowed && mode == SearchMode::Map;
    SmallestToCome smallest;
    smallest.from = mapFrom;
    std::int64_t windowAttempts = 0;
    std::int32_t windowSpheres = 0;

    for (std::int32_t i = 0; i < count; ++i) {
        const double r = diameters[i] * 0.5;
        const bool inGrid = i >= gridFrom;
        if (i == gridFrom)
            for (std::int32_t j = 0; j < i; ++j) grid.insert(j, xs[j], ys[j], zs[j], rs[j]);
        if (inGrid) gridFill.setRadius(r);
        if (inGrid && mapWanted && !mapOn) {
            mapWanted = false;
            const GridWorkspace rest{static_cast<char*>(workspace.data) + gridBytes, workspace.bytes - gridBytes};
            if (workspace.bytes > gridBytes && map.layout(rest, count, L)) {
                mapOn = true;
                smallest.find(diameters, i, count);
                for (std::int32_t j = 0; j < i; ++j) map.markAround(xs[j], ys[j], zs[j], (smallest.radius + rs[j]) + s);
                gridFill.useMap(&map);
            }
        }
        if (mapOn) smallest.reach(diameters, i, count);
        // The map's proofs hold for the spheres it serves; the rest search
        // the grid for every attempt.
        const bool viaMap = inGrid && mapOn && r >= mapFrom;
        bool skippedLast = false;
        std::int64_t work = 0;  // done since the check was last told
        // An attempt skipped as rejected, written to the row when a stop keeps it.
        const auto keepRow = [&](const Attempt& last) { xs[i] = last.x, ys[i] = last.y, zs[i] = last.z, rs[i] = r; };
        // The sphere's last allowed attempt, rejected by the map (which
        // proves that an earlier sphere rejects it), ends the call as the cap
        // does.
        const auto endAtCap = [&](const Attempt& last) {
            keepRow(last);
            status.attempts = kMaxAttemptsPerSphere;
            status.outcome = FillOutcome::AttemptCap;
            status.blocker = firstConflict(xs, ys, zs, rs, i, last.x, last.y, last.z, r, s);
            return status;
        };
        for (std::int64_t attempt = 1;; ++attempt) {
            // Between attempts: the table holds what a stop would leave (the
            // last attempt the map rejected is written only now).
            if (poll.stop(work)) {
                status.outcome = FillOutcome::Interrupted;
                status.attempts = attempt - 1;
                if (skippedLast) keepRow(gridFill.centreOfLast());
                return status;
            }
            double x, y, z;
            bool rejected = true;
            if (viaMap && map.full()) {
                // No lattice point can take a sphere still to come: every
                // attempt up to the cap is rejected. The last one ends the
                // call, as the cap would.
                status.mapRejected += kMaxAttemptsPerSphere - attempt + 1;
                return endAtCap(gridFill.skipTo(attempt, kMaxAttemptsPerSphere));
            }
            work = inGrid ? kGridAttemptTests : i + 1;
            // Most attempts end in a dead block of the map or, without it,
            // are proven rejected by their own cell: they cost their draws
            // and one test, and write nothing, unless the last is the last
            // the sphere may use. At most kMapRun at a time, so that the
            // check is asked as often as ever.
            const std::int64_t lastOfRun = std::min(kMaxAttemptsPerSphere, attempt + kMapRun - 1);
            std::int64_t skipped = 0, tests = 0;
            if (viaMap) {
                skipped = gridFill.skipDead(i, count, attempt, lastOfRun);
                status.mapRejected += skipped;
                tests = kMapAttemptTests;
            } else if (inGrid && !mapOn) {
                skipped = gridFill.skipOwnRejected(i, count, attempt, lastOfRun);
                tests = kGridAttemptTests;
            }
            if (skipped > 0) {
                attempt += skipped - 1;
                status.attempts = attempt;
                skippedLast = true;
                work = skipped * tests;
                if (attempt < kMaxAttemptsPerSphere) continue;
                return endAtCap(gridFill.centreOfLast());
            }
            if (inGrid) {
                Attempt& current = gridFill.next(i, count, attempt);
                rejected = gridFill.rejects(current, r);
                x = current.x, y = current.y, z = current.z;
            } else {
                x = latticeCoordinate(L, random.next());
                y = latticeCoordinate(L, random.next());
                z = latticeCoordinate(L, random.next());
            }
            xs[i] = x;
            ys[i] = y;
            zs[i] = z;
            rs[i] = r;
            status.attempts = attempt;
            skippedLast = false;
            if (inGrid) {
                if (!rejected) {
                    grid.insert(i, x, y, z, r);
                    if (mapOn) map.markAround(x, y, z, (smallest.radius + r) + s);
                    break;
                }
                // In the grid only the cap can stop the call.
                if (attempt < kMaxAttemptsPerSphere) continue;
            }
            // The first sphere that rejects the candidate, if any.
            const std::int32_t j = firstConflict(xs, ys, zs, rs, i, x, y, z, r, s);
            if (j < 0) break;
            const FillOutcome stop = stopFor((r + rs[j]) + s, distance(x, y, z, xs[j], ys[j], zs[j]), attempt);
            if (stop != FillOutcome::Complete) {
                status.outcome = stop;
                status.blocker = j;
                return status;
            }
        }
        status.placed = i + 1;
        if (inGrid && !mapOn && mapAllowed && mode == SearchMode::Auto && r >= mapFrom) {
            windowAttempts += status.attempts;
            if (++windowSpheres == kMapWindow) {
                mapWanted = windowAttempts > kMapFromAttempts * kMapWindow;
                windowAttempts = windowSpheres = 0;
            }
        }
    }
    return status;
}
