#pragma once

// The generator's steps and draws in the lanes of AVX-512 vectors, eight
// states to a vector: for the bulk draws and for the map's scan of attempts.
// Included only by sources built with AVX-512 paths.

#include <immintrin.h>

#include <cstdint>

#include "pcg15.h"

#define PCG_AVX512 __attribute__((target("avx512f")))

namespace pcg15_lanes {

// x * m mod 2^64 in each lane, from three 32 x 32 -> 64-bit products (the
// high half of the high product is shifted out).
PCG_AVX512 inline __m512i multiply(__m512i x, __m512i m) {
    const __m512i low = _mm512_mul_epu32(x, m);
    const __m512i cross = _mm512_add_epi64(_mm512_mul_epu32(_mm512_srli_epi64(x, 32), m),
                                           _mm512_mul_epu32(x, _mm512_srli_epi64(m, 32)));
    return _mm512_add_epi64(low, _mm512_slli_epi64(cross, 32));
}

// Pcg15::output of the states of two vectors, as sixteen 32-bit lanes: those
// of `low`, then those of `high`. The xorshift is done on the 64-bit states;
// its low halves and the states' high halves (the rotation in their top five
// bits) are then gathered into 32-bit lanes and rotated there.
PCG_AVX512 inline __m512i draws16(__m512i low, __m512i high) {
    const __m512i evens = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
    const __m512i odds = _mm512_set_epi32(31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1);
    const __m512i mixedLow = _mm512_srli_epi64(_mm512_xor_si512(_mm512_srli_epi64(low, 18), low), 27);
    const __m512i mixedHigh = _mm512_srli_epi64(_mm512_xor_si512(_mm512_srli_epi64(high, 18), high), 27);
    const __m512i mixed = _mm512_permutex2var_epi32(mixedLow, evens, mixedHigh);
    const __m512i rotation = _mm512_srli_epi32(_mm512_permutex2var_epi32(low, odds, high), 27);
    return _mm512_srli_epi32(_mm512_rorv_epi32(mixed, rotation), 17);
}

// The lanes moved on by a jump.
PCG_AVX512 inline __m512i step(__m512i lanes, const Pcg15::Jump& jump) {
    return _mm512_add_epi64(multiply(lanes, _mm512_set1_epi64(static_cast<long long>(jump.multiplier))),
                            _mm512_set1_epi64(static_cast<long long>(jump.increment)));
}

}  // namespace pcg15_lanes
