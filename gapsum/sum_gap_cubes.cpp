#include "sum_gap_cubes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "sum_gap_cubes_paths.h"
#include "strict_arithmetic.h"

namespace {

// The cost rule. Below this many spheres the all-pairs vector loop is as
// fast as the grid (measured: they break even at about 1000 unit spheres at
// volume fraction 0.3 and T = 1); from there on the grid wins as long as the
// cells searched around a row cover a small share of the cube.
constexpr std::int32_t kGridFromSphere = 1000;
constexpr double kLargestSearchedShare = 0.1;
// The included terms of one row that are put in order before they are added;
// a row with more takes the plain loop over all earlier rows instead.
constexpr int kTermsPerRow = 512;

enum class SumRoute { AllPairs, Zero, Grid };

// How this call is summed. For the grid: its classes, and the cube [lo, hi]^3
// that holds every centre.
struct SumPlan {
    SumRoute route = SumRoute::AllPairs;
    double lo = 0, hi = 0, magnitude = 0;
    double onePlusT = 1;  // 1 + max(T, 0)
};

// Radii for which every step of the pair proof below stays in the normal
// range: +0.0, or within [2^-400, 2^400]. Not -0.0: two of them add up to
// -0.0, and a positive gap divided by it is -inf, which every T above -inf
// includes.
bool gridRadius(double r) { return (r == 0 && !std::signbit(r)) || (r >= 0x1p-400 && r <= 0x1p400); }

SumPlan planSum(ConstSphereTable table, double T, CellGrid& grid) {
    SumPlan plan;
    const std::int32_t count = table.rows;
    const SearchMode mode = activeSearchMode();
    if (mode == SearchMode::AllPairs || count <= 1) return plan;
    const double* rs = table.column(3);
    bool noNegativeRadius = true;
    for (std::int32_t i = 0; i < count; ++i) noNegativeRadius &= !std::signbit(rs[i]);
    // A NaN threshold includes no pair. With no negative radius (nor -0.0,
    // see gridRadius), rel is never below -1 (or it is NaN), so T <= -1
    // includes none either: the loop's sum stays +0.0.
    if (std::isnan(T) || (T <= -1 && noNegativeRadius)) {
        plan.route = SumRoute::Zero;
        return plan;
    }
    if (!(T < 0x1p400) || (mode == SearchMode::Auto && count < kGridFromSphere)) return plan;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int c = 0; c < 3; ++c) {
        const double* v = table.column(c);
        for (std::int32_t i = 0; i < count; ++i) {
            if (!std::isfinite(v[i])) return plan;
            lo = std::min(lo, v[i]), hi = std::max(hi, v[i]);
        }
    }
    for (std::int32_t i = 0; i < count; ++i)
        if (!gridRadius(rs[i])) return plan;
    plan.lo = lo;
    plan.hi = hi;
    plan.magnitude = std::fmax(std::fabs(lo), std::fabs(hi));
    plan.onePlusT = 1 + (T > 0 ? T : 0.0);
    grid.classify(count, [rs](std::int32_t i) { return rs[i]; });
    if (mode == SearchMode::Grid) {
        plan.route = SumRoute::Grid;
        return plan;
    }
    int crowded = 0;
    for (int c = 1; c < CellGrid::kClasses; ++c)
        if (grid.members(c) > grid.members(crowded)) crowded = c;
    const double largest = grid.largestRadius(crowded);
    const double reach = searchReach((largest + largest) * plan.onePlusT, plan.magnitude);
    if (CellGrid::searchedShare(grid.members(crowded), hi - lo, reach) < kLargestSearchedShare)
        plan.route = SumRoute::Grid;
    return plan;
}

