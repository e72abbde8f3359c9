#pragma once

// The gap-cube sum on each instruction set; sumGapCubes picks one.
// All give the same bits.

#include "simd_path.h"
#include "sphere_table.h"

double sumGapCubesPlain(ConstSphereTable table, double T);
#ifdef SPHEREFILL_X86_SIMD
double sumGapCubesAvx2(ConstSphereTable table, double T);
double sumGapCubesAvx512(ConstSphereTable table, double T);
#endif

// The pairs of row i, at (x, y, z) with radius r, with the kSlots spheres of
// one grid cell (stored as kSlots x, then y, z and radius; empty slots have
// x = +inf and are never included): the mask of included lanes, and each
// lane's term in terms[lane], computed exactly as the plain loop does.
using CellTerms = unsigned (*)(const double* cell, double x, double y, double z, double r, double T,
                               double* terms);

unsigned cellTermsPlain(const double* cell, double x, double y, double z, double r, double T, double* terms);
#ifdef SPHEREFILL_X86_SIMD
unsigned cellTermsAvx2(const double* cell, double x, double y, double z, double r, double T, double* terms);
#endif
