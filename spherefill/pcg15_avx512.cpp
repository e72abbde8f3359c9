// The generator's bulk draws for CPUs with AVX-512: sixteen steps at a time.
#include "pcg15.h"
#include "pcg15_paths.h"
#include "simd_path.h"

#ifdef SPHEREFILL_X86_SIMD
// GCC 12's AVX-512 header builds the unmasked integer operations on an
// undefined value that it then reports as uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include "pcg15_lanes_avx512.h"

namespace {

using pcg15_lanes::draws16;
using pcg15_lanes::multiply;
using pcg15_lanes::step;

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
