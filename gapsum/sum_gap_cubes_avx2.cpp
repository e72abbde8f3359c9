// The gap-cube sum for CPUs with AVX2: four pairs at a time.
#include "sum_gap_cubes_paths.h"

#ifdef SPHEREFILL_X86_SIMD
#define SIMD_TARGET SIMD_AVX2
#include "sum_gap_cubes_simd.h"

double sumGapCubesAvx2(ConstSphereTable table, double T, InterruptPoll* poll) {
    return sumGapCubesSimd<Avx2Ops>(table, T, poll);
}
#endif

#ifdef SPHEREFILL_X86_SIMD
int gridRowTermsAvx2(const GridRow& row) { return gridRowTermsSimd<Avx2Ops>(row); }
int sortedRowTermsAvx2(const SortedRow& row) { return sortedRowTermsSimd<Avx2Ops>(row); }
int forwardRowTermsAvx2(const ForwardRow& row) { return forwardRowTermsSimd<Avx2Ops>(row); }
#endif
