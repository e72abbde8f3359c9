#pragma once

// The gap-cube sum on each instruction set; sumGapCubes picks one.
// All give the same bits.

#include <cmath>
#include <cstdint>

#include "cell_grid.h"
#include "sorted_cells.h"
#include "interrupt_check.h"
#include "simd_path.h"
#include "sphere_table.h"

// A poll, when given, is told the pairs of each row and ends the sum early
// once it says stop.
double sumGapCubesPlain(ConstSphereTable table, double T, InterruptPoll* poll = nullptr);
#ifdef SPHEREFILL_X86_SIMD
double sumGapCubesAvx2(ConstSphereTable table, double T, InterruptPoll* poll = nullptr);
double sumGapCubesAvx512(ConstSphereTable table, double T, InterruptPoll* poll = nullptr);
#endif

// One row's search through the cell grid: the included pairs of row i with
// the spheres in its boxes of cells (one per size class that holds spheres),
// each with the loop's own term. A sphere whose squared distance from the
// row is at least the box's `far` value is proven not to be included, and
// is passed over without its square root and division.
struct GridTerm {
    std::int32_t j;
    double value;
};
struct GridRow {
    const CellGrid* grid;
    int boxCount;
    const CellGrid::Box* boxes;
    const double* far;  // by box
    double x, y, z, r, T;
    const double *xs, *ys, *zs, *rs;  // the table, for the rows of overflow lists
    GridTerm* terms;
    int capacity;
};
// The number of terms put into row.terms, in no order; -1 when there are
// more than row.capacity.
using GridRowTerms = int (*)(const GridRow& row);

int gridRowTermsPlain(const GridRow& row);
#ifdef SPHEREFILL_X86_SIMD
int gridRowTermsAvx2(const GridRow& row);
#endif

// The same search over the rows sorted by cell: row i's included pairs with
// the earlier rows (j < i) in its boxes, one per size class, into values in
// ascending j. Each line of a box is one stretch of the sorted copy.
struct SortedRow {
    const SortedCells* cells;
    int boxCount;
    const SortedCells::Box* boxes;
    const double* far;  // by box
    double x, y, z, r, T;
    std::int32_t i;
    std::int32_t* js;  // scratch: the earlier row of each term found, with
                       // room for kRankedTerms more than capacity,
    double* found;     // and its term
    double* values;    // the terms, in ascending j
    int capacity;
};

// The terms of a row found in no order, js[k] and found[k] for k < count,
// into out in ascending j (a row's js are distinct). Reorders js and found.
constexpr int kRankedTerms = 32;
inline void orderTermsByInsertion(std::int32_t* js, double* found, int count, double* out) {
    for (int k = 1; k < count; ++k) {
        const std::int32_t j = js[k];
        const double value = found[k];
        int m = k;
        for (; m > 0 && js[m - 1] > j; --m) js[m] = js[m - 1], found[m] = found[m - 1];
        js[m] = j, found[m] = value;
    }
    for (int k = 0; k < count; ++k) out[k] = found[k];
}
using SortedRowTerms = int (*)(const SortedRow& row);

int sortedRowTermsPlain(const SortedRow& row);
#ifdef SPHEREFILL_X86_SIMD
int sortedRowTermsAvx2(const SortedRow& row);
int sortedRowTermsAvx512(const SortedRow& row);
#endif

// The sum's own term for the pair (i, j) from its squared distance
// (dx*dx + dy*dy) + dz*dz, and whether it is included.
inline bool squareTerm(double d2, double ri, double rj, double T, double& term) {
    const double dist = std::sqrt(d2);
    const double gap = (dist - ri) - rj;
    const double rel = gap / (rj + ri);
    if (!(T > rel)) return false;
    const double h = gap * 0.5;
    term = (h * h) * h;
    return true;
}

// The sum's own term for the pair (i, j), and whether it is included.
inline bool pairTerm(double xi, double yi, double zi, double ri, double xj, double yj, double zj, double rj,
                     double T, double& term) {
    const double dx = xi - xj;
    const double dy = yi - yj;
    const double dz = zi - zj;
    return squareTerm((dx * dx + dy * dy) + dz * dz, ri, rj, T, term);
}
