#pragma once

// Vector operations for the all-pairs kernels, one struct per instruction set.
// Each function carries the target attribute of its instruction set, so only
// the functions marked with it are compiled for the wider instruction set and
// nothing leaks into code that runs on the baseline; the kernels that use them
// live in files of their own, one per instruction set, and everything here has
// internal linkage. Include only where SPHEREFILL_X86_SIMD is defined.
//
// Every operation is a single IEEE operation rounded by itself (no fused
// multiply-add), and comparisons are ordered: false when either side is NaN.
// Masks hold one bit per lane, lane 0 in bit 0.

#include <immintrin.h>

#include <cstdint>

#define SIMD_AVX2 __attribute__((target("avx2")))
#define SIMD_AVX512 __attribute__((target("avx512f")))

namespace {

// For each mask of four lanes: the lanes set, in order, as lane numbers
// (bytes of `lanes`) and as the 32-bit halves of those lanes (`halves`).
struct PackedLanes {
    std::int32_t lanes;
    unsigned char halves[8];
};
constexpr PackedLanes packedLanes(unsigned mask) {
    PackedLanes out{0, {}};
    int n = 0;
    for (int lane = 0; lane < 4; ++lane)
        if (mask >> lane & 1) {
            out.lanes |= lane << (8 * n);
            out.halves[2 * n] = static_cast<unsigned char>(2 * lane);
            out.halves[2 * n + 1] = static_cast<unsigned char>(2 * lane + 1);
            ++n;
        }
    return out;
}
constexpr PackedLanes kPacked[16] = {
    packedLanes(0),  packedLanes(1),  packedLanes(2),  packedLanes(3),  packedLanes(4),  packedLanes(5),
    packedLanes(6),  packedLanes(7),  packedLanes(8),  packedLanes(9),  packedLanes(10), packedLanes(11),
    packedLanes(12), packedLanes(13), packedLanes(14), packedLanes(15)};

struct Avx2Ops {
    using V = __m256d;
    static constexpr int width = 4;

    SIMD_AVX2 static V set1(double v) { return _mm256_set1_pd(v); }
    SIMD_AVX2 static V load(const double* p) { return _mm256_loadu_pd(p); }
    // Four floats, each converted exactly to a double.
    SIMD_AVX2 static V loadFloats(const float* p) { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    // Lanes 0..n-1 from p, the rest zero, reading nothing past p[n-1].
    SIMD_AVX2 static V loadFirst(const double* p, int n) {
        const __m256i lanes = _mm256_set_epi64x(3, 2, 1, 0);
        return _mm256_maskload_pd(p, _mm256_cmpgt_epi64(_mm256_set1_epi64x(n), lanes));
    }
    SIMD_AVX2 static void store(double* p, V v) { _mm256_storeu_pd(p, v); }
    SIMD_AVX2 static V add(V a, V b) { return _mm256_add_pd(a, b); }
    SIMD_AVX2 static V sub(V a, V b) { return _mm256_sub_pd(a, b); }
    SIMD_AVX2 static V mul(V a, V b) { return _mm256_mul_pd(a, b); }
    SIMD_AVX2 static V div(V a, V b) { return _mm256_div_pd(a, b); }
    SIMD_AVX2 static V sqrt(V a) { return _mm256_sqrt_pd(a); }
    SIMD_AVX2 static unsigned greater(V a, V b) {
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_GT_OQ)));
    }
    SIMD_AVX2 static unsigned less(V a, V b) {
        return static_cast<unsigned>(_mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_LT_OQ)));
    }
    // The lanes whose 32-bit integer p[lane] is below `bound`.
    // The lanes set in mask, in order, to p onwards; p has room for a whole
    // vector. The rows 32-bit integers of those lanes likewise.
    SIMD_AVX2 static void compressStore(double* p, unsigned mask, V v) {
        const __m256i order = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(kPacked[mask].halves)));
        _mm256_storeu_pd(p, _mm256_castps_pd(_mm256_permutevar8x32_ps(_mm256_castpd_ps(v), order)));
    }
    SIMD_AVX2 static void compressRows(std::int32_t* p, unsigned mask, const std::int32_t* rows) {
        const __m128i order = _mm_cvtepu8_epi32(_mm_cvtsi32_si128(kPacked[mask].lanes));
        const __m256i v = _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(rows)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         _mm256_castsi256_si128(_mm256_permutevar8x32_epi32(v, _mm256_castsi128_si256(order))));
    }
    SIMD_AVX2 static unsigned lessIntegers(const std::int32_t* p, std::int32_t bound) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        return static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(_mm_cmplt_epi32(v, _mm_set1_epi32(bound)))));
    }
};

