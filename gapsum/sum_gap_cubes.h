#pragma once

#include <cstddef>

#include "cell_grid.h"
#include "interrupt_check.h"
#include "sphere_table.h"

// Visits every unordered pair of rows (i, j), j < i, of the table and adds the
// cube of half the surface gap for each pair whose gap relative to the sum of
// the radii is below T:
//   dist = sqrt((dx*dx + dy*dy) + dz*dz), gap = (dist - r_i) - r_j,
//   rel = gap / (r_j + r_i); if T > rel: h = gap * 0.5, S = (h*h)*h + S.
// Terms are added with i ascending and, within i, j ascending, starting from
// +0.0. Only columns 0..3 are read; a table with no rows may have a null pointer.
//
// With a workspace of sumGapCubesWorkspaceBytes bytes, only the pairs that can
// be included are visited, through a cell grid, where that pays; the sum is
// exactly that of the loop over all pairs.
double sumGapCubes(ConstSphereTable table, double T, GridWorkspace workspace = {});

// The same sum, asking the check about every kInterruptPairs pairs (or rows
// in the grid, each counted as kGridRowPairs); when it says stop, the call
// ends with `interrupted` set and the sum so far.
struct SumResult {
    double sum;
    bool interrupted;
};
SumResult sumGapCubesChecked(ConstSphereTable table, double T, GridWorkspace workspace, InterruptCheck check);

constexpr std::int64_t kInterruptPairs = std::int64_t(1) << 24;
constexpr std::int64_t kGridRowPairs = 1024;

// The workspace the grid needs for this call, or 0 when this call would not
// use one (the cost rule, or values for which the grid's proof does not hold).
std::size_t sumGapCubesWorkspaceBytes(ConstSphereTable table, double T);

// How a call sums, found once from the table and T: a caller that asks for
// the workspace and then sums hands the plan to both, so that the columns
// are read for it once. A plan holds for its table and T only, unchanged.
enum class GapSumRoute { AllPairs, Zero, Grid, Sorted };
struct GapSumPlan {
    ConstSphereTable table{nullptr, 0};
    double T = 0;
    GapSumRoute route = GapSumRoute::AllPairs;
    // For a grid: the cube [lo, hi]^3 that holds every centre, the larger of
    // |lo| and |hi|, 1 + max(T, 0), and the radii's size classes.
    double lo = 0, hi = 0, magnitude = 0, onePlusT = 1;
    GridGeometry classes;
};
GapSumPlan planGapSum(ConstSphereTable table, double T);
std::size_t sumGapCubesWorkspaceBytes(const GapSumPlan& plan);
SumResult sumGapCubesChecked(const GapSumPlan& plan, GridWorkspace workspace, InterruptCheck check);
