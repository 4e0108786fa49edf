// The steps of the AVX2 exponential, shared by the exp and pow kernels:
// exp of a double (the exp kernel) or of a double-double (pow's y ln x),
// as hi + lo times a power of two. The method and its error bound are in
// exp_kernel_avx2.cpp; the low part's share in pow_kernel_avx2.cpp.
//
// Include it only from a kernel's own source file, after checking for
// QUARNEL_AVX2_OPS (see avx2_ops.hpp).
#pragma once

#include "machine/avx2_ops.hpp"

#if QUARNEL_AVX2_OPS
#include <cstdint>

QUARNEL_TARGET_BEGIN("avx2,fma")

namespace quarnel::avx2::exp_steps {

// 64 / ln 2, and ln 2 / 64 = l1 + l2 (l1 with 36 significant bits).
inline constexpr double inv_l = 0x1.71547652b82fep+6;
inline constexpr double l1 = 0x1.62e42fefa0000p-7, l2 = 0x1.cf79abc9e3b3ap-46;
inline constexpr double c2 = 1.0 / 2, c3 = 1.0 / 6, c4 = 1.0 / 24, c5 = 1.0 / 120, c6 = 1.0 / 720;

// 2^(i/64) for i = 0 .. 63 as double-doubles (hi, lo), computed to 80
// decimal digits and rounded.
alignas(16) inline constexpr double table[64][2] = {
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.02c9a3e778061p+0, -0x1.19083535b085dp-56},
    {0x1.059b0d3158574p+0, 0x1.d73e2a475b465p-55},
    {0x1.0874518759bc8p+0, 0x1.186be4bb284ffp-57},
    {0x1.0b5586cf9890fp+0, 0x1.8a62e4adc610bp-54},
    {0x1.0e3ec32d3d1a2p+0, 0x1.03a1727c57b53p-59},
    {0x1.11301d0125b51p+0, -0x1.6c51039449b3ap-54},
    {0x1.1429aaea92de0p+0, -0x1.32fbf9af1369ep-54},
    {0x1.172b83c7d517bp+0, -0x1.19041b9d78a76p-55},
    {0x1.1a35beb6fcb75p+0, 0x1.e5b4c7b4968e4p-55},
    {0x1.1d4873168b9aap+0, 0x1.e016e00a2643cp-54},
    {0x1.2063b88628cd6p+0, 0x1.dc775814a8495p-55},
    {0x1.2387a6e756238p+0, 0x1.9b07eb6c70573p-54},
    {0x1.26b4565e27cddp+0, 0x1.2bd339940e9d9p-55},
    {0x1.29e9df51fdee1p+0, 0x1.612e8afad1255p-55},
    {0x1.2d285a6e4030bp+0, 0x1.0024754db41d5p-54},
    {0x1.306fe0a31b715p+0, 0x1.6f46ad23182e4p-55},
    {0x1.33c08b26416ffp+0, 0x1.32721843659a6p-54},
    {0x1.371a7373aa9cbp+0, -0x1.63aeabf42eae2p-54},
    {0x1.3a7db34e59ff7p+0, -0x1.5e436d661f5e3p-56},
    {0x1.3dea64c123422p+0, 0x1.ada0911f09ebcp-55},
    {0x1.4160a21f72e2ap+0, -0x1.ef3691c309278p-58},
    {0x1.44e086061892dp+0, 0x1.89b7a04ef80d0p-59},
    {0x1.486a2b5c13cd0p+0, 0x1.3c1a3b69062f0p-56},
    {0x1.4bfdad5362a27p+0, 0x1.d4397afec42e2p-56},
    {0x1.4f9b2769d2ca7p+0, -0x1.4b309d25957e3p-54},
    {0x1.5342b569d4f82p+0, -0x1.07abe1db13cadp-55},
    {0x1.56f4736b527dap+0, 0x1.9bb2c011d93adp-54},
    {0x1.5ab07dd485429p+0, 0x1.6324c054647adp-54},
    {0x1.5e76f15ad2148p+0, 0x1.ba6f93080e65ep-54},
    {0x1.6247eb03a5585p+0, -0x1.383c17e40b497p-54},
    {0x1.6623882552225p+0, -0x1.bb60987591c34p-54},
    {0x1.6a09e667f3bcdp+0, -0x1.bdd3413b26456p-54},
    {0x1.6dfb23c651a2fp+0, -0x1.bbe3a683c88abp-57},
    {0x1.71f75e8ec5f74p+0, -0x1.16e4786887a99p-55},
    {0x1.75feb564267c9p+0, -0x1.0245957316dd3p-54},
    {0x1.7a11473eb0187p+0, -0x1.41577ee04992fp-55},
    {0x1.7e2f336cf4e62p+0, 0x1.05d02ba15797ep-56},
    {0x1.82589994cce13p+0, -0x1.d4c1dd41532d8p-54},
    {0x1.868d99b4492edp+0, -0x1.fc6f89bd4f6bap-54},
    {0x1.8ace5422aa0dbp+0, 0x1.6e9f156864b27p-54},
    {0x1.8f1ae99157736p+0, 0x1.5cc13a2e3976cp-55},
    {0x1.93737b0cdc5e5p+0, -0x1.75fc781b57ebcp-57},
    {0x1.97d829fde4e50p+0, -0x1.d185b7c1b85d1p-54},
    {0x1.9c49182a3f090p+0, 0x1.c7c46b071f2bep-56},
    {0x1.a0c667b5de565p+0, -0x1.359495d1cd533p-54},
    {0x1.a5503b23e255dp+0, -0x1.d2f6edb8d41e1p-54},
    {0x1.a9e6b5579fdbfp+0, 0x1.0fac90ef7fd31p-54},
    {0x1.ae89f995ad3adp+0, 0x1.7a1cd345dcc81p-54},
    {0x1.b33a2b84f15fbp+0, -0x1.2805e3084d708p-57},
    {0x1.b7f76f2fb5e47p+0, -0x1.5584f7e54ac3bp-56},
    {0x1.bcc1e904bc1d2p+0, 0x1.23dd07a2d9e84p-55},
    {0x1.c199bdd85529cp+0, 0x1.11065895048ddp-55},
    {0x1.c67f12e57d14bp+0, 0x1.2884dff483cadp-54},
    {0x1.cb720dcef9069p+0, 0x1.503cbd1e949dbp-56},
    {0x1.d072d4a07897cp+0, -0x1.cbc3743797a9cp-54},
    {0x1.d5818dcfba487p+0, 0x1.2ed02d75b3707p-55},
    {0x1.da9e603db3285p+0, 0x1.c2300696db532p-54},
    {0x1.dfc97337b9b5fp+0, -0x1.1a5cd4f184b5cp-54},
    {0x1.e502ee78b3ff6p+0, 0x1.39e8980a9cc8fp-55},
    {0x1.ea4afa2a490dap+0, -0x1.e9c23179c2893p-54},
    {0x1.efa1bee615a27p+0, 0x1.dc7f486a4b6b0p-54},
    {0x1.f50765b6e4540p+0, 0x1.9d3e12dd8a18bp-54},
    {0x1.fa7c1819e90d8p+0, 0x1.74853f3a5931ep-55},
};

