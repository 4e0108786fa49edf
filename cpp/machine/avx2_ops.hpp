// What the AVX2 kernels share: 4 lanes of doubles, the few operations they
// are written in, double-double helpers, and the list of lanes a kernel
// leaves to the C library.
//
// Include it only from a kernel's own source file, after checking for
// QUARNEL_AVX2_OPS: everything here is compiled for AVX2 with FMA, and
// runs only on processors that have them (machine::processor_isa()).
#pragma once

#if defined(__x86_64__) && defined(__GNUC__)
#define QUARNEL_AVX2_OPS 1
#include "machine/target.hpp"

#include <immintrin.h>

#include <cstdint>

QUARNEL_TARGET_BEGIN("avx2,fma")

namespace quarnel::avx2 {

using V = __m256d;
using I = __m256i;
struct DD {
    V hi, lo;
};

inline V set(double v) { return _mm256_set1_pd(v); }
inline I set_bits(std::int64_t v) { return _mm256_set1_epi64x(v); }
inline V add(V a, V b) { return _mm256_add_pd(a, b); }
inline V sub(V a, V b) { return _mm256_sub_pd(a, b); }
inline V mul(V a, V b) { return _mm256_mul_pd(a, b); }
inline V fma(V a, V b, V c) { return _mm256_fmadd_pd(a, b, c); }
inline V fms(V a, V b, V c) { return _mm256_fmsub_pd(a, b, c); }   // a b - c
inline V fnma(V a, V b, V c) { return _mm256_fnmadd_pd(a, b, c); }  // c - a b
inline V neg(V a) { return _mm256_xor_pd(a, set(-0.0)); }
inline V abs(V a) { return _mm256_andnot_pd(set(-0.0), a); }
// Lanes of `mask` (all ones or all zeros) from `b`, the others from `a`.
inline V blend(V mask, V a, V b) { return _mm256_blendv_pd(a, b, mask); }
inline V as_mask(I m) { return _mm256_castsi256_pd(m); }
// Ordered, quiet comparisons: a NaN lane compares false and raises no flag.
inline V less(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
inline V less_equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_LE_OQ); }
inline V greater_equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_GE_OQ); }
inline V equal(V a, V b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
inline int lanes_of(V mask) { return _mm256_movemask_pd(mask); }

// a + b = hi + lo exactly.
inline DD two_sum(V a, V b) {
    const V s = add(a, b);
    const V bb = sub(s, a);
    return {s, add(sub(a, sub(s, bb)), sub(b, bb))};
}
// The same where |a| >= |b| (or a is zero).
inline DD fast_two_sum(V a, V b) {
    const V s = add(a, b);
    return {s, sub(b, sub(s, a))};
}
// a b = hi + lo exactly (barring underflow).
inline DD two_prod(V a, V b) {
    const V p = mul(a, b);
    return {p, fms(a, b, p)};
}

// Adding it to an integer below 2^51 in magnitude leaves the integer, in
// two's complement, in the low bits of the sum.
inline constexpr double integer_shift = 0x1.8p52;

// Whether hi + lo (normalised, hi normal) rounds to hi with room to spare:
// |lo| below (0.5 - margin) of the ulp of hi, or, where hi is a power of
// two and lo negative, of the half as large ulp under it. One fused
// multiply-add tells: hi + lo * 0.5 / (0.5 - margin) rounds to hi.
inline V rounds_to_hi(DD v, double margin) {
    return equal(fma(v.lo, set(0.5 / (0.5 - margin)), v.hi), v.hi);
}

// The lanes set in a 4-bit mask, in order, as 32-bit indices.
struct Compress {
    alignas(16) std::int32_t lanes[16][4];
};
constexpr Compress make_compress() {
    Compress c{};
    for (int m = 0; m < 16; ++m)
        for (int l = 0, n = 0; l < 4; ++l)
            if (m >> l & 1) c.lanes[m][n++] = l;
    return c;
}
alignas(16) inline constexpr Compress compress = make_compress();

// Appends the lanes set in `defer` of the vector at offset `j` to `list`
// (room for 4 more entries), without a branch; returns the new count.
[[gnu::always_inline]] inline int note(int defer, std::int32_t j, std::int32_t* list, int count) {
    const __m128i lanes = _mm_load_si128(reinterpret_cast<const __m128i*>(compress.lanes[defer]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(list + count), _mm_add_epi32(lanes, _mm_set1_epi32(j)));
    return count + __builtin_popcount(unsigned(defer));
}

}  // namespace quarnel::avx2

QUARNEL_TARGET_END

#endif
