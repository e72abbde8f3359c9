// The gap-cube sum for CPUs with AVX-512: eight pairs at a time.
#include "sum_gap_cubes_paths.h"

#ifdef SPHEREFILL_X86_SIMD
#define SIMD_TARGET SIMD_AVX512
#include "sum_gap_cubes_simd.h"

double sumGapCubesAvx512(ConstSphereTable table, double T, InterruptPoll* poll) {
    return sumGapCubesSimd<Avx512Ops>(table, T, poll);
}

int sortedRowTermsAvx512(const SortedRow& row) { return sortedRowTermsSimd<Avx512Ops>(row); }
int forwardRowTermsAvx512(const ForwardRow& row) { return forwardRowTermsSimd<Avx512Ops>(row); }
#endif
