#include "machine/sincos_kernel.hpp"

#include "machine/libm_sincos.hpp"
#include "machine/sincos_table.hpp"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__x86_64__) && defined(__GNUC__)
#define QUARNEL_SINCOS_AVX512 1
#include <immintrin.h>

#include "machine/target.hpp"
#endif

namespace quarnel::sincos_kernel {
namespace {

using detail::libm;
using machine::Isa;

#if QUARNEL_SINCOS_AVX512
QUARNEL_TARGET_BEGIN("avx512f,avx512dq,fma")

using V = __m512d;
// Every lane: the unmasked forms of some intrinsics start from an undefined
// vector, which GCC 12 warns about.
constexpr __mmask8 all = 0xff;
struct DD {
    V hi, lo;
};

inline V set(double v) { return _mm512_set1_pd(v); }
inline V add(V a, V b) { return _mm512_add_pd(a, b); }
inline V sub(V a, V b) { return _mm512_sub_pd(a, b); }
inline V mul(V a, V b) { return _mm512_mul_pd(a, b); }
inline V fma(V a, V b, V c) { return _mm512_fmadd_pd(a, b, c); }
inline V neg(V a) { return _mm512_xor_pd(a, set(-0.0)); }

// Error-free transformations: a + b = s + e and a * b = p + e exactly.
inline DD two_sum(V a, V b) {
    const V s = add(a, b);
    const V bb = sub(s, a);
    return {s, add(sub(a, sub(s, bb)), sub(b, bb))};
}
inline DD fast_two_sum(V a, V b) {  // |a| >= |b|
    const V s = add(a, b);
    return {s, sub(b, sub(s, a))};
}
inline DD two_prod(V a, V b) {
    const V p = mul(a, b);
    return {p, _mm512_fmsub_pd(a, b, p)};
}

// pi/2 to 159 bits (three parts) and 2/pi.
constexpr double pio2_1 = 0x1.921fb54442d18p+0, pio2_2 = 0x1.1a62633145c07p-54,
                 pio2_3 = -0x1.f1976b7ed8fbcp-110;
constexpr double two_over_pi = 0x1.45f306dc9c883p-1;

// Taylor coefficients of sin b and cos b for |b| <= 1/32, where the terms
// left out are below 2^-70 of the result.
constexpr double s3 = -1.0 / 6, s5 = 1.0 / 120, s7 = -1.0 / 5040, s9 = 1.0 / 362880;
constexpr double c2 = -0.5, c4 = 1.0 / 24, c6 = -1.0 / 720, c8 = 1.0 / 40320;

// Entry `index` (0 .. 31) of a 32-entry table, from four vectors by
// permutation.
inline V look_up(const double* table, __m512i index) {
    const V low = _mm512_permutex2var_pd(_mm512_load_pd(table), index, _mm512_load_pd(table + 8));
    const V high = _mm512_permutex2var_pd(_mm512_load_pd(table + 16), index, _mm512_load_pd(table + 24));
    return _mm512_mask_blend_pd(_mm512_test_epi64_mask(index, _mm512_set1_epi64(16)), low, high);
}

// Rounds a normalised double-double to `out` where that is safe; the lanes
// where it is not are set in the returned mask.
inline __mmask8 round_or_defer(DD v, double* out) {
    _mm512_storeu_pd(out, v.hi);
    const V ulp = _mm512_maskz_scalef_pd(all, set(1.0), sub(_mm512_maskz_getexp_pd(all, v.hi), set(52.0)));
    const V limit = mul(ulp, set(0.5 - detail::margin));
    const V mant = _mm512_maskz_getmant_pd(all, v.hi, _MM_MANT_NORM_1_2, _MM_MANT_SIGN_zero);
    const __mmask8 near = _mm512_cmp_pd_mask(_mm512_abs_pd(v.lo), limit, _CMP_GE_OQ);
    const __mmask8 power_of_two = _mm512_cmp_pd_mask(mant, set(1.0), _CMP_EQ_OQ);
    return near | power_of_two;
}

// Sine and cosine of the reduced angle of each lane, as double-doubles,
// with the quadrant k and the lanes the reduction covers.
// Each lane's angle as x = k pi/2 + a + b, with a = i/16 from the table
// (sin a and cos a as double-doubles), |b| <= 1/32, sin b = b + sb and
// cos b = 1 + cb.
struct Reduced {
    V k;
    __mmask8 in_range;
    V sa_hi, sa_lo, ca_hi, ca_lo, b, sb, cb;
};

[[gnu::always_inline]] inline Reduced reduce(V xv) {
    Reduced out;
    // Angles from 2^-26 to 2^20 rad; others (tiny, huge, infinite, NaN)
    // go to the C library and are replaced here by a harmless angle.
    const V ax = _mm512_abs_pd(xv);
    out.in_range = _mm512_cmp_pd_mask(ax, set(0x1p-26), _CMP_GE_OQ) &
                   _mm512_cmp_pd_mask(ax, set(0x1p20), _CMP_LE_OQ);
    const V a = _mm512_mask_blend_pd(out.in_range, set(0.5), xv);

    // r = a - k pi/2, exactly as a double-double up to pi/2's 159 bits.
    const V k = _mm512_maskz_roundscale_pd(all, mul(a, set(two_over_pi)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
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

    // r = a + b (b exact: a is a multiple of r's last place and b smaller
    // than r).
    using namespace sincos_table;
    const V i = _mm512_maskz_roundscale_pd(all, mul(r.hi, set(step)), _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m512i index = _mm512_add_epi64(_mm512_cvtpd_epi64(i), _mm512_set1_epi64(half));
    out.sa_hi = look_up(sin_hi, index), out.sa_lo = look_up(sin_lo, index);
    out.ca_hi = look_up(cos_hi, index), out.ca_lo = look_up(cos_lo, index);
    const V b = sub(r.hi, mul(i, set(1.0 / step)));
    const V b2 = mul(b, b);
    out.b = b;

    // sb and cb as doubles; r.lo enters both (cos b: 1 - (b + r.lo)^2 / 2 ...).
    const V ps = fma(b2, fma(b2, fma(b2, set(s9), set(s7)), set(s5)), set(s3));
    out.sb = fma(mul(b, b2), ps, r.lo);
    const V pc = fma(b2, fma(b2, fma(b2, set(c8), set(c6)), set(c4)), set(c2));
    out.cb = fma(b2, pc, neg(mul(b, r.lo)));
    return out;
}

// p (1 + cb) + q (b + sb), the large product exact: sin r with p = sin a,
// q = cos a, and cos r with p = cos a, q = -sin a.
[[gnu::always_inline]] inline DD combine(const Reduced& v, V p_hi, V p_lo, V q_hi, V q_lo) {
    const DD pr = two_prod(q_hi, v.b);
    const DD t = two_sum(p_hi, pr.hi);
    V low = add(fma(q_hi, v.sb, mul(p_hi, v.cb)), fma(q_lo, v.b, p_lo));
    low = add(add(low, pr.lo), t.lo);
    return fast_two_sum(t.hi, low);
}

inline DD negate_where(__mmask8 m, DD v) {
    return {_mm512_mask_xor_pd(v.hi, m, v.hi, set(-0.0)), _mm512_mask_xor_pd(v.lo, m, v.lo, set(-0.0))};
}

// Quadrant q = k mod 4: sin x = sin r, cos r, -sin r, -cos r and
// cos x = cos r, -sin r, -cos r, sin r. Writes the lanes it can round and
// sends the others to the C library.
template <bool want_sin, bool want_cos>
[[gnu::always_inline]] inline void finish(const Reduced& v, const double* x, double* s, double* c) {
    const __m512i q = _mm512_and_si512(_mm512_cvtpd_epi64(v.k), _mm512_set1_epi64(3));
    const __mmask8 odd = _mm512_test_epi64_mask(q, _mm512_set1_epi64(1));
    const __mmask8 sin_negative = _mm512_test_epi64_mask(q, _mm512_set1_epi64(2));
    const __mmask8 cos_negative = _mm512_cmpeq_epi64_mask(q, _mm512_set1_epi64(1)) |
                                  _mm512_cmpeq_epi64_mask(q, _mm512_set1_epi64(2));
    const V msa_hi = neg(v.sa_hi), msa_lo = neg(v.sa_lo);
    __mmask8 defer = __mmask8(~v.in_range);
    if (want_sin && want_cos) {
        const DD sr = combine(v, v.sa_hi, v.sa_lo, v.ca_hi, v.ca_lo);
        const DD cr = combine(v, v.ca_hi, v.ca_lo, msa_hi, msa_lo);
        const DD sx{_mm512_mask_blend_pd(odd, sr.hi, cr.hi), _mm512_mask_blend_pd(odd, sr.lo, cr.lo)};
        const DD cx{_mm512_mask_blend_pd(odd, cr.hi, sr.hi), _mm512_mask_blend_pd(odd, cr.lo, sr.lo)};
        defer |= round_or_defer(negate_where(sin_negative, sx), s);
        defer |= round_or_defer(negate_where(cos_negative, cx), c);
    } else {
        // One result: each lane needs only the series its quadrant asks for.
        const __mmask8 cos_r = want_sin ? odd : __mmask8(~odd);
        const DD r = combine(v, _mm512_mask_blend_pd(cos_r, v.sa_hi, v.ca_hi),
                             _mm512_mask_blend_pd(cos_r, v.sa_lo, v.ca_lo),
                             _mm512_mask_blend_pd(cos_r, v.ca_hi, msa_hi),
                             _mm512_mask_blend_pd(cos_r, v.ca_lo, msa_lo));
        defer |= round_or_defer(negate_where(want_sin ? sin_negative : cos_negative, r), want_sin ? s : c);
    }
    for (unsigned m = defer; m; m &= m - 1) {
        const int i = __builtin_ctz(m);
        libm(x + i, 1, want_sin ? s + i : nullptr, want_cos ? c + i : nullptr);
    }
}

template <bool want_sin, bool want_cos>
void kernel(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept {
    std::ptrdiff_t j = 0;
    // Two vectors at a time: their independent chains fill the pipelines.
    for (; j + 16 <= n; j += 16) {
        const Reduced a = reduce(_mm512_loadu_pd(x + j));
        const Reduced b = reduce(_mm512_loadu_pd(x + j + 8));
        finish<want_sin, want_cos>(a, x + j, s + j, c + j);
        finish<want_sin, want_cos>(b, x + j + 8, s + j + 8, c + j + 8);
    }
    for (; j + 8 <= n; j += 8)
        finish<want_sin, want_cos>(reduce(_mm512_loadu_pd(x + j)), x + j, s + j, c + j);
    libm(x + j, n - j, want_sin ? s + j : nullptr, want_cos ? c + j : nullptr);
}

QUARNEL_TARGET_END
#endif

using Kernel = void (*)(const double*, std::ptrdiff_t, double*, double*) noexcept;

void avx512(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept {
#if QUARNEL_SINCOS_AVX512
    if (s && c) return kernel<true, true>(x, n, s, c);
    if (s) return kernel<true, false>(x, n, s, c);
    if (c) return kernel<false, true>(x, n, s, c);
#else
    libm(x, n, s, c);
#endif
}

Kernel kernel_of(Isa level) noexcept {
    switch (level) {
        case Isa::avx512: return avx512;
        case Isa::avx2: return detail::sin_cos_avx2;
        default: return libm;
    }
}

// Read by evaluating threads without the GIL: the kernel in use, or null.
std::atomic<Kernel> chosen{nullptr};
Isa chosen_level = Isa::baseline;

// Whether `kernel` gives the C library's bits over angles of the whole
// reduction range and around multiples of pi/2, where the reduction cancels
// most.
bool agrees(Kernel kernel) noexcept {
    constexpr int n = 4096;
    static double in[n], s[n], c[n];
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < n; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = double(state >> 11) * 0x1.0p-53;
        if (i % 4 == 3) in[i] = std::nearbyint((unit - 0.5) * 1e6) * 1.5707963267948966 + (unit - 0.5) * 1e-9;
        else in[i] = (unit - 0.5) * std::ldexp(1.0, int(state % 50) - 28);
    }
    kernel(in, n, s, c);
    for (int i = 0; i < n; ++i) {
        double ls, lc;
        libm_sincos(in[i], &ls, &lc);
        if (std::memcmp(&ls, &s[i], sizeof(double)) != 0 || std::memcmp(&lc, &c[i], sizeof(double)) != 0)
            return false;
    }
    return true;
}

}  // namespace

bool supported(Isa level) noexcept {
    if (level == Isa::baseline || machine::processor_isa() < level) return false;
#if QUARNEL_SINCOS_AVX512
    return true;
#else
    return false;
#endif
}

void sin_cos_unchecked(Isa level, const double* x, std::ptrdiff_t n, double* s, double* c) noexcept {
    kernel_of(level)(x, n, s, c);
}

void sin_cos(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept {
    if (const Kernel k = chosen.load(std::memory_order_relaxed)) k(x, n, s, c);
    else libm(x, n, s, c);
}

bool ready() noexcept { return chosen.load(std::memory_order_relaxed) != nullptr; }

Isa level() noexcept { return chosen_level; }

void decide() noexcept {
    static bool decided = false;  // once per process: the answer cannot change
    if (decided) return;
    decided = true;
    // The best kernel the cap allows that agrees with the C library.
    for (Isa l : {Isa::avx512, Isa::avx2}) {
        if (l > machine::isa() || !supported(l) || !agrees(kernel_of(l))) continue;
        chosen_level = l;
        chosen.store(kernel_of(l), std::memory_order_relaxed);
        return;
    }
}

}  // namespace quarnel::sincos_kernel