// The reach of row i (radius r) into class c. A pair with centres farther
// apart than it along some axis is never included.
//
// Proof. Let B = r + r_c, with r_c the class's largest radius, so r_i + r_j
// <= B and r_i, r_j <= B; let T+ = max(T, 0) and u = 2^-53. The reach is
// searchReach of P = fl(fl(B) * fl(1 + T+)) >= B(1 + T+)(1 - u)^3, so every
// pair left out has dist >= P(1 + 2^-31) >= B(1 + T+)(1 + 2^-40). Then
// dist - r_i >= r_j + B*2^-40, and with the radii in range every step stays
// normal, so gap = fl(fl(dist - r_i) - r_j) >= (dist(1 - u) - B)(1 - u), and
// with sigma = fl(r_j + r_i) <= B(1 + u):
// gap / sigma >= (dist(1 - u) - B)(1 - u) / (B(1 + u)) >= T+(1 + u),
// so rel = fl(gap / sigma) >= T+ >= T and T > rel is false. (sigma = 0
// means both radii are +0.0; then rel is +inf or NaN and never included.)
double rowReach(const CellGrid& grid, int c, double r, const SumPlan& plan) {
    return searchReach((r + grid.largestRadius(c)) * plan.onePlusT, plan.magnitude);
}

// The squared distance from which a pair of row i (radius r) with a sphere
// of class c is proven not to be included: with E = fl(fl(B * fl(1 + T+)) *
// (1 + 2^-30)) >= B(1 + T+)(1 + 2^-40), a pair at distance >= E is not
// included (see rowReach), and d2 >= fl(fl(E * E) * (1 + 2^-40)) gives
// sqrt(d2) >= E(1 + 2^-42), whose rounding is at least E.
double farSquared(const CellGrid& grid, int c, double r, const SumPlan& plan) {
    const double E = ((r + grid.largestRadius(c)) * plan.onePlusT) * (1 + 0x1p-30);
    return (E * E) * (1 + 0x1p-40);
}

// Rows in ascending order, each against the earlier rows already in the
// grid; a row's included terms are put in ascending j and then added, so the
// sum takes the loop's terms in the loop's order.
double sumThroughGrid(ConstSphereTable table, double T, CellGrid& grid, const SumPlan& plan, GridRowTerms rowTerms,
                      InterruptPoll& poll) {
    // How many rows ahead the cells of a row are asked for.
    constexpr std::int32_t kAhead = 4;
    const std::int32_t count = table.rows;
    const double* xs = table.column(0);
    const double* ys = table.column(1);
    const double* zs = table.column(2);
    const double* rs = table.column(3);
    int classes[CellGrid::kClasses], classCount = 0;
    for (int c = 0; c < CellGrid::kClasses; ++c)
        if (grid.members(c)) classes[classCount++] = c;
    const auto boxesOf = [&](std::int32_t i, CellGrid::Box* boxes) {
        for (int k = 0; k < classCount; ++k)
            boxes[k] = grid.box(classes[k], xs[i], ys[i], zs[i], rowReach(grid, classes[k], rs[i], plan));
    };

    GridTerm terms[kTermsPerRow];
    CellGrid::Box boxes[kAhead][CellGrid::kClasses];  // row i's in slot i % kAhead
    double far[CellGrid::kClasses];
    GridRow row{&grid, classCount, nullptr, far, 0, 0, 0, 0, T, xs, ys, zs, rs, terms, kTermsPerRow};
    for (std::int32_t i = 0; i < kAhead && i < count; ++i) boxesOf(i, boxes[i]);
    double S = 0.0;
    for (std::int32_t i = 0; i < count; ++i) {
        if (poll.stop(kGridRowPairs)) break;
        row.boxes = boxes[i % kAhead];
        for (int k = 0; k < classCount; ++k) far[k] = farSquared(grid, classes[k], rs[i], plan);
        row.x = xs[i], row.y = ys[i], row.z = zs[i], row.r = rs[i];
        const int found = rowTerms(row);
        if (found < 0) {
            // More terms than the buffer holds: this row takes the plain loop.
            for (std::int32_t j = 0; j < i; ++j) {
                double value;
                if (pairTerm(xs[i], ys[i], zs[i], rs[i], xs[j], ys[j], zs[j], rs[j], T, value)) S = value + S;
            }
        } else {
            // Few terms as a rule: insertion sort.
            for (int k = 1; k < found; ++k) {
                const GridTerm t = terms[k];
                int m = k;
                for (; m > 0 && terms[m - 1].j > t.j; --m) terms[m] = terms[m - 1];
                terms[m] = t;
            }
            for (int k = 0; k < found; ++k) S = terms[k].value + S;
        }
        grid.insert(i, xs[i], ys[i], zs[i], rs[i]);
        if (i + kAhead < count) {
            CellGrid::Box* later = boxes[i % kAhead];
            boxesOf(i + kAhead, later);
            for (int k = 0; k < classCount; ++k) grid.prefetch(later[k]);
        }
    }
    return S;
}

}  // namespace

