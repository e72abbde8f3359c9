// The generator's bulk draws for CPUs with AVX-512: sixteen steps at a time.
#include "pcg15.h"
#include "pcg15_paths.h"
#include "simd_path.h"

#ifdef SPHEREFILL_X86_SIMD
#include <immintrin.h>

#define PCG_AVX512 __attribute__((target("avx512f")))

// GCC 12's AVX-512 header builds the unmasked integer operations on an
// undefined value that it then reports as uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// Lane k steps k on from the state; two vectors of eight lanes, the second
// eight steps on from the first, and every lane moves sixteen steps at once
// (two chains of multiplications under way).
constexpr Pcg15::Jump kLane[8] = {Pcg15::jumpOf(0), Pcg15::jumpOf(1), Pcg15::jumpOf(2), Pcg15::jumpOf(3),
                                  Pcg15::jumpOf(4), Pcg15::jumpOf(5), Pcg15::jumpOf(6), Pcg15::jumpOf(7)};
constexpr Pcg15::Jump kEight = Pcg15::jumpOf(8), kSixteen = Pcg15::jumpOf(16);
alignas(64) constexpr std::uint64_t kLaneMultipliers[8] = {
    kLane[0].multiplier, kLane[1].multiplier, kLane[2].multiplier, kLane[3].multiplier,
    kLane[4].multiplier, kLane[5].multiplier, kLane[6].multiplier, kLane[7].multiplier};
alignas(64) constexpr std::uint64_t kLaneIncrements[8] = {
    kLane[0].increment, kLane[1].increment, kLane[2].increment, kLane[3].increment,
    kLane[4].increment, kLane[5].increment, kLane[6].increment, kLane[7].increment};

// x * m mod 2^64 in each lane, from three 32 x 32 -> 64-bit products (the
// high half of the high product is shifted out).
PCG_AVX512 __m512i multiply(__m512i x, __m512i m) {
    const __m512i low = _mm512_mul_epu32(x, m);
    const __m512i cross = _mm512_add_epi64(_mm512_mul_epu32(_mm512_srli_epi64(x, 32), m),
                                           _mm512_mul_epu32(x, _mm512_srli_epi64(m, 32)));
    return _mm512_add_epi64(low, _mm512_slli_epi64(cross, 32));
}

// Pcg15::output of the states of two vectors, as sixteen 32-bit lanes: those
// of `low`, then those of `high`. The xorshift is done on the 64-bit states;
// its low halves and the states' high halves (the rotation in their top five
// bits) are then gathered into 32-bit lanes and rotated there.
PCG_AVX512 __m512i draws16(__m512i low, __m512i high) {
    const __m512i evens = _mm512_set_epi32(30, 28, 26, 24, 22, 20, 18, 16, 14, 12, 10, 8, 6, 4, 2, 0);
    const __m512i odds = _mm512_set_epi32(31, 29, 27, 25, 23, 21, 19, 17, 15, 13, 11, 9, 7, 5, 3, 1);
    const __m512i mixedLow = _mm512_srli_epi64(_mm512_xor_si512(_mm512_srli_epi64(low, 18), low), 27);
    const __m512i mixedHigh = _mm512_srli_epi64(_mm512_xor_si512(_mm512_srli_epi64(high, 18), high), 27);
    const __m512i mixed = _mm512_permutex2var_epi32(mixedLow, evens, mixedHigh);
    const __m512i rotation = _mm512_srli_epi32(_mm512_permutex2var_epi32(low, odds, high), 27);
    return _mm512_srli_epi32(_mm512_rorv_epi32(mixed, rotation), 17);
}

// The lanes moved on by a jump.
PCG_AVX512 __m512i step(__m512i lanes, const Pcg15::Jump& jump) {
    return _mm512_add_epi64(multiply(lanes, _mm512_set1_epi64(static_cast<long long>(jump.multiplier))),
                            _mm512_set1_epi64(static_cast<long long>(jump.increment)));
}

}  // namespace

PCG_AVX512 void pcg15DrawManyAvx512(std::uint64_t& state, std::int32_t* out, int n) {
    __m512i first = _mm512_add_epi64(multiply(_mm512_set1_epi64(static_cast<long long>(state)),
                                              _mm512_load_si512(kLaneMultipliers)),
                                     _mm512_load_si512(kLaneIncrements));
    __m512i second = step(first, kEight);
    int k = 0;
    for (; k + 16 <= n; k += 16) {
        _mm512_storeu_si512(out + k, draws16(first, second));
        first = step(first, kSixteen);
        second = step(second, kSixteen);
    }
    // Lane 0 holds the state after k draws; the rest one at a time.
    alignas(64) std::uint64_t held[8];
    _mm512_store_si512(held, first);
    std::uint64_t s = held[0];
    Pcg15::drawManyPlain(s, out + k, n - k);
    state = s;
}
#endif
