// The map's batch work on AVX-512: the blocks of sixteen candidates at a
// time from their draws, and the bits of eight blocks at a time.
#include "dead_blocks.h"

#ifdef SPHEREFILL_X86_SIMD
// GCC 12's AVX-512 header builds the unmasked integer operations on an
// undefined value that it then reports as uninitialized.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include "pcg15_lanes_avx512.h"

#define MAP_AVX512 __attribute__((target("avx512f")))

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

// The scan's lanes: vector 2 axis + half holds, in lane k, the state from
// which the draw of that axis of attempt 8 half + k comes, 3 (8 half + k) +
// axis steps on from the first; each moves 48 steps (sixteen attempts) at a
// time.
struct ScanLanes {
    alignas(64) std::uint64_t multipliers[6][8];
    alignas(64) std::uint64_t increments[6][8];
};
constexpr ScanLanes scanLanes() {
    ScanLanes lanes{};
    for (int v = 0; v < 6; ++v)
        for (int k = 0; k < 8; ++k) {
            const Pcg15::Jump jump = Pcg15::jumpOf(3 * (8 * (v % 2) + k) + v / 2);
            lanes.multipliers[v][k] = jump.multiplier, lanes.increments[v][k] = jump.increment;
        }
    return lanes;
}
constexpr ScanLanes kScanLanes = scanLanes();
constexpr Pcg15::Jump kSixteenAttempts = Pcg15::jumpOf(48);

MAP_AVX512 __m512i axisDraws(__m512i v0, __m512i v1, __m512i v2, int axis) {
    const __m512i low = _mm512_permutex2var_epi32(v0, _mm512_load_si512(kGather[axis].first), v1);
    return _mm512_permutex2var_epi32(low, _mm512_load_si512(kGather[axis].second), v2);
}

}  // namespace

// A block's bit number in closed form, as the spread tables give it: with
// t = blockBits - 3 tile bits per axis and n = draw >> shift along each axis,
// (tile z << 2t | tile y << t | tile x) << 9 | place z << 6 | place y << 3 | place x.
// Sixteen candidates at a time, from their draws along each axis.
MAP_AVX512 static __m512i blockNumbers(__m512i x, __m512i y, __m512i z, int shift, int blockBits) {
    const int t = blockBits - 3;
    const __m512i seven = _mm512_set1_epi32(7);
    const auto part = [shift, seven](__m512i d, int tileShift, int placeShift) MAP_AVX512 {
        const __m512i block = _mm512_srl_epi32(d, _mm_cvtsi32_si128(shift));
        const __m512i tile = _mm512_sll_epi32(_mm512_srli_epi32(block, 3), _mm_cvtsi32_si128(tileShift));
        const __m512i place = _mm512_sll_epi32(_mm512_and_si512(block, seven), _mm_cvtsi32_si128(placeShift));
        return _mm512_or_si512(tile, place);
    };
    return _mm512_or_si512(_mm512_or_si512(part(x, 9, 0), part(y, 9 + t, 3)), part(z, 9 + 2 * t, 6));
}

MAP_AVX512 int DeadBlocks::blocksOfAvx512(const std::int32_t* draws, int n, std::uint64_t* blocks) const {
    int k = 0;
    for (; k + 16 <= n; k += 16) {
        const std::int32_t* d = draws + 3 * k;
        const __m512i v0 = _mm512_loadu_si512(d), v1 = _mm512_loadu_si512(d + 16), v2 = _mm512_loadu_si512(d + 32);
        const __m512i bits = blockNumbers(axisDraws(v0, v1, v2, 0), axisDraws(v0, v1, v2, 1),
                                          axisDraws(v0, v1, v2, 2), shift_, blockBits_);
        _mm512_storeu_si512(blocks + k, _mm512_cvtepu32_epi64(_mm512_castsi512_si256(bits)));
        _mm512_storeu_si512(blocks + k + 8, _mm512_cvtepu32_epi64(_mm512_extracti64x4_epi64(bits, 1)));
    }
    return k;
}

