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
//
// The cells are compact: each sphere's x, y, z and radius rounded to float.
// A sphere is decided from them only where a margin proves the answer the
// exact test would give; otherwise (near ties) the exact test runs on its
// row of the table. With M = |L| bounding every coordinate, R bounding every
// |radius| and u = 2^-53, the margin is E = 2^-20 (((M + |r|) + R) + |s|) +
// 2^-100. Rounding to float moves a centre by at most sqrt(3) 2^-24 M (+2^-149
// a coordinate) and a radius by 2^-24 R, so with limit' = (r + r_j') + s from
// the rounded radius, the true centre distance D and the exact limit differ
// from the float-based ones by far less than E/2; the double arithmetic of
// d2 and of the loop's own distance adds relative errors below 2^-49, whose
// absolute size (D <= 4M) is below 2^-45 M. So:
//   d2 > (limit' + E)^2 (1 + 2^-40), with limit' + E > 0, or limit' + E < 0:
//     D > exact limit + E/2, and the loop's distance exceeds the limit: pass;
//   d2 < (limit' - E)^2 (1 - 2^-40), with limit' - E > 0:
//     D < exact limit - E/2, and the loop's distance does not exceed it: reject.
// The fill uses the grid only where M, R and |s| are below 2^100, so that
// every value fits a float and E stays tiny beside the distances.
struct GridCandidate {
    const CellGrid* grid;
    int classCount;
    const int* classes;
    const double* reach;       // the box's half-width, by listed class
    const std::int64_t* own;   // the candidate's cell, by listed class
    double margin;             // E
    const double *xs, *ys, *zs, *rs;  // the table: the exact values of every row
    // Whether the own cells were asked for early; if not, the whole boxes
    // are asked for before the own cells are read.
    bool ownFetched;
};
using GridTest = bool (*)(const GridCandidate& q, double x, double y, double z, double r, double s);

// Whether the compact slots of the candidate's own cells (q.own) prove it
// rejected, by the second case above. A proof only: false says nothing.
using OwnCellTest = bool (*)(const GridCandidate& q, double x, double y, double z, double r, double s);
bool ownCellsRejectPlain(const GridCandidate& q, double x, double y, double z, double r, double s);
#ifdef SPHEREFILL_X86_SIMD
bool ownCellsRejectAvx2(const GridCandidate& q, double x, double y, double z, double r, double s);
#endif

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
