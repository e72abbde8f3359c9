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
// In place: js and found, together, into ascending j.
inline void sortTermsByRow(std::int32_t* js, double* found, int count) {
    for (int k = 1; k < count; ++k) {
        const std::int32_t j = js[k];
        const double value = found[k];
        int m = k;
        for (; m > 0 && js[m - 1] > j; --m) js[m] = js[m - 1], found[m] = found[m - 1];
        js[m] = j, found[m] = value;
    }
}
inline void orderTermsByInsertion(std::int32_t* js, double* found, int count, double* out) {
    sortTermsByRow(js, found, count);
    for (int k = 0; k < count; ++k) out[k] = found[k];
}
using SortedRowTerms = int (*)(const SortedRow& row);

int sortedRowTermsPlain(const SortedRow& row);
#ifdef SPHEREFILL_X86_SIMD
int sortedRowTermsAvx2(const SortedRow& row);
int sortedRowTermsAvx512(const SortedRow& row);
#endif

// Each pair of points met once, from one of the two. Within a size class,
// a point takes the half of its box that comes after it: the lines after
// its own (along z, then y), and on its own line the places after its own.
// A pair that can be included lies in the box of either point (see
// rowReach), so it is met from exactly one of the two: the one whose line
// comes first, or on a shared line, whose place does. Across two classes,
// the point of the class with the larger radii (the lower number) takes
// the whole box in the other. Either is the part of a box from a line and
// a place on it: its lines from that one on, that line from that place.
// Each pair found is the place of the other point and the pair's term,
// taken with the later of the two rows as i.
struct ForwardRow {
    const SortedCells* cells;
    SortedCells::Box box;
    std::int32_t firstY, firstZ;  // the first line taken
    std::int32_t first;           // and its first place taken
    double far;
    double x, y, z, r, T;
    std::int32_t i;
    std::int32_t* places;  // out: the other point of each pair found
    double* values;        // and its term
    int capacity;
};
// The number of pairs found, in no order; -1 when more than capacity.
using ForwardRowTerms = int (*)(const ForwardRow& row);

int forwardRowTermsPlain(const ForwardRow& row);
#ifdef SPHEREFILL_X86_SIMD
int forwardRowTermsAvx2(const ForwardRow& row);
int forwardRowTermsAvx512(const ForwardRow& row);
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

// The term of a pair met from either of its points: point a (row ia, radius
// ra) and point b, at squared distance d2. The sum takes the later row as
// i; its other arithmetic does not depend on the order (a difference only
// changes sign, and a sum of two radii is the same either way).
inline bool eitherWayTerm(double d2, double ra, std::int32_t ia, double rb, std::int32_t ib, double T,
                          double& term) {
    return ia > ib ? squareTerm(d2, ra, rb, T, term) : squareTerm(d2, rb, ra, T, term);
}