struct Exp {
    V hi, lo;  // exp(x) / 2^m, in [0.99, 2.02)
    V scale;   // 2^m
};

// exp(x) for |x| <= 708.4 or so; with Low, exp(x + x_lo) for |x_lo| below
// 2^-42. Without it the exp kernel's own steps, operation for operation.
template <bool Low>
[[gnu::always_inline]] inline Exp exp_of(V x, [[maybe_unused]] V x_lo) {
    Exp out;
    // k rounded to an integer by the addition of the shift, which leaves it
    // in the low bits.
    const V shifted = fma(x, set(inv_l), set(integer_shift));
    const V k = sub(shifted, set(integer_shift));
    const I kb = _mm256_castpd_si256(shifted);
    // (k - i) / 64 = m into the exponent field: the shift drops the bits of
    // the added constant.
    const I i = _mm256_and_si256(kb, set_bits(63));
    out.scale = _mm256_castsi256_pd(
        _mm256_add_epi64(_mm256_slli_epi64(_mm256_sub_epi64(kb, i), 46), set_bits(std::int64_t(1023) << 52)));

    // r = x - k ln2/64.
    const V t = fnma(k, set(l1), x);  // exact
    const V r = fnma(k, set(l2), t);
    const V r_lo = fnma(k, set(l2), sub(t, r));

    // exp(r) - 1 = r + q.
    const V r2 = mul(r, r);
    V poly = fma(set(c6), r, set(c5));
    poly = fma(poly, r, set(c4));
    poly = fma(poly, r, set(c3));
    poly = fma(poly, r, set(c2));
    V q;
    if constexpr (Low) {
        // exp(r + rho) = exp(r) + rho (1 + r + r^2/2 + r^3/6), rho = r_lo +
        // x_lo below 2^-42: the terms left out are below 2^-76.
        const V rho = add(r_lo, x_lo);
        q = fma(r2, poly, fma(rho, fma(r2, fma(r, set(c3), set(c2)), r), rho));
    } else {
        q = fma(r2, poly, fma(r, r_lo, r_lo));
    }

    // 2^(i/64): a row per lane, found through memory (loads are cheaper
    // than moving lanes to general registers), transposed.
    alignas(32) std::int64_t row[4];
    _mm256_store_si256(reinterpret_cast<I*>(row), i);
    const __m128d t0 = _mm_load_pd(table[row[0]]);
    const __m128d t1 = _mm_load_pd(table[row[1]]);
    const V rows02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(t0), _mm_load_pd(table[row[2]]), 1);
    const V rows13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(t1), _mm_load_pd(table[row[3]]), 1);
    const V s_hi = _mm256_unpacklo_pd(rows02, rows13), s_lo = _mm256_unpackhi_pd(rows02, rows13);

    // s_hi + s_hi r + (s_hi q + s_lo (1 + r)).
    const DD b = two_prod(s_hi, r);
    const V c = add(fma(s_hi, q, b.lo), fma(s_lo, r, s_lo));
    const DD d = fast_two_sum(b.hi, c);
    const DD u = fast_two_sum(s_hi, d.hi);
    out.hi = u.hi;
    out.lo = add(u.lo, d.lo);
    return out;
}

}  // namespace quarnel::avx2::exp_steps

QUARNEL_TARGET_END

#endif