struct Avx512Ops {
    using V = __m512d;
    static constexpr int width = 8;

    SIMD_AVX512 static V set1(double v) { return _mm512_set1_pd(v); }
    SIMD_AVX512 static V load(const double* p) { return _mm512_loadu_pd(p); }
    SIMD_AVX512 static V loadFirst(const double* p, int n) {
        return _mm512_maskz_loadu_pd(static_cast<__mmask8>((1u << n) - 1u), p);
    }
    SIMD_AVX512 static void store(double* p, V v) { _mm512_storeu_pd(p, v); }
    SIMD_AVX512 static V add(V a, V b) { return _mm512_add_pd(a, b); }
    SIMD_AVX512 static V sub(V a, V b) { return _mm512_sub_pd(a, b); }
    SIMD_AVX512 static V mul(V a, V b) { return _mm512_mul_pd(a, b); }
    SIMD_AVX512 static V div(V a, V b) { return _mm512_div_pd(a, b); }
    // The zero-masked form gives the same roots and spares GCC 12 a false
    // uninitialised-value warning from _mm512_sqrt_pd.
    SIMD_AVX512 static V sqrt(V a) { return _mm512_maskz_sqrt_pd(0xFF, a); }
    SIMD_AVX512 static unsigned greater(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_GT_OQ); }
    SIMD_AVX512 static unsigned less(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    SIMD_AVX512 static void compressStore(double* p, unsigned mask, V v) {
        _mm512_storeu_pd(p, _mm512_maskz_compress_pd(static_cast<__mmask8>(mask), v));
    }
    SIMD_AVX512 static void compressRows(std::int32_t* p, unsigned mask, const std::int32_t* rows) {
        const __m512i v = _mm512_maskz_loadu_epi32(0xFF, rows);
        _mm512_mask_storeu_epi32(p, 0xFF, _mm512_maskz_compress_epi32(static_cast<__mmask16>(mask), v));
    }
    // The lanes whose 32-bit integer p[lane] is below `bound`.
    SIMD_AVX512 static unsigned lessIntegers(const std::int32_t* p, std::int32_t bound) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        return static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(_mm256_cmpgt_epi32(_mm256_set1_epi32(bound), v))));
    }
};

// Bits 0..n-1 set: the lanes that hold data in a block of n < width rows.
inline unsigned firstLanes(int n) { return (1u << n) - 1u; }

#ifdef SIMD_TARGET
// Columns 0..3 of the table rows j..j+n-1 (n <= width), zero in the lanes
// past n, read without touching anything past row j+n-1.
template <class Ops>
struct Rows {
    typename Ops::V x, y, z, r;
    unsigned lanes;  // the lanes that hold rows
};

template <class Ops>
SIMD_TARGET Rows<Ops> loadRows(const double* xs, const double* ys, const double* zs, const double* rs,
                               std::int32_t j, int n) {
    if (n == Ops::width)
        return {Ops::load(xs + j), Ops::load(ys + j), Ops::load(zs + j), Ops::load(rs + j),
                firstLanes(Ops::width)};
    return {Ops::loadFirst(xs + j, n), Ops::loadFirst(ys + j, n), Ops::loadFirst(zs + j, n),
            Ops::loadFirst(rs + j, n), firstLanes(n)};
}
#endif

}  // namespace
