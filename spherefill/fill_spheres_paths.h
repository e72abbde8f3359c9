#pragma once

// The test of one candidate against the spheres placed before it, on each
// instruction set; fillSpheres picks one. All give the same answer.

#include <cstdint>

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

// The same test against the kSlots spheres of one grid cell, stored as kSlots
// x, then y, z and radius; empty slots have x = +inf and always pass. True
// when the candidate does not clear one of them.
using CellTest = bool (*)(const double* cell, double x, double y, double z, double r, double s);

bool cellConflictPlain(const double* cell, double x, double y, double z, double r, double s);
#ifdef SPHEREFILL_X86_SIMD
bool cellConflictAvx2(const double* cell, double x, double y, double z, double r, double s);
#endif
