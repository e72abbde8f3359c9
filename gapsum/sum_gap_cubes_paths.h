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
// the earlier rows (j < i) in its boxes, one per size class. Each line of a
// box is one stretch of the sorted copy.
struct SortedRow {
    const SortedCells* cells;
    int boxCount;
    const SortedCells::Box* boxes;
    const double* far;  // by box
    double x, y, z, r, T;
    std::int32_t i;
    GridTerm* terms;
    int capacity;
};
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
