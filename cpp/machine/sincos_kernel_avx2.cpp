// The sine and cosine kernel for AVX2 with FMA: 4 lanes, the method of the
// AVX-512 kernel in sincos_kernel.cpp step for step (the same reduction,
// table, series and rounding test, so the same doubles in every lane), with
// what AVX2 lacks built from integer operations on the bits: the quadrant
// and the table index, the unit in the last place, the test for a power of
// two. The table is read a row per lane (sin and cos of one grid point,
// both as double-doubles, in 32 bytes) and transposed, which is cheaper
// than four gathers on every processor with AVX2.
#include "machine/sincos_kernel.hpp"

#include "machine/avx2_ops.hpp"
#include "machine/sincos_table.hpp"

#include <cstdint>

namespace quarnel::sincos_kernel::detail {

#if QUARNEL_AVX2_OPS
namespace {

QUARNEL_TARGET_BEGIN("avx2,fma")

using namespace quarnel::avx2;

// The constants of the AVX-512 kernel.
constexpr double pio2_1 = 0x1.921fb54442d18p+0, pio2_2 = 0x1.1a62633145c07p-54,
                 pio2_3 = -0x1.f1976b7ed8fbcp-110;
constexpr double two_over_pi = 0x1.45f306dc9c883p-1;
constexpr double s3 = -1.0 / 6, s5 = 1.0 / 120, s7 = -1.0 / 5040, s9 = 1.0 / 362880;
constexpr double c2 = -0.5, c4 = 1.0 / 24, c6 = -1.0 / 720, c8 = 1.0 / 40320;

// Row i: sin_hi, sin_lo, cos_hi, cos_lo of entry i of sincos_table.
struct Rows {
    alignas(32) double v[32][4];
};
constexpr Rows make_rows() {
    Rows r{};
    for (int i = 0; i < 32; ++i) {
        r.v[i][0] = sincos_table::sin_hi[i], r.v[i][1] = sincos_table::sin_lo[i];
        r.v[i][2] = sincos_table::cos_hi[i], r.v[i][3] = sincos_table::cos_lo[i];
    }
    return r;
}
alignas(32) constexpr Rows rows = make_rows();

// Rounds a normalised double-double to `out` where that is safe; returns
// the lanes where it is not, as bits 0 .. 3. The unit in the last place of
// a normal hi is 2^-52 times hi with its significand cleared.
inline int round_or_defer(DD v, double* out) {
    _mm256_storeu_pd(out, v.hi);
    const I bits = _mm256_castpd_si256(v.hi);
    const V power = as_mask(_mm256_and_si256(bits, set_bits(0x7ff0000000000000)));
    const V limit = mul(power, set(0x1p-52 * (0.5 - margin)));
    const V near = _mm256_cmp_pd(abs(v.lo), limit, _CMP_GE_OQ);
    const V power_of_two =
        as_mask(_mm256_cmpeq_epi64(_mm256_and_si256(bits, set_bits(0x000fffffffffffff)), _mm256_setzero_si256()));
    return _mm256_movemask_pd(_mm256_or_pd(near, power_of_two));
}

// As in the AVX-512 kernel: x = k pi/2 + a + b, a = i/16 from the table.
struct Reduced {
    V k;
    int out_of_range;  // lanes, as bits 0 .. 3
    V sa_hi, sa_lo, ca_hi, ca_lo, b, sb, cb;
};

[[gnu::always_inline]] inline Reduced reduce(V xv) {
    Reduced out;
    const V ax = abs(xv);
    const V in_range = _mm256_and_pd(_mm256_cmp_pd(ax, set(0x1p-26), _CMP_GE_OQ),
                                     _mm256_cmp_pd(ax, set(0x1p20), _CMP_LE_OQ));
    out.out_of_range = ~_mm256_movemask_pd(in_range) & 0xf;
    const V a = blend(in_range, set(0.5), xv);

    const V k = _mm256_round_pd(mul(a, set(two_over_pi)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    out.k = k;
    const DD p1 = two_prod(k, set(pio2_1));
    const DD t = two_sum(a, neg(p1.hi));
    const DD u = two_sum(t.hi, neg(p1.lo));
    const DD p2 = two_prod(k, set(pio2_2));
    const DD w = two_sum(u.hi, neg(p2.hi));
    V low = add(t.lo, u.lo);
    low = add(low, w.lo);
    low = sub(low, p2.lo);
    low = sub(low, mul(k, set(pio2_3)));
    const DD r = fast_two_sum(w.hi, low);

    using sincos_table::half, sincos_table::step;
    const V i = _mm256_round_pd(mul(r.hi, set(step)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    // i + half is a small non-negative integer: exact in 32 bits.
    const __m128i index = _mm256_cvtpd_epi32(add(i, set(double(half))));
    const V r0 = _mm256_load_pd(rows.v[_mm_cvtsi128_si32(index)]);
    const V r1 = _mm256_load_pd(rows.v[_mm_extract_epi32(index, 1)]);
    const V r2 = _mm256_load_pd(rows.v[_mm_extract_epi32(index, 2)]);
    const V r3 = _mm256_load_pd(rows.v[_mm_extract_epi32(index, 3)]);
    const V t0 = _mm256_unpacklo_pd(r0, r1), t1 = _mm256_unpackhi_pd(r0, r1);  // sh ch, sl cl of lanes 0 1
    const V t2 = _mm256_unpacklo_pd(r2, r3), t3 = _mm256_unpackhi_pd(r2, r3);  // of lanes 2 3
    out.sa_hi = _mm256_permute2f128_pd(t0, t2, 0x20), out.ca_hi = _mm256_permute2f128_pd(t0, t2, 0x31);
    out.sa_lo = _mm256_permute2f128_pd(t1, t3, 0x20), out.ca_lo = _mm256_permute2f128_pd(t1, t3, 0x31);
    const V b = sub(r.hi, mul(i, set(1.0 / step)));
    const V b2 = mul(b, b);
    out.b = b;

    const V ps = fma(b2, fma(b2, fma(b2, set(s9), set(s7)), set(s5)), set(s3));
    out.sb = fma(mul(b, b2), ps, r.lo);
    const V pc = fma(b2, fma(b2, fma(b2, set(c8), set(c6)), set(c4)), set(c2));
    out.cb = fma(b2, pc, neg(mul(b, r.lo)));
    return out;
}

[[gnu::always_inline]] inline DD combine(const Reduced& v, V p_hi, V p_lo, V q_hi, V q_lo) {
    const DD pr = two_prod(q_hi, v.b);
    const DD t = two_sum(p_hi, pr.hi);
    V low = add(fma(q_hi, v.sb, mul(p_hi, v.cb)), fma(q_lo, v.b, p_lo));
    low = add(add(low, pr.lo), t.lo);
    return fast_two_sum(t.hi, low);
}

inline DD negate_where(V mask, DD v) {
    const V sign = _mm256_and_pd(mask, set(-0.0));
    return {_mm256_xor_pd(v.hi, sign), _mm256_xor_pd(v.lo, sign)};
}

template <bool want_sin, bool want_cos>
[[gnu::always_inline]] inline void finish(const Reduced& v, const double* x, double* s, double* c) {
    const I q = _mm256_and_si256(_mm256_castpd_si256(add(v.k, set(integer_shift))), set_bits(3));
    const V odd = as_mask(_mm256_cmpeq_epi64(_mm256_and_si256(q, set_bits(1)), set_bits(1)));
    const V sin_negative = as_mask(_mm256_cmpeq_epi64(_mm256_and_si256(q, set_bits(2)), set_bits(2)));
    const V cos_negative = as_mask(_mm256_or_si256(_mm256_cmpeq_epi64(q, set_bits(1)), _mm256_cmpeq_epi64(q, set_bits(2))));
    const V msa_hi = neg(v.sa_hi), msa_lo = neg(v.sa_lo);
    int defer = v.out_of_range;
    if (want_sin && want_cos) {
        const DD sr = combine(v, v.sa_hi, v.sa_lo, v.ca_hi, v.ca_lo);
        const DD cr = combine(v, v.ca_hi, v.ca_lo, msa_hi, msa_lo);
        const DD sx{blend(odd, sr.hi, cr.hi), blend(odd, sr.lo, cr.lo)};
        const DD cx{blend(odd, cr.hi, sr.hi), blend(odd, cr.lo, sr.lo)};
        defer |= round_or_defer(negate_where(sin_negative, sx), s);
        defer |= round_or_defer(negate_where(cos_negative, cx), c);
    } else {
        const V cos_r = want_sin ? odd : _mm256_xor_pd(odd, as_mask(set_bits(-1)));
        const DD r = combine(v, blend(cos_r, v.sa_hi, v.ca_hi), blend(cos_r, v.sa_lo, v.ca_lo),
                             blend(cos_r, v.ca_hi, msa_hi), blend(cos_r, v.ca_lo, msa_lo));
        defer |= round_or_defer(negate_where(want_sin ? sin_negative : cos_negative, r), want_sin ? s : c);
    }
    for (unsigned m = unsigned(defer); m; m &= m - 1) {
        const int i = __builtin_ctz(m);
        libm(x + i, 1, want_sin ? s + i : nullptr, want_cos ? c + i : nullptr);
    }
}

template <bool want_sin, bool want_cos>
void kernel(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept {
    std::ptrdiff_t j = 0;
    for (; j + 8 <= n; j += 8) {
        const Reduced a = reduce(_mm256_loadu_pd(x + j));
        const Reduced b = reduce(_mm256_loadu_pd(x + j + 4));
        finish<want_sin, want_cos>(a, x + j, s + j, c + j);
        finish<want_sin, want_cos>(b, x + j + 4, s + j + 4, c + j + 4);
    }
    for (; j + 4 <= n; j += 4)
        finish<want_sin, want_cos>(reduce(_mm256_loadu_pd(x + j)), x + j, s + j, c + j);
    libm(x + j, n - j, want_sin ? s + j : nullptr, want_cos ? c + j : nullptr);
}

QUARNEL_TARGET_END

}  // namespace

void sin_cos_avx2(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept {
    if (s && c) return kernel<true, true>(x, n, s, c);
    if (s) return kernel<true, false>(x, n, s, c);
    if (c) return kernel<false, true>(x, n, s, c);
}

#else

void sin_cos_avx2(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept { libm(x, n, s, c); }

#endif

}  // namespace quarnel::sincos_kernel::detail
