// The pow kernel for AVX2 with FMA, 4 lanes (see pow_kernel.hpp):
// x ** y = exp(y ln x), ln x to about 2^-76 relative, the exponential by the
// exp kernel's steps (exp_avx2.hpp).
//
// ln x. x = 2^k m with m in [0.706, 1.412), in one of 256 cells of
// pow_table.hpp; the cell's `inv` is near 1/m (1 for the cell around 1,
// [1 - 2^-10, 1 + 2^-9)), and ln x = k ln 2 - ln inv + log1p(h + l):
//
// * h + l = m inv - 1 exactly: p = m inv and its error p_lo exactly, p - 1
//   exact (p is within 2^-8 of 1), and h + l the sum, |l| <= 2^-62. |h|
//   <= 2^-9 (the table's cells are that narrow about inv).
// * log1p(h) = h - h^2/2 + h^3/3 + h^4 W(h), W the series -1/4 + h/5 -
//   ... + h^5/9; the terms left out are below 2^-93. h^2 = a_hi + a_lo
//   exactly; h^3/3 as a double-double from h * (1/3 in two parts) and a;
//   h^4 W in doubles (below 2^-38, so within 2^-90). h, -a_hi/2 and the
//   cubic's high part are summed without error (each below the one before
//   by 2^-9 at least), the small parts into `low`.
// * log1p(h + l) - log1p(h) = l (1 - h + h^2) within 2^-89.
// * k ln 2 - ln inv: ln 2 and -ln inv in parts, the high ones multiples of
//   2^-42, so that k ln2_hi + log_hi (|k| <= 1024) is exact; the low parts
//   (below 2^-33) add to `low`, with errors below 2^-86 (2^-97 where k = 0).
// * The sum: the exact high part and the leading log1p terms without error
//   (the high part is 0 or the larger in magnitude, as gen_pow_table.py
//   checks), the small parts added, renormalised into L = L_hi + L_lo.
//
// The error of L: for the cell around 1 (k = 0, inv = 1; all of ln x is
// log1p(h) there, however small) below 2^-80 relative, every error being
// a small power of h times h; elsewhere ln x is at least 2^-10 (the
// neighbouring cells) or 0.34 (k != 0) in magnitude and the errors are
// below 2^-87 and 2^-83 absolute. So within 2^-76 relative throughout.
//
// z = y L as a double-double: z_hi = y L_hi, z_lo = y L_lo + (y L_hi -
// z_hi) within 2^-95 |z|. Its error from L's is |z| 2^-76 <= 2^-66.5 where
// |z| <= 708. exp(z_hi + z_lo) as in the exp kernel, within 2^-64 relative
// (exp_kernel_avx2.cpp), z_lo entering its series beside the reduction's
// own low part (exp_avx2.hpp: what that leaves out is below 2^-76). In all,
// hi + lo within 2^-63.5 of x ** y / 2^m: below 1/1400 of an ulp.
//
// Each stretch of values goes through three passes over buffers: the
// reduction of x, y ln x, its exponential. One pass for all makes a chain
// of dependent operations too long for the processor to keep more than one
// or two vectors in flight; split, it runs about twice as fast.
//
// Rounding and deferral as in the exp kernel: hi unless |lo| lies within
// `margin` ulp of half an ulp; the lanes left to the C library are listed
// and computed after each stretch of vectors. Arguments out of range are
// told from their bits; before any arithmetic their m is replaced by 1
// (their k and cell are whatever integers the bits give, so |h| < 0.42)
// and their y by 0, so that y L is 0; lanes with y L out of range get 1
// before the exponential. So no operation raises a flag other than
// inexact: there is no NaN or infinity among the operands, and every
// nonzero intermediate value is above 2^-300 in magnitude (the smallest,
// h^4 / 4 times y with h >= 2^-53 and |y| >= 2^-64) and below 2^80.
#include "machine/pow_kernel.hpp"

#include "machine/exp_avx2.hpp"
#include "machine/pow_table.hpp"

