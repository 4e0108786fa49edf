// The exponential kernel for AVX2 with FMA, 4 lanes (see exp_kernel.hpp);
// its steps are in exp_avx2.hpp, which the pow kernel shares.
//
// x = m ln 2 + i ln 2 / 64 + r, with k = 64 m + i the nearest integer to
// x * 64 / ln 2 (|k| < 2^16) and |r| <= ln 2 / 128 < 2^-7.5, so that
// exp(x) = 2^m * 2^(i/64) * exp(r):
//
// * r = r_hi + r_lo = x - k ln2/64 within 2^-80: ln 2 / 64 = l1 + l2 (+ a
//   remainder below 2^-99), l1 with 36 significant bits, so t = x - k l1 is
//   exact; r_hi = t - k l2 rounded, and r_lo the rounding error, exact
//   where r_hi is within a factor 2 of t (Sterbenz), and below 2^-80
//   otherwise (then |t| < 2^-27).
// * exp(r) - 1 = r_hi + q, q = r_lo + r_hi r_lo + r_hi^2 P(r_hi), P the
//   Taylor series 1/2 + r/6 + ... + r^4/720; the terms left out are below
//   2^-65, and q (< 2^-15.9) is rounded to within 2^-67.
// * 2^(i/64) = s_hi + s_lo from a table (to 2^-106), and exp(x) / 2^m =
//   s_hi + s_hi r_hi + (s_hi q + s_lo (1 + r_hi)), the product s_hi r_hi
//   exact, the sums as double-doubles.
//
// The result, hi + lo in [0.99, 2.02), is within 2^-64 of exp(x) / 2^m, a
// thousandth of an ulp. It is rounded (hi) unless |lo| lies within `margin`
// ulp of half an ulp (of the ulp below hi, where hi is a power of two and lo
// negative): one fused multiply-add tells. Then it is scaled by 2^m,
// exactly, as the range keeps the result normal. The lanes left to the C
// library are listed and computed after each stretch of vectors, so the
// loop has no branch that depends on the data. No operation on a lane in
// range raises a flag other than inexact (no intermediate comes near the
// subnormal range); lanes out of range are replaced by 1.0 before any
// arithmetic.
#include "machine/exp_kernel.hpp"

#include "machine/exp_avx2.hpp"

#include <cstdint>

namespace quarnel::exp_kernel::detail {

#if QUARNEL_AVX2_OPS
namespace {

QUARNEL_TARGET_BEGIN("avx2,fma")

using namespace quarnel::avx2;

struct Result {
    V hi, lo;   // exp(x) / 2^m
    V scale;    // 2^m
    int defer;  // lanes for the C library, as bits 0 .. 3
};

[[gnu::always_inline]] inline Result evaluate(V xv) {
    Result out;
    const V ax = abs(xv);
    const V in_range = _mm256_and_pd(_mm256_cmp_pd(ax, set(smallest), _CMP_GE_OQ),
                                     _mm256_cmp_pd(ax, set(largest), _CMP_LE_OQ));
    const V x = _mm256_blendv_pd(set(1.0), xv, in_range);

    const exp_steps::Exp e = exp_steps::exp_of<false>(x, x);
    out.hi = e.hi;
    out.lo = e.lo;
    out.scale = e.scale;

    const V safe = rounds_to_hi({out.hi, out.lo}, margin);
    out.defer = ~_mm256_movemask_pd(_mm256_and_pd(in_range, safe)) & 0xf;
    return out;
}

void kernel(const double* x, std::ptrdiff_t n, double* out) noexcept {
    // Stretches of up to 256 values: the offsets of their deferred lanes
    // are listed and computed at the end of the stretch. When `out` is `x`
    // the stretch's arguments are kept aside first.
    constexpr int stretch = 256;
    std::int32_t list[stretch + 4];
    double kept[stretch];
    for (std::ptrdiff_t start = 0; start < n; start += stretch) {
        const int m = n - start < stretch ? int(n - start) : stretch;
        const double* in = x + start;
        double* o = out + start;
        if (in == o) in = static_cast<const double*>(__builtin_memcpy(kept, in, sizeof(double) * m));
        int j = 0, count = 0;
        // Two vectors at a time: their independent chains fill the pipelines.
        for (; j + 8 <= m; j += 8) {
            const Result a = evaluate(_mm256_loadu_pd(in + j));
            const Result b = evaluate(_mm256_loadu_pd(in + j + 4));
            count = note(a.defer, j, list, count);
            count = note(b.defer, j + 4, list, count);
            _mm256_storeu_pd(o + j, mul(a.hi, a.scale));
            _mm256_storeu_pd(o + j + 4, mul(b.hi, b.scale));
        }
        for (; j + 4 <= m; j += 4) {
            const Result a = evaluate(_mm256_loadu_pd(in + j));
            count = note(a.defer, j, list, count);
            _mm256_storeu_pd(o + j, mul(a.hi, a.scale));
        }
        for (; j < m; ++j) list[count++] = j;
        for (int c = 0; c < count; ++c) o[list[c]] = ::exp(in[list[c]]);
    }
}

void parts(const double* x, std::ptrdiff_t n, double* rounded, double* hi, double* lo) noexcept {
    for (std::ptrdiff_t j = 0; j + 4 <= n; j += 4) {
        const Result r = evaluate(_mm256_loadu_pd(x + j));
        _mm256_storeu_pd(rounded + j, mul(r.hi, r.scale));
        _mm256_storeu_pd(hi + j, r.hi);
        _mm256_storeu_pd(lo + j, r.lo);
    }
}

QUARNEL_TARGET_END

}  // namespace

void exp_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept { kernel(x, n, out); }
void exp_parts_avx2(const double* x, std::ptrdiff_t n, double* rounded, double* hi, double* lo) noexcept {
    parts(x, n, rounded, hi, lo);
}

#else

void exp_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept { libm(x, n, out); }
void exp_parts_avx2(const double*, std::ptrdiff_t, double*, double*, double*) noexcept {}

#endif

}  // namespace quarnel::exp_kernel::detail
