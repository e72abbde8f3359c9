// The map's batch work on AVX-512: the blocks of sixteen candidates at a
// time from their draws, and the bits of eight blocks at a time.
#include "dead_blocks.h"

#ifdef SPHEREFILL_X86_SIMD
#include <immintrin.h>

#define MAP_AVX512 __attribute__((target("avx512f")))

// GCC 12's AVX-512 header builds the unmasked integer operations on an
// undefined value that it then reports as uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// Sixteen candidates' draws are 48 values a0 b0 c0 a1 ...: the places of
// each draw of candidate k among them, 3k + axis. The first step takes those
// below 32 from the first two vectors; the second keeps them (places
// 0..15) and takes the rest from the third vector (16 + place - 32).
struct Gather {
    alignas(64) std::int32_t first[16];
    alignas(64) std::int32_t second[16];
};
constexpr Gather gatherFor(int axis) {
    Gather g{};
    for (int k = 0; k < 16; ++k) {
        const int place = 3 * k + axis;
        g.first[k] = place < 32 ? place : 0;
        g.second[k] = place < 32 ? k : 16 + (place - 32);
    }
    return g;
}
constexpr Gather kGather[3] = {gatherFor(0), gatherFor(1), gatherFor(2)};

MAP_AVX512 __m512i axisDraws(__m512i v0, __m512i v1, __m512i v2, int axis) {
    const __m512i low = _mm512_permutex2var_epi32(v0, _mm512_load_si512(kGather[axis].first), v1);
    return _mm512_permutex2var_epi32(low, _mm512_load_si512(kGather[axis].second), v2);
}

}  // namespace

// A block's bit number in closed form, as the spread tables give it: with
// t = blockBits - 3 tile bits per axis and n = draw >> shift along each axis,
// (tile z << 2t | tile y << t | tile x) << 9 | place z << 6 | place y << 3 | place x.
MAP_AVX512 int DeadBlocks::blocksOfAvx512(const std::int32_t* draws, int n, std::uint64_t* blocks) const {
    const int t = blockBits_ - 3;
    const __m128i shift = _mm_cvtsi32_si128(shift_);
    const __m512i seven = _mm512_set1_epi32(7);
    const auto part = [&](__m512i d, int tileShift, int placeShift) MAP_AVX512 {
        const __m512i block = _mm512_srl_epi32(d, shift);
        const __m512i tile = _mm512_sll_epi32(_mm512_srli_epi32(block, 3), _mm_cvtsi32_si128(tileShift));
        const __m512i place = _mm512_sll_epi32(_mm512_and_si512(block, seven), _mm_cvtsi32_si128(placeShift));
        return _mm512_or_si512(tile, place);
    };
    int k = 0;
    for (; k + 16 <= n; k += 16) {
        const std::int32_t* d = draws + 3 * k;
        const __m512i v0 = _mm512_loadu_si512(d), v1 = _mm512_loadu_si512(d + 16), v2 = _mm512_loadu_si512(d + 32);
        const __m512i bits = _mm512_or_si512(_mm512_or_si512(part(axisDraws(v0, v1, v2, 0), 9, 0),
                                                             part(axisDraws(v0, v1, v2, 1), 9 + t, 3)),
                                             part(axisDraws(v0, v1, v2, 2), 9 + 2 * t, 6));
        _mm512_storeu_si512(blocks + k, _mm512_cvtepu32_epi64(_mm512_castsi512_si256(bits)));
        _mm512_storeu_si512(blocks + k + 8, _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(bits, 1)));
    }
    return k;
}

MAP_AVX512 int DeadBlocks::deadMaskAvx512(const std::uint64_t* blocks, int n, std::uint64_t& mask) const {
    const __m512i one = _mm512_set1_epi64(1), low6 = _mm512_set1_epi64(63);
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m512i block = _mm512_loadu_si512(blocks + k);
        const __m512i word = _mm512_i64gather_epi64(_mm512_srli_epi64(block, 6), bits_, 8);
        const __m512i bit = _mm512_srlv_epi64(word, _mm512_and_si512(block, low6));
        mask |= std::uint64_t(_mm512_test_epi64_mask(bit, one)) << k;
    }
    return k;
}
#endif