#include <cstdint>

namespace quarnel::pow_kernel::detail {

#if QUARNEL_AVX2_OPS
namespace {

QUARNEL_TARGET_BEGIN("avx2,fma")

using namespace quarnel::avx2;
namespace table = quarnel::pow_table;

// 1/3 = third_hi + third_lo.
constexpr double third_hi = 0x1.5555555555555p-2, third_lo = 0x1.5555555555555p-56;

inline I bits(V v) { return _mm256_castpd_si256(v); }
inline V value(I b) { return _mm256_castsi256_pd(b); }
inline I greater(I a, I b) { return _mm256_cmpgt_epi64(a, b); }  // signed
inline I both(I a, I b) { return _mm256_and_si256(a, b); }
inline I bits_of(std::uint64_t v) { return set_bits(std::int64_t(v)); }

// x = 2^k m reduced: h + l = m inv - 1, t_hi + t_lo = k ln 2 - ln inv, and
// y, 0 where the arguments are out of range.
struct Reduced {
    V h, l, t_hi, t_lo, y;
};

// y ln x as a double-double; 0 where the arguments are out of range.
struct Z {
    V hi, lo;
};

struct Result {
    V hi, lo;   // x ** y / 2^m
    V scale;    // 2^m
    int defer;  // lanes for the C library, as bits 0 .. 3
};

[[gnu::always_inline]] inline Reduced reduce(V xv, V yv) {
    // The range by the bits, as integers: no comparison sees a NaN.
    const I bx = bits(xv);
    const I by = _mm256_andnot_si256(bits_of(std::uint64_t(1) << 63), bits(yv));
    const V ok = value(both(both(greater(bx, bits_of(x_low - 1)), greater(bits_of(x_end), bx)),
                            both(greater(by, bits_of(y_low - 1)), greater(bits_of(y_high + 1), by))));
    // A y of 0 makes y ln x 0, out of the exponential's range.
    const V y = _mm256_and_pd(ok, yv);

    // x = 2^k m: with the offset subtracted, the bits above the significand
    // hold k (plus 1024, to keep them positive) and its top 8 bits the cell.
    // Out of range, k and the cell are some integers and m is taken as 1,
    // so that nothing waits for the range.
    const I shifted = _mm256_add_epi64(_mm256_sub_epi64(bx, set_bits(table::offset)), set_bits(std::int64_t(1024) << 52));
    const I k_bits = _mm256_and_si256(shifted, bits_of(0xfff0000000000000));
    const V m = blend(ok, set(1.0),
                      value(_mm256_sub_epi64(bx, _mm256_sub_epi64(k_bits, set_bits(std::int64_t(1024) << 52)))));
    // k + 1024 + 2^52 as a double, exactly; less the same.
    const V k = sub(value(_mm256_or_si256(_mm256_srli_epi64(shifted, 52), bits(set(0x1p52)))), set(0x1p52 + 1024));
    // The cells' rows, {inv, log_hi, log_lo, 0}, by their offsets in bytes,
    // transposed.
    alignas(32) std::int64_t cell[4];
    _mm256_store_si256(reinterpret_cast<I*>(cell),
                       _mm256_and_si256(_mm256_srli_epi64(shifted, 44 - 5), set_bits(255 << 5)));
    const char* rows = reinterpret_cast<const char*>(table::rows);
    const double* r0 = reinterpret_cast<const double*>(rows + cell[0]);
    const double* r1 = reinterpret_cast<const double*>(rows + cell[1]);
    const double* r2 = reinterpret_cast<const double*>(rows + cell[2]);
    const double* r3 = reinterpret_cast<const double*>(rows + cell[3]);
    const V ab02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r0)), _mm_load_pd(r2), 1);
    const V ab13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r1)), _mm_load_pd(r3), 1);
    const V cd02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r0 + 2)), _mm_load_pd(r2 + 2), 1);
    const V cd13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(_mm_load_pd(r1 + 2)), _mm_load_pd(r3 + 2), 1);
    const V inv = _mm256_unpacklo_pd(ab02, ab13), log_hi = _mm256_unpackhi_pd(ab02, ab13);
    const V log_lo = _mm256_unpacklo_pd(cd02, cd13);

    // h + l = m inv - 1.
    const V p = mul(m, inv);
    const V p_lo = fms(m, inv, p);
    const V d = sub(p, set(1.0));  // exact
    const V h = add(d, p_lo);
    const V l = sub(p_lo, sub(h, d));

    // k ln 2 - ln inv, the high part exact.
    const V t_hi = fma(k, set(table::ln2_hi), log_hi);
    const V t_lo = fma(k, set(table::ln2_lo), log_lo);
    return {h, l, t_hi, t_lo, y};
}

