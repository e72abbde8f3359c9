#include "fill_spheres.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fill_spheres_paths.h"
#include "strict_arithmetic.h"

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

// The cost rule. The all-pairs vector test wins while few spheres are
// placed; from this many on (measured: the two break even at about 500 unit
// spheres at volume fraction 0.3), a candidate's neighbours in the grid cost
// less than a pass over all earlier spheres, as long as the cells searched
// around a candidate cover a small share of the cube.
constexpr std::int32_t kGridFromSphere = 512;
constexpr double kLargestSearchedShare = 0.1;

GridTest gridTestFor(SimdPath path) {
#ifdef SPHEREFILL_X86_SIMD
    // A cell holds four spheres: one AVX2 vector per column, on AVX-512 too.
    if (path != SimdPath::Plain) return &gridConflictAvx2;
#endif
    (void)path;
    return &gridConflictPlain;
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
    if (mode == SearchMode::Grid || mode == SearchMode::Sorted) return 1;
    if (count <= kGridFromSphere) return count;
    const double reach = searchReach(largestLimit(grid.largestRadius(crowded), s), std::fabs(L));
    if (!(CellGrid::searchedShare(grid.members(crowded), std::fabs(L), reach) < kLargestSearchedShare)) return count;
    return kGridFromSphere;
}

// One attempt in the grid: its draws, its candidate centre and its cell in
// each class that holds spheres.
struct Attempt {
    std::int32_t draws[3];
    double x, y, z;
    std::int64_t own[CellGrid::kClasses];
};

// Random sequential addition through the grid. Attempts are drawn ahead, so
// that their cells can be fetched while earlier candidates are tested, but
// only attempts that are sure to follow: the draws and their order stay
// those of the plain loop.
class GridFill {
public:
    static constexpr int kDepth = 8;  // attempts drawn ahead at most

    GridFill(CellGrid& grid, GridTest test, const double* xs, const double* ys, const double* zs, const double* rs,
             double L, double s, double radiusBound, RandomSource& random)
        : grid_(grid), test_(test), query_{&grid, 0, classes_, reach_, nullptr, 0.0, xs, ys, zs, rs}, L_(L), s_(s),
          radiusBound_(radiusBound), random_(random) {
        for (int c = 0; c < CellGrid::kClasses; ++c)
            if (grid.members(c) > 0) classes_[classCount_++] = c;
        query_.classCount = classCount_;
    }

    // The sphere to place next has radius r. Its reach into each class: no
    // sphere of the class has a larger limit against it than
    // (r + the class's largest radius) + s.
    void setRadius(double r) {
        for (int k = 0; k < classCount_; ++k)
            reach_[k] = searchReach((r + grid_.largestRadius(classes_[k])) + s_, std::fabs(L_));
        query_.margin = 0x1p-20 * (((std::fabs(L_) + std::fabs(r)) + radiusBound_) + std::fabs(s_)) + 0x1p-100;
    }

    // The next attempt of sphere i, its `attempt`-th, drawn now or before.
    const Attempt& next(std::int32_t i, std::int32_t count, std::int64_t attempt) {
        if (size_ == 0) draw(append());
        Attempt& current = ring_[head_];
        // The attempt k places after this one surely follows while no sphere
        // up to the last can be accepted and none reaches the cap before it:
        // each attempt moves on by at most one sphere.
        for (int k = size_; k <= kDepth; ++k) {
            if (!(i + k < count && attempt + k - 1 < kMaxAttemptsPerSphere)) break;
            draw(append());
        }
        return current;
    }
    // Whether an earlier sphere rejects the current attempt; done with it.
    bool rejects(const Attempt& current, double r) {
        query_.own = current.own;
        const bool rejected = test_(query_, current.x, current.y, current.z, r, s_);
        head_ = (head_ + 1) % (kDepth + 1);
        --size_;
        return rejected;
    }

private:
    Attempt& append() { return ring_[(head_ + size_++) % (kDepth + 1)]; }
    // Draws an attempt, finds its own cells and asks for them early.
    void draw(Attempt& a) {
        for (std::int32_t& d : a.draws) d = random_.next();
        a.x = coordinate(L_, a.draws[0]);
        a.y = coordinate(L_, a.draws[1]);
        a.z = coordinate(L_, a.draws[2]);
        for (int k = 0; k < classCount_; ++k) a.own[k] = grid_.prefetchCell(classes_[k], a.x, a.y, a.z);
    }

    CellGrid& grid_;
    GridTest test_;
    GridCandidate query_;
    double L_, s_, radiusBound_;
    RandomSource& random_;
    int classes_[CellGrid::kClasses] = {};
    int classCount_ = 0;
    double reach_[CellGrid::kClasses] = {};
    Attempt ring_[kDepth + 1];  // the current attempt and those drawn ahead
    int head_ = 0, size_ = 0;
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

std::size_t fillSpheresWorkspaceBytes(const double* diameters, double L, double s, std::int32_t count) {
    CellGrid grid;
    double radiusBound;
    return gridStart(diameters, L, s, count, grid, radiusBound) < count
               ? CellGrid::workspaceBytes(count, CellGrid::Format::Compact)
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
    GridFill gridFill(grid, gridTestFor(path), xs, ys, zs, rs, L, s, radiusBound, random);
    InterruptPoll poll(check, kInterruptInterval);

    for (std::int32_t i = 0; i < count; ++i) {
        const double r = diameters[i] * 0.5;
        const bool inGrid = i >= gridFrom;
        if (i == gridFrom)
            for (std::int32_t j = 0; j < i; ++j) grid.insert(j, xs[j], ys[j], zs[j], rs[j]);
        if (inGrid) gridFill.setRadius(r);
        for (std::int64_t attempt = 1;; ++attempt) {
            // Between attempts: the table holds what a stop would leave.
            if (poll.stop(inGrid ? kGridAttemptTests : i + 1)) {
                status.outcome = FillOutcome::Interrupted;
                status.attempts = attempt - 1;
                return status;
            }
            double x, y, z;
            bool rejected;
            if (inGrid) {
                const Attempt& current = gridFill.next(i, count, attempt);
                x = current.x, y = current.y, z = current.z;
                rejected = gridFill.rejects(current, r);
            } else {
                x = coordinate(L, random.next());
                y = coordinate(L, random.next());
                z = coordinate(L, random.next());
            }
            xs[i] = x;
            ys[i] = y;
            zs[i] = z;
            rs[i] = r;
            status.attempts = attempt;
            if (inGrid) {
                if (!rejected) {
                    grid.insert(i, x, y, z, r);
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
    }
    return status;
}