// Sixteen attempts a step: each lane's three draws from the lanes of states,
// its block's word of the map gathered and its bit tested. The attempts are
// then taken from the scan's sixteen up to the first live one, or the first
// past `most`, which ends the scan; the next scan goes on from there.
MAP_AVX512 std::int64_t DeadBlocks::skipDeadDrawsAvx512(std::uint64_t state, DrawScan& scan, std::int64_t most,
                                                        std::int32_t* lastDraws) const {
    using pcg15_lanes::draws16;
    if (most <= 0) return 0;
    const __m512i low5 = _mm512_set1_epi32(31), one = _mm512_set1_epi32(1);
    __m512i lanes[6];
    if (scan.held) {
        for (int v = 0; v < 6; ++v) lanes[v] = _mm512_load_si512(scan.lanes[v]);
    } else {
        const __m512i start = _mm512_set1_epi64(static_cast<long long>(state));
        for (int v = 0; v < 6; ++v)
            lanes[v] = _mm512_add_epi64(pcg15_lanes::multiply(start, _mm512_load_si512(kScanLanes.multipliers[v])),
                                        _mm512_load_si512(kScanLanes.increments[v]));
    }
    const auto sixteen = [&]() MAP_AVX512 {
        const __m512i x = draws16(lanes[0], lanes[1]), y = draws16(lanes[2], lanes[3]), z = draws16(lanes[4], lanes[5]);
        const __m512i block = blockNumbers(x, y, z, shift_, blockBits_);
        const __m512i word = _mm512_i32gather_epi32(_mm512_srli_epi32(block, 5), bits_, 4);
        scan.live = _mm512_testn_epi32_mask(_mm512_srlv_epi32(word, _mm512_and_si512(block, low5)), one);
        _mm512_store_si512(scan.draws[0], x);
        _mm512_store_si512(scan.draws[1], y);
        _mm512_store_si512(scan.draws[2], z);
        scan.used = 0, scan.asked = false;
    };
    if (!scan.held) sixteen(), scan.held = true;
    for (std::int64_t done = 0;;) {
        if (scan.used == 16) {
            for (__m512i& v : lanes) v = pcg15_lanes::step(v, kSixteenAttempts);
            sixteen();
        }
        const int from = scan.used;
        const int room = static_cast<int>(std::min<std::int64_t>(16 - from, most - done));
        const std::uint32_t live = scan.live & (((std::uint32_t(1) << room) - 1) << from);
        const int end = live ? __builtin_ctz(live) : from + room;
        if (end > from)
            lastDraws[0] = scan.draws[0][end - 1], lastDraws[1] = scan.draws[1][end - 1],
            lastDraws[2] = scan.draws[2][end - 1];
        done += end - from, scan.used = end;
        if (!live && done < most) continue;
        if (live && prefetching_ && !scan.asked) {
            // The scan goes on after this attempt: where the map is not kept
            // in cache, the words of the next two sixteens are asked for now.
            scan.asked = true;
            __m512i ahead[6];
            std::copy(lanes, lanes + 6, ahead);
            for (int g = 0; g < 2; ++g) {
                for (__m512i& v : ahead) v = pcg15_lanes::step(v, kSixteenAttempts);
                alignas(64) std::uint32_t words[16];
                _mm512_store_si512(words, _mm512_srli_epi32(blockNumbers(draws16(ahead[0], ahead[1]),
                                                                         draws16(ahead[2], ahead[3]),
                                                                         draws16(ahead[4], ahead[5]), shift_,
                                                                         blockBits_),
                                                            5));
                for (std::uint32_t w : words)
                    _mm_prefetch(reinterpret_cast<const char*>(bits_) + 4 * std::size_t(w), _MM_HINT_T0);
            }
        }
        for (int v = 0; v < 6; ++v) _mm512_store_si512(scan.lanes[v], lanes[v]);
        return done;
    }
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
