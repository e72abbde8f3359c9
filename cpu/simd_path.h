#pragma once

// Which instruction set the all-pairs loops run on. Every path gives the same
// bits as the plain loop; the wider ones are only faster.

// The vector paths exist for x86-64 with GCC or Clang; elsewhere only the
// plain loop is built.
#if (defined(__GNUC__) || defined(__clang__)) && defined(__x86_64__)
#define SPHEREFILL_X86_SIMD 1
#endif

enum class SimdPath { Plain, Avx2, Avx512 };

// Whether this build has the path and this CPU (and its OS) can run it.
bool simdPathSupported(SimdPath path);

// The path in use. Chosen on first use: the one named by the environment
// variable SPHEREFILL_SIMD (plain, avx2 or avx512) when this CPU can run it,
// otherwise the widest one it can run.
SimdPath activeSimdPath();

// Uses `path` from now on, for tests and benchmarks. Returns false, and
// changes nothing, when the path is not supported.
bool forceSimdPath(SimdPath path);

const char* simdPathName(SimdPath path);