[[gnu::always_inline]] inline Z log_times(const Reduced& in) {
    const V h = in.h, l = in.l;
    // log1p(h): h - a/2 + h^3/3 + h^4 W(h), a = h^2; W by pairs of terms,
    // for a shorter chain.
    const DD a = two_prod(h, h);
    const V w45 = fma(set(1.0 / 5), h, set(-1.0 / 4));
    const V w67 = fma(set(1.0 / 7), h, set(-1.0 / 6));
    const V w89 = fma(set(1.0 / 9), h, set(-1.0 / 8));
    const V w = fma(a.hi, fma(a.hi, w89, w67), w45);
    // h^3/3 = h^3 (third_hi + third_lo): a (g_hi + g_lo), g = h third_hi.
    const DD g = two_prod(h, set(third_hi));
    const DD cubic = two_prod(a.hi, g.hi);
    const DD s1 = fast_two_sum(h, mul(a.hi, set(-0.5)));
    const DD s2 = fast_two_sum(s1.hi, cubic.hi);

    // With k ln 2 - ln inv: |t_hi| exceeds |s2.hi|, or t_hi is 0.
    const DD u = fast_two_sum(in.t_hi, s2.hi);

    // The small parts, l / (1 + h) among them, h^4 W (the last ready) last.
    const V rest = add(add(add(s1.lo, s2.lo), add(in.t_lo, u.lo)),
                       add(fma(a.lo, g.hi, fma(a.hi, g.lo, cubic.lo)), fma(a.lo, set(-0.5), fma(l, fms(h, h, h), l))));
    const V low = fma(mul(a.hi, a.hi), w, fma(mul(a.hi, h), set(third_lo), rest));
    const DD ln = fast_two_sum(u.hi, low);

    // z = y ln x.
    const V z_hi = mul(in.y, ln.hi);
    return {z_hi, fma(in.y, ln.lo, fms(in.y, ln.hi, z_hi))};
}

[[gnu::always_inline]] inline Result exp_of(Z z) {
    const V az = abs(z.hi);
    const V in_range = _mm256_and_pd(greater_equal(az, set(smallest)), less_equal(az, set(largest)));
    const exp_steps::Exp e =
        exp_steps::exp_of<true>(blend(in_range, set(1.0), z.hi), _mm256_and_pd(in_range, z.lo));
    Result out;
    out.hi = e.hi;
    out.lo = e.lo;
    out.scale = e.scale;
    const V safe = rounds_to_hi({out.hi, out.lo}, margin);
    out.defer = ~lanes_of(_mm256_and_pd(in_range, safe)) & 0xf;
    return out;
}

