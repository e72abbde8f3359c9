#include "sum_gap_cubes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "sum_gap_cubes_paths.h"

namespace {

// Below this many spheres the all-pairs vector loop is as fast as the grid.
constexpr std::int32_t kGridFromSphere = 2048;
// Under the cost rule a grid pays only when the query box of the class with
// most spheres spans a small part of the cube.
constexpr double kCubeEdgesPerReach = 4.0;
// The included terms of one row that are put in order before they are added;
// a row with more takes the plain loop over all earlier rows instead.
constexpr int kTermsPerRow = 512;

// The sum's own term for the pair (i, j), and whether it is included.
bool pairTerm(double xi, double yi, double zi, double ri, double xj, double yj, double zj, double rj, double T,
              double& term) {
    const double dx = xi - xj;
    const double dy = yi - yj;
    const double dz = zi - zj;
    const double dist = std::sqrt((dx * dx + dy * dy) + dz * dz);
    const double gap = (dist - ri) - rj;
    const double rel = gap / (rj + ri);
    if (!(T > rel)) return false;
    const double h = gap * 0.5;
    term = (h * h) * h;
    return true;
}

enum class SumRoute { AllPairs, Zero, Grid };

// How this call is summed. For the grid: its classes, and the cube [lo, hi]^3
// that holds every centre.
struct SumPlan {
    SumRoute route = SumRoute::AllPairs;
    double lo = 0, hi = 0, magnitude = 0;
    double onePlusT = 1;  // 1 + max(T, 0)
};

// Radii for which every step of the pair proof below stays in the normal
// range: zero, or within [2^-400, 2^400].
bool gridRadius(double r) { return r == 0 || (r >= 0x1p-400 && r <= 0x1p400); }

SumPlan planSum(ConstSphereTable table, double T, CellGrid& grid) {
    SumPlan plan;
    const std::int32_t count = table.rows;
    const SearchMode mode = activeSearchMode();
    if (mode == SearchMode::AllPairs || count <= 1) return plan;
    const double* rs = table.column(3);
    bool noNegativeRadius = true;
    for (std::int32_t i = 0; i < count; ++i) noNegativeRadius &= !(rs[i] < 0);
    // A NaN threshold includes no pair. With no negative radius, rel is never
    // below -1 (or it is NaN), so T <= -1 includes none either: the loop's sum
    // stays +0.0.
    if (std::isnan(T) || (T <= -1 && noNegativeRadius)) {
        plan.route = SumRoute::Zero;
        return plan;
    }
    if (!(T < 0x1p400)) return plan;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (int c = 0; c < 3; ++c) {
        const double* v = table.column(c);
        for (std::int32_t i = 0; i < count; ++i) {
            if (!std::isfinite(v[i])) return plan;
            lo = std::fmin(lo, v[i]), hi = std::fmax(hi, v[i]);
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
    if (count < kGridFromSphere) return plan;
    int crowded = 0;
    for (int c = 1; c < CellGrid::kClasses; ++c)
        if (grid.members(c) > grid.members(crowded)) crowded = c;
    const double largest = grid.largestRadius(crowded);
    const double reach = searchReach((largest + largest) * plan.onePlusT, plan.magnitude);
    if (hi - lo >= kCubeEdgesPerReach * reach) plan.route = SumRoute::Grid;
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
// means both radii are 0; then rel is +inf or NaN and never included.)
double rowReach(const CellGrid& grid, int c, double r, const SumPlan& plan) {
    return searchReach((r + grid.largestRadius(c)) * plan.onePlusT, plan.magnitude);
}

struct Term {
    std::int32_t j;
    double value;
};

double sumThroughGrid(ConstSphereTable table, double T, CellGrid& grid, const SumPlan& plan, CellTerms cellTerms) {
    const std::int32_t count = table.rows;
    const double* xs = table.column(0);
    const double* ys = table.column(1);
    const double* zs = table.column(2);
    const double* rs = table.column(3);
    Term terms[kTermsPerRow];
    double reach[CellGrid::kClasses];
    double nextReach[CellGrid::kClasses];
    for (int c = 0; c < CellGrid::kClasses; ++c) nextReach[c] = rowReach(grid, c, rs[0], plan);

    // Rows in ascending order, each against the earlier rows already in the
    // grid; the row's included terms are put in ascending j and then added, so
    // the sum takes the loop's terms in the loop's order.
    double S = 0.0;
    for (std::int32_t i = 0; i < count; ++i) {
        const double xi = xs[i], yi = ys[i], zi = zs[i], ri = rs[i];
        std::copy(nextReach, nextReach + CellGrid::kClasses, reach);
        if (i + 1 < count) {
            for (int c = 0; c < CellGrid::kClasses; ++c) {
                nextReach[c] = rowReach(grid, c, rs[i + 1], plan);
                if (grid.members(c)) grid.prefetch(grid.box(c, xs[i + 1], ys[i + 1], zs[i + 1], nextReach[c]));
            }
        }
        int found = 0;
        const auto cell = [&](const double* cellData, const std::int32_t* rows) {
            double values[CellGrid::kSlots];
            unsigned included = cellTerms(cellData, xi, yi, zi, ri, T, values);
            for (; included; included &= included - 1) {
                if (found == kTermsPerRow) return true;
                const int lane = __builtin_ctz(included);
                terms[found++] = {rows[lane], values[lane]};
            }
            return false;
        };
        const auto row = [&](std::int32_t j) {
            double value;
            if (!pairTerm(xi, yi, zi, ri, xs[j], ys[j], zs[j], rs[j], T, value)) return false;
            if (found == kTermsPerRow) return true;
            terms[found++] = {j, value};
            return false;
        };
        bool full = false;
        for (int c = 0; c < CellGrid::kClasses && !full; ++c)
            if (grid.members(c)) full = grid.visit(grid.box(c, xi, yi, zi, reach[c]), cell, row);
        if (full) {
            // More terms than the buffer holds: this row takes the plain loop.
            for (std::int32_t j = 0; j < i; ++j) {
                double value;
                if (pairTerm(xi, yi, zi, ri, xs[j], ys[j], zs[j], rs[j], T, value)) S = value + S;
            }
        } else {
            // Few terms as a rule: insertion sort.
            for (int k = 1; k < found; ++k) {
                const Term t = terms[k];
                int m = k;
                for (; m > 0 && terms[m - 1].j > t.j; --m) terms[m] = terms[m - 1];
                terms[m] = t;
            }
            for (int k = 0; k < found; ++k) S = terms[k].value + S;
        }
        grid.insert(i, xi, yi, zi, ri);
    }
    return S;
}

}  // namespace

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

unsigned cellTermsPlain(const double* cell, double x, double y, double z, double r, double T, double* terms) {
    unsigned included = 0;
    for (int k = 0; k < CellGrid::kSlots; ++k) {
        if (pairTerm(x, y, z, r, cell[k], cell[CellGrid::kSlots + k], cell[2 * CellGrid::kSlots + k],
                     cell[3 * CellGrid::kSlots + k], T, terms[k]))
            included |= 1u << k;
    }
    return included;
}

std::size_t sumGapCubesWorkspaceBytes(ConstSphereTable table, double T) {
    CellGrid grid;
    return planSum(table, T, grid).route == SumRoute::Grid ? CellGrid::workspaceBytes(table.rows) : 0;
}

double sumGapCubes(ConstSphereTable table, double T, GridWorkspace workspace) {
    CellGrid grid;
    const SumPlan plan = planSum(table, T, grid);
    if (plan.route == SumRoute::Zero) return 0.0;
    if (plan.route == SumRoute::Grid) {
        const auto cellEdge = [&](int c) { return rowReach(grid, c, grid.largestRadius(c), plan); };
        if (grid.layout(workspace, table.rows, plan.lo, plan.hi, cellEdge)) {
#ifdef SPHEREFILL_X86_SIMD
            if (activeSimdPath() != SimdPath::Plain)
                return sumThroughGrid(table, T, grid, plan, &cellTermsAvx2);
#endif
            return sumThroughGrid(table, T, grid, plan, &cellTermsPlain);
        }
    }
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