// The plain loop: the definition the vector paths must match bit for bit.
double sumGapCubesPlain(ConstSphereTable table, double T, InterruptPoll* poll) {
    double S = 0.0;
    const std::int32_t count = table.rows;
    if (count <= 1) return S;

    const double* xs = table.column(0);
    const double* ys = table.column(1);
    const double* zs = table.column(2);
    const double* rs = table.column(3);
    for (std::int32_t i = 1; i < count; ++i) {
        if (poll && poll->stop(i)) break;
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

int gridRowTermsPlain(const GridRow& q) {
    int found = 0;
    const auto add = [&](std::int32_t j, double value) {
        if (found == q.capacity) return true;
        q.terms[found++] = {j, value};
        return false;
    };
    const auto cell = [&](const double* d, const std::int32_t* rows) {
        constexpr int slots = CellGrid::kSlots;
        for (int k = 0; k < slots; ++k) {
            double value;
            if (pairTerm(q.x, q.y, q.z, q.r, d[k], d[slots + k], d[2 * slots + k], d[3 * slots + k], q.T, value) &&
                add(rows[k], value))
                return true;
        }
        return false;
    };
    const auto row = [&](std::int32_t j) {
        double value;
        return pairTerm(q.x, q.y, q.z, q.r, q.xs[j], q.ys[j], q.zs[j], q.rs[j], q.T, value) && add(j, value);
    };
    for (int k = 0; k < q.boxCount; ++k)
        if (q.grid->visit(q.boxes[k], cell, row)) return -1;
    return found;
}

std::size_t sumGapCubesWorkspaceBytes(ConstSphereTable table, double T) {
    CellGrid grid;
    return planSum(table, T, grid).route == SumRoute::Grid ? CellGrid::workspaceBytes(table.rows) : 0;
}

SumResult sumGapCubesChecked(ConstSphereTable table, double T, GridWorkspace workspace, InterruptCheck check) {
    InterruptPoll poll(check, kInterruptPairs);
    const auto result = [&poll](double S) { return SumResult{S, poll.stopped()}; };
    CellGrid grid;
    const SumPlan plan = planSum(table, T, grid);
    if (plan.route == SumRoute::Zero) return result(0.0);
    if (plan.route == SumRoute::Grid) {
        const auto cellEdge = [&](int c) { return rowReach(grid, c, grid.largestRadius(c), plan); };
        if (grid.layout(workspace, table.rows, plan.lo, plan.hi, cellEdge)) {
#ifdef SPHEREFILL_X86_SIMD
            if (activeSimdPath() != SimdPath::Plain)
                return result(sumThroughGrid(table, T, grid, plan, &gridRowTermsAvx2, poll));
#endif
            return result(sumThroughGrid(table, T, grid, plan, &gridRowTermsPlain, poll));
        }
    }
#ifdef SPHEREFILL_X86_SIMD
    switch (activeSimdPath()) {
    case SimdPath::Avx512:
        return result(sumGapCubesAvx512(table, T, &poll));
    case SimdPath::Avx2:
        return result(sumGapCubesAvx2(table, T, &poll));
    case SimdPath::Plain:
        break;
    }
#endif
    return result(sumGapCubesPlain(table, T, &poll));
}

double sumGapCubes(ConstSphereTable table, double T, GridWorkspace workspace) {
    return sumGapCubesChecked(table, T, workspace, InterruptCheck{}).sum;
}
