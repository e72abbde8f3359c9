#pragma once

// The test of one candidate against the spheres placed before it, on each
// instruction set; fillSpheres picks one. All give the same answer.

#include <cmath>
#include <cstdint>

#include "cell_grid.h"
#include "simd_path.h"

// The first row j in 0..count-1, ascending, whose sphere the candidate
// (x, y, z, r) does not clear, that is where
// !(sqrt((dx*dx + dy*dy) + dz*dz) > (r + r_j) + s); -1 when it clears them all.
using ConflictTest = std::int32_t (*)(const double* xs, const double* ys, const double* zs,
                                      const double* rs, std::int32_t count, double x, double y,
                                      double z, double r, double s);

std::int32_t firstConflictPlain(const double* xs, const double* ys, const double* zs, const double* rs,
                                std::int32_t count, double x, double y, double z, double r, double s);
#ifdef SPHEREFILL_X86_SIMD
std::int32_t firstConflictAvx2(const double* xs, const double* ys, const double* zs, const double* rs,
                               std::int32_t count, double x, double y, double z, double r, double s);
std::int32_t firstConflictAvx512(const double* xs, const double* ys, const double* zs, const double* rs,
                                 std::int32_t count, double x, double y, double z, double r, double s);
#endif

// The same test through the cell grid: whether a sphere in the box of cells
// around the candidate, in the grid of each size class that holds spheres,
// rejects it. Every sphere outside the boxes is proven to pass, so this is
// the answer of the tests above. The candidate's own cell in each class is
// looked at first: most rejections are found there.
struct GridCandidate {
    const CellGrid* grid;
    int classCount;
    const int* classes;
    const double* reach;       // the box's half-width, by listed class
    const std::int64_t* own;   // the candidate's cell, by listed class
    const double *xs, *ys, *zs, *rs;  // the table, for the rows of overflow lists
};
using GridTest = bool (*)(const GridCandidate& q, double x, double y, double z, double r, double s);

bool gridConflictPlain(const GridCandidate& q, double x, double y, double z, double r, double s);
#ifdef SPHEREFILL_X86_SIMD
bool gridConflictAvx2(const GridCandidate& q, double x, double y, double z, double r, double s);
#endif

// The plain loop's test of one earlier row.
inline bool rowConflict(const GridCandidate& q, std::int32_t j, double x, double y, double z, double r, double s) {
    const double dx = x - q.xs[j];
    const double dy = y - q.ys[j];
    const double dz = z - q.zs[j];
    return !(std::sqrt((dx * dx + dy * dy) + dz * dz) > (r + q.rs[j]) + s);
}
