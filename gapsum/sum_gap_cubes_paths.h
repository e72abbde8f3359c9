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