// XA, YA: whether x, y are arrays (else one broadcast value).
template <bool XA, bool YA>
void kernel(const double* x, const double* y, double* out, std::ptrdiff_t n) noexcept {
    // Stretches of up to 256 values: the offsets of their deferred lanes
    // are listed and computed at the end of the stretch. Where `out` is x or
    // y the stretch's arguments are kept aside first.
    constexpr int stretch = 256;
    std::int32_t list[stretch + 4];
    double kept_x[XA ? stretch : 1], kept_y[YA ? stretch : 1];
    // The reduced arguments, then y ln x in the first two.
    alignas(32) double part[5][stretch];
    const V x1 = set(*x), y1 = set(*y);
    for (std::ptrdiff_t start = 0; start < n; start += stretch) {
        const int m = n - start < stretch ? int(n - start) : stretch;
        const double* xs = XA ? x + start : x;
        const double* ys = YA ? y + start : y;
        double* o = out + start;
        if (XA && xs == o) xs = static_cast<const double*>(__builtin_memcpy(kept_x, xs, sizeof(double) * m));
        if (YA && ys == o) ys = static_cast<const double*>(__builtin_memcpy(kept_y, ys, sizeof(double) * m));
        const auto xv = [&](int j) { return XA ? _mm256_loadu_pd(xs + j) : x1; };
        const auto yv = [&](int j) { return YA ? _mm256_loadu_pd(ys + j) : y1; };
        // Three passes (the reduction, y ln x, its exponential), each with
        // a chain short enough for several vectors to be in flight at once.
        const int whole = m & ~3;
        for (int j = 0; j < whole; j += 4) {
            const Reduced r = reduce(xv(j), yv(j));
            _mm256_store_pd(part[0] + j, r.h);
            _mm256_store_pd(part[1] + j, r.l);
            _mm256_store_pd(part[2] + j, r.t_hi);
            _mm256_store_pd(part[3] + j, r.t_lo);
            _mm256_store_pd(part[4] + j, r.y);
        }
        for (int j = 0; j < whole; j += 4) {
            const Z z = log_times({_mm256_load_pd(part[0] + j), _mm256_load_pd(part[1] + j),
                                   _mm256_load_pd(part[2] + j), _mm256_load_pd(part[3] + j),
                                   _mm256_load_pd(part[4] + j)});
            _mm256_store_pd(part[0] + j, z.hi);
            _mm256_store_pd(part[1] + j, z.lo);
        }
        int count = 0;
        for (int j = 0; j < whole; j += 4) {
            const Result a = exp_of({_mm256_load_pd(part[0] + j), _mm256_load_pd(part[1] + j)});
            count = note(a.defer, j, list, count);
            _mm256_storeu_pd(o + j, mul(a.hi, a.scale));
        }
        for (int j = whole; j < m; ++j) list[count++] = j;
        for (int c = 0; c < count; ++c) {
            const int i = list[c];
            o[i] = ::pow(xs[XA ? i : 0], ys[YA ? i : 0]);
        }
    }
}

void parts(const double* x, const double* y, std::ptrdiff_t n, double* rounded, double* hi, double* lo) noexcept {
    for (std::ptrdiff_t j = 0; j + 4 <= n; j += 4) {
        const Result r = exp_of(log_times(reduce(_mm256_loadu_pd(x + j), _mm256_loadu_pd(y + j))));
        _mm256_storeu_pd(rounded + j, mul(r.hi, r.scale));
        _mm256_storeu_pd(hi + j, r.hi);
        _mm256_storeu_pd(lo + j, r.lo);
    }
}

QUARNEL_TARGET_END

}  // namespace

void pow_avx2(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
              std::ptrdiff_t n) noexcept {
    if (n <= 0) return;
    if (sx && sy) kernel<true, true>(x, y, out, n);
    else if (sx) kernel<true, false>(x, y, out, n);
    else if (sy) kernel<false, true>(x, y, out, n);
    else kernel<false, false>(x, y, out, n);
}
void pow_parts_avx2(const double* x, const double* y, std::ptrdiff_t n, double* rounded, double* hi,
                    double* lo) noexcept {
    parts(x, y, n, rounded, hi, lo);
}

#else

void pow_avx2(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
              std::ptrdiff_t n) noexcept {
    libm(x, sx, y, sy, out, n);
}
void pow_parts_avx2(const double*, const double*, std::ptrdiff_t, double*, double*, double*) noexcept {}

#endif

}  // namespace quarnel::pow_kernel::detail
