// The arcsine and arctangent kernels for AVX2 with FMA, 4 lanes (see
// asin_atan_kernel.hpp).
//
// atan: a = |x|, taken no larger than 2^60 (above, infinities included, the
// result rounds to pi/2's double all the same: it lies within 2^-8 ulp of
// pi/2, 0.28 ulp above that double). With
// y = min(a, 1) and x = max(a, 1), atan(a) is atan(y/x), or pi/2 minus it
// where a > 1; c = i/128, i the nearest integer to 128 (1 - 2^-20) t, t =
// y/x rounded, and
//     atan(y/x) = atan(c) + atan(u),  u = (y - c x) / (x + c y).
// * |y/x - c| <= 2^-8 (1 + 2^-12), and |u| too. The scale's 2^-20 keeps
//   c < 2 y/x where i >= 1, so y - c x lies in (-y, y] and within x/256
//   (1 + 2^-12): a multiple of ulp(y), or of ulp(x)/128, below 2^53 of
//   them, so one fused multiply-add gives it exactly. x + c y <= 2x is
//   rounded once, and its error, a multiple of ulp(y)/128 >= ulp(x)/2^16
//   (y > x/256 where i >= 1) below ulp(x), is exact too.
// * u = u_hi + u_lo from the reciprocal of the denominator and one
//   correction through the exact residual: within 2^-100 |u|.
// * atan(u) = u_hi + q, q = u_lo + u_hi^3 (-1/3 + u_hi^2/5 - u_hi^4/7):
//   the terms left out (u^9/9, u_lo u^2) are below 2^-67.1 |u|, the
//   roundings of the polynomial and its products below 2^-68.8 |u|, q's
//   own below 2^-70.
// * T = atan(c), or atan(c) - pi/2 where a > 1, from a table of double-
//   doubles (to 2^-106): T + atan(u) is the result, or its negative. The
//   sum T_hi + u_hi + (T_lo + q) as double-doubles rounds twice more, each
//   below 2^-70 of the result. |u_hi| <= |T_hi| unless T is 0, and |u| is
//   at most the result (1 + 2^-11).
//
// asin: a = |x| <= 1; w = 1 - a^2 = (1 - a)(1 + a), both factors exact
// double-doubles, their product to 2^-104; s = sqrt(w) = s_hi + s_lo to
// 2^-103 (the residual w_hi - s_hi^2 is exact). p = min(a, s) = sin phi <=
// 1/sqrt 2 and q = max(a, s) = cos phi; asin(a) is phi, or pi/2 minus it
// where a > s. No loss near 1: s is as accurate as w, however small. With
// b = j/128, j the nearest integer to 128 (1 - 2^-12) p_hi, and C = sqrt(1
// - b^2) from a table (to 2^-106):
//     phi = asin(b) + asin(v),  v = p C - b q = sin(phi - asin b).
// * |v| <= |p - b| / sqrt(1 - 0.711^2) <= 2^-7.49.
// * p_hi C_hi and b q_hi lie within a factor 2 of each other (the scale's
//   2^-12 keeps p > b/2 where j >= 1), so the difference of their rounded
//   values is exact; v_lo gathers their rounding errors and the low parts:
//   v to 2^-104 p.
// * asin(v) = v_hi + q, q = v_lo + v_hi^3 (1/6 + 3/40 v_hi^2 + 5/112
//   v_hi^4 + 35/1152 v_hi^6): the series left out is below 2^-77 |v|,
//   v_lo v^2/2 below 2^-68 p; the roundings below 2^-68.8 |v| and 2^-70.
// * T = asin(b), or asin(b) - pi/2 where a > s, and the sum as for atan;
//   |v_hi| <= |T_hi| unless T is 0, and |v| is at most the result.
//
// So hi + lo is within 2^-66 of the result, relative: below 1/8000 of an
// ulp (tests/test_asin_atan_kernel.py checks it against exact arithmetic).
// It is rounded (hi) unless |lo| lies within the margin of half an ulp
// (rounds_to_hi, as in the exp kernel); the sign of x goes on last.
//
// Each stretch of values is gone through twice: the reduction (to u, or v,
// and the table's row) into scratch arrays, then the rest. Each pass's
// chain of dependent operations is half as long, so the processor overlaps
// more vectors. The lanes left to the C library are marked and computed at
// the end of the stretch. No operation on a lane in range raises a flag
// other than inexact: lanes out of range are 0 before any arithmetic,
// nothing comes near the subnormal range (|u| and |v| are 0 or above
// 2^-62, s_hi is 0 or above 2^-27 and is taken at least 2^-60 before its
// reciprocal), and comparisons are quiet.
#include "machine/asin_atan_kernel.hpp"

#include "machine/avx2_ops.hpp"

#include <cstdint>

namespace quarnel::asin_atan_kernel::detail {

#if QUARNEL_AVX2_OPS
namespace {

QUARNEL_TARGET_BEGIN("avx2,fma")

using namespace quarnel::avx2;

// The tables, computed to 90 decimal digits and rounded to double-doubles
// (hi, lo): atan(i/128) and atan(i/128) - pi/2, i = 0 .. 128; asin(j/128)
// and asin(j/128) - pi/2, and sqrt(1 - (j/128)^2), j = 0 .. 91.
alignas(16) constexpr double atan_table[129][2][2] = {
    {{0x0.0p+0, 0x0.0p+0}, {-0x1.921fb54442d18p+0, -0x1.1a62633145c07p-54}},
    {{0x1.fffd555bbba97p-8, 0x1.68062351fbbe6p-63}, {-0x1.901fb7eee715ep+0, 0x1.42519fe0633d7p-54}},
    {{0x1.fff555bbb729bp-7, -0x1.220c39d4dff50p-61}, {-0x1.8e1fca98cb633p+0, -0x1.1299ee93be016p-56}},
    {{0x1.7fee0184a5c36p-6, -0x1.43189fc0a354bp-60}, {-0x1.8c1ffd3e303a7p+0, -0x1.bf6ec5b0484dcp-54}},
    {{0x1.ffd55bba97625p-6, -0x1.5ec431444912cp-60}, {-0x1.8a205fd558740p+0, 0x1.30228c09a91b4p-54}},
    {{0x1.3fd65f169c9d9p-5, 0x1.7230a716461b5p-61}, {-0x1.8821024b8dec9p+0, -0x1.f77e01e319343p-54}},
    {{0x1.7fb818430da2ap-5, -0x1.86ef8f794f105p-63}, {-0x1.8621f4822a647p+0, 0x1.26d12837ecc05p-57}},
    {{0x1.bf8ddf139c444p-5, -0x1.89fe34b2a7fa8p-59}, {-0x1.8423464ba5ef6p+0, -0x1.4d64a9adb6008p-55}},
    {{0x1.ff55bb72cfdeap-5, -0x1.c934d86d23f1dp-60}, {-0x1.82250768ac529p+0, 0x1.e78c96d05afcbp-58}},
    {{0x1.1f86dbf082d59p-4, -0x1.095dc7732ef81p-59}, {-0x1.802747853aa43p+0, 0x1.1d52ae9320c7dp-54}},
    {{0x1.3f59f0e7c559dp-4, 0x1.ac4ce285df847p-58}, {-0x1.7e2a1635c67bep+0, -0x1.bf9d9508e7c82p-54}},
    {{0x1.5f2324fd2d7b2p-4, 0x1.8a8da4401318ep-58}, {-0x1.7c2d82f46ff9dp+0, -0x1.037311da891dcp-55}},
    {{0x1.7ee182602f10fp-4, -0x1.cfb654c0c3d98p-58}, {-0x1.7a319d1e3fe07p+0, -0x1.775dc87d51fe0p-54}},
    {{0x1.9e94153cfdcf1p-4, 0x1.a332e1d69c47ep-58}, {-0x1.783673f072f49p+0, -0x1.805e6a27b7f7ep-55}},
    {{0x1.be39ebe6f07c3p-4, 0x1.f7b8f29a05987p-58}, {-0x1.763c1685d3c9cp+0, -0x1.d736a03d2b373p-57}},
    {{0x1.ddd21701eba6ep-4, 0x1.94effcd76fe58p-58}, {-0x1.744293d424171p+0, -0x1.81136363cec21p-54}},
    {{0x1.fd5ba9aac2f6ep-4, -0x1.cd37686760c17p-59}, {-0x1.7249faa996a21p+0, -0x1.a8cc1e7480c68p-54}},
    {{0x1.0e6adccf40882p-3, -0x1.d71a31bb98d0dp-57}, {-0x1.705259aa5ac08p+0, -0x1.5516a5a2e36a2p-56}},
    {{0x1.1e1fafb043727p-3, -0x1.b485914dacf8cp-59}, {-0x1.6e5bbf4e3a633p+0, -0x1.a8068fbbb3283p-54}},
    {{0x1.2dcbdb2fba1ffp-3, 0x1.8f28705561534p-58}, {-0x1.6c6639de4b8d8p+0, -0x1.816fdc2befab4p-54}},
    {{0x1.3d6eee8c6626cp-3, 0x1.61a3b0ce9281bp-57}, {-0x1.6a71d772b60cbp+0, 0x1.11d212e88c8fdp-54}},
    {{0x1.4d087a9da4f17p-3, 0x1.1f323f1adf158p-57}, {-0x1.687ea5f08e335p+0, -0x1.767c1b4de9ddcp-54}},
    {{0x1.5c9811e3ec26ap-3, -0x1.054ab2c010f3dp-58}, {-0x1.668cb307c54cbp+0, -0x1.55b872ea367d6p-57}},
    {{0x1.6c1d4898933d9p-3, -0x1.2954a7603c427p-58}, {-0x1.649c0c313069dp+0, -0x1.59ef5b4e93093p-55}},
    {{0x1.7b97b4bce5b02p-3, 0x1.347b0b4f881cap-58}, {-0x1.62acbeaca61b8p+0, -0x1.c6ac9f134fa91p-60}},
    {{0x1.8b06ee2879c29p-3, -0x1.118cd30308c4fp-57}, {-0x1.60bed77f33993p+0, -0x1.7927fb234db22p-55}},
    {{0x1.9a6a8e96c8626p-3, 0x1.cf601e7b4348ep-59}, {-0x1.5ed2637169c54p+0, 0x1.f4189dc29459ep-54}},
    {{0x1.a9c231b403279p-3, 0x1.0e8bbe89cca85p-57}, {-0x1.5ce76f0dc26c9p+0, -0x1.e243ad8030ad9p-56}},
    {{0x1.b90d7529260a2p-3, 0x1.17b10d2e0e5abp-61}, {-0x1.5afe069f1e104p+0, -0x1.8330116e9a3b9p-58}},
    {{0x1.c84bf8a742e6ep-3, -0x1.95bdd0682ea26p-58}, {-0x1.5916362f5a74bp+0, 0x1.cc41bfc837557p-54}},
    {{0x1.d77d5df205736p-3, 0x1.c648d1534597ep-57}, {-0x1.5730098602231p+0, -0x1.e1994906dd0d7p-54}},
    {{0x1.e6a148e96ec4dp-3, 0x1.866b22029f765p-57}, {-0x1.554b8c2714f8fp+0, 0x1.966b010f0e2e6p-54}},
    {{0x1.f5b75f92c80ddp-3, 0x1.8ab6e3cf7afbdp-57}, {-0x1.5368c951e9cfdp+0, 0x1.96f47948a99f1p-54}},
    {{0x1.025fa510665b6p-2, -0x1.672df6832fa48p-56}, {-0x1.5187cc00293abp+0, 0x1.17a43e5bdcacep-55}},
    {{0x1.09dc597d86362p-2, 0x1.62e47390cb865p-56}, {-0x1.4fa89ee4e1440p+0, 0x1.3e56b9b2ed212p-54}},
    {{0x1.1151a362431cap-2, -0x1.4dc8dc9077b9fp-56}, {-0x1.4dcb4c6bb20a6p+0, 0x1.2456cb5538a23p-55}},
    {{0x1.18bf5a30bf178p-2, 0x1.30ca4748b1bf9p-57}, {-0x1.4befdeb8130bap+0, -0x1.e89234905f110p-55}},
    {{0x1.2025567e47c96p-2, -0x1.1832328f4290ep-57}, {-0x1.4a165fa4b0df3p+0, 0x1.852eacf9a3dafp-55}},
    {{0x1.278372057ef46p-2, -0x1.077cdd36dfc81p-56}, {-0x1.483ed8c2e3147p+0, 0x1.477ccb02049b2p-55}},
    {{0x1.2ed987a823cfep-2, 0x1.b91258ea012cap-57}, {-0x1.4669535a39dd9p+0, 0x1.1cbfe7ebfa652p-54}},
    {{0x1.362773707ebccp-2, -0x1.963a544b672d8p-57}, {-0x1.4495d86823225p+0, -0x1.4d29adbab2a62p-54}},
    {{0x1.3d6d129271134p-2, 0x1.137ca41cc958ap-56}, {-0x1.42c4709fa68cbp+0, -0x1.ab06745426d49p-55}},
    {{0x1.44aa436c2af0ap-2, -0x1.5d5e43c55b3bap-56}, {-0x1.40f5246938156p+0, 0x1.1c8c17bac6e15p-55}},
    {{0x1.4bdee586890e7p-2, -0x1.e4dc77c22a757p-57}, {-0x1.3f27fbe2a08dfp+0, 0x1.a9020dd674f0ep-54}},
    {{0x1.530ad9951cd4ap-2, -0x1.2566480884082p-57}, {-0x1.3d5cfedefb9c6p+0, 0x1.81e1a79b537d2p-55}},
    {{0x1.5a2e0175e0f4ep-2, 0x1.13b7a8f82e457p-56}, {-0x1.3b9434e6ca945p+0, 0x1.2a8b870cc5d0fp-54}},
    {{0x1.614840309cfe2p-2, -0x1.a725715711f00p-56}, {-0x1.39cda5381b920p+0, 0x1.ef5101e3d70e5p-56}},
    {{0x1.685979f5fa6fep-2, -0x1.257814d1ada9cp-59}, {-0x1.380956c6c4359p+0, 0x1.b8e3b85059a48p-55}},
    {{0x1.6f61941e4def1p-2, -0x1.c63aae6f6e918p-56}, {-0x1.3647503caf55cp+0, -0x1.17e21d9a42c9ap-55}},
    {{0x1.7660752817502p-2, -0x1.dd11791cc7600p-59}, {-0x1.348797fa3cfd8p+0, 0x1.ad6a220ba8092p-55}},
    {{0x1.7d5604b63b3f7p-2, 0x1.69c885c2b249ap-56}, {-0x1.32ca3416b401ap+0, -0x1.bff041c0992e0p-54}},
    {{0x1.84422b8df95d7p-2, 0x1.d76a0299b41b6p-56}, {-0x1.310f2a60c47a2p+0, -0x1.a487e28ad8b99p-54}},
    {{0x1.8b24d394a1b25p-2, 0x1.b6d0ba3748fa8p-56}, {-0x1.2f56805f1a64fp+0, 0x1.4d472d7231f8dp-56}},
    {{0x1.91fde7cd0c662p-2, 0x1.1074188054b53p-56}, {-0x1.2da03b50ffb80p+0, 0x1.29baa2eecf6cep-54}},
    {{0x1.98cd5454d6b18p-2, 0x1.9e6c988fd0a77p-56}, {-0x1.2bec602f0d252p+0, -0x1.658e7a1aa32d2p-55}},
    {{0x1.9f93066168002p-2, -0x1.c827047c9439ap-56}, {-0x1.2a3af3abe8d18p+0, 0x1.ce4f6ebe54c4ap-56}},
    {{0x1.a64eec3cc23fdp-2, -0x1.24dec1b50b7ffp-56}, {-0x1.288bfa3512419p+0, -0x1.8e684e7a2281bp-56}},
    {{0x1.ad00f5422058bp-2, 0x1.fc4c33891d2e8p-56}, {-0x1.26df77f3babb5p+0, -0x1.9b4f564efe74dp-54}},
    {{0x1.b3a911da65c6cp-2, 0x1.ae187b1ca5040p-56}, {-0x1.253570cda95fdp+0, -0x1.5db888d438feep-55}},
    {{0x1.ba473378624a5p-2, 0x1.519a1b46e4affp-56}, {-0x1.238de8662a3efp+0, 0x1.d0211d039b5c6p-57}},
    {{0x1.c0db4c94ec9f0p-2, -0x1.cc1ce70934c34p-56}, {-0x1.21e8e21f07a9cp+0, -0x1.8d699cf392f14p-54}},
    {{0x1.c76550aad71f9p-2, -0x1.74b8bff7043e4p-56}, {-0x1.204661198d09ap+0, -0x1.de424cbc1b400p-56}},
    {{0x1.cde53432c1351p-2, -0x1.a2cfa4418f1adp-56}, {-0x1.1ea6683792844p+0, -0x1.062c9883530e4p-55}},
    {{0x1.d45aec9ec862bp-2, 0x1.89421163ef92dp-57}, {-0x1.1d08fa1c90b8dp+0, -0x1.e93a2104c7ce1p-54}},
    {{0x1.dac670561bb4fp-2, 0x1.a2b7f222f65e2p-56}, {-0x1.1b6e192ebbe44p+0, -0x1.b1b466a88828ep-54}},
    {{0x1.e127b6b0744b0p-2, -0x1.2b0986398d4abp-58}, {-0x1.19d5c79825becp+0, -0x1.2d12fb94de952p-54}},
    {{0x1.e77eb7f175a34p-2, 0x1.0e53dc1bf3435p-56}, {-0x1.18400747e568bp+0, -0x1.ad9ad85491df3p-55}},
    {{0x1.edcb6d43f8435p-2, -0x1.fc976330884e4p-58}, {-0x1.16acd9f344c0bp+0, -0x1.d15ecb22722a9p-57}},
    {{0x1.f40dd0b541418p-2, -0x1.a3992dc382a23p-57}, {-0x1.151c4116f2812p+0, -0x1.4ed588e9b614bp-54}},
    {{0x1.fa45dd3029259p-2, -0x1.ca563dc28d8b5p-56}, {-0x1.138e3df838882p+0, -0x1.19efe543d2468p-55}},
    {{0x1.0039c73c1a40cp-1, -0x1.b32c949c9d593p-55}, {-0x1.1202d1a635b12p+0, -0x1.f3f8ad7f946d1p-54}},
    {{0x1.034b709250488p-1, 0x1.8f9b38d855410p-56}, {-0x1.1079fcfb1aad4p+0, -0x1.6cf729f660e06p-55}},
    {{0x1.0657e94db30d0p-1, -0x1.d5b495f6349e6p-56}, {-0x1.0ef3c09d694b0p+0, -0x1.8fcf88aed2e80p-54}},
    {{0x1.095f30861a590p-1, -0x1.121b20a15a9f3p-56}, {-0x1.0d701d0135a50p+0, -0x1.5ee92b599c684p-54}},
    {{0x1.0c6145b5b43dap-1, 0x1.974fa13b5404fp-58}, {-0x1.0bef126968b2bp+0, -0x1.00ed691d90802p-54}},
    {{0x1.0f5e28b67e295p-1, 0x1.311b17ec990d0p-65}, {-0x1.0a70a0e903bcep+0, 0x1.cb8780636fa56p-55}},
    {{0x1.1255d9bfbd2a9p-1, -0x1.2bdaee1c0ee35p-58}, {-0x1.08f4c864643c4p+0, 0x1.a5bfdbd9f2a2cp-55}},
    {{0x1.154859637646ap-1, -0x1.4ba7c548bf3c3p-55}, {-0x1.077b889287ae3p+0, -0x1.c03645d5a55e8p-54}},
    {{0x1.1835a88be7c13p-1, 0x1.c621cec00c301p-55}, {-0x1.0604e0fe4ef0fp+0, 0x1.c8ae842ec057ap-54}},
    {{0x1.1b1dc87904285p-1, -0x1.21e8c8aef8f29p-57}, {-0x1.0490d107c0bd6p+0, 0x1.82c10771b6428p-55}},
    {{0x1.1e00babdefeb4p-1, -0x1.928df287a668fp-58}, {-0x1.031f57e54adbep+0, -0x1.338b4259c0270p-54}},
    {{0x1.20de813e823b2p-1, -0x1.791d753ebb744p-55}, {-0x1.01b074a501b3fp+0, -0x1.d6f11dd0a37a9p-54}},
    {{0x1.23b71e2cc9e6ap-1, 0x1.c421c9f38224ep-57}, {-0x1.0044262dddde3p+0, -0x1.c3bc53e5aaf7ap-55}},
    {{0x1.268a940696da6p-1, 0x1.d1348a04c73ccp-58}, {-0x1.fdb4d681eec8ap-1, -0x1.fa9e3521f2994p-55}},
    {{0x1.2958e59308e31p-1, -0x1.09e73b0c6c087p-56}, {-0x1.fae684f57cc00p-1, 0x1.46479c173e7afp-55}},
    {{0x1.2c2215e024466p-1, -0x1.4b810da3a4be1p-59}, {-0x1.f81d54a8615cbp-1, 0x1.b68328c33a334p-55}},
    {{0x1.2ee628406cbcap-1, 0x1.c5d5e9ff0cf8dp-55}, {-0x1.f559424818e66p-1, -0x1.bbbb718dfa201p-57}},
    {{0x1.31a52048874bep-1, 0x1.40cab87a7ac24p-55}, {-0x1.f29a4a3ffe572p-1, -0x1.e7f41bd0217d3p-56}},
    {{0x1.345f01cce37bbp-1, 0x1.1021137c71102p-55}, {-0x1.efe068bba2275p-1, -0x1.24a3b2e61a70bp-55}},
    {{0x1.3713d0df6c504p-1, -0x1.4f789e031606dp-58}, {-0x1.ed2b99a91952dp-1, 0x1.a14c25dd11be5p-55}},
    {{0x1.39c391cd4171ap-1, -0x1.2304331d8bf46p-55}, {-0x1.ea7bd8bb44317p-1, 0x1.506e0cffd1159p-56}},
    {{0x1.3c6e491c78dc5p-1, -0x1.e145094fd0ba7p-55}, {-0x1.e7d1216c0cc6cp-1, -0x1.609cfb25c3b53p-59}},
    {{0x1.3f13fb89e96f4p-1, 0x1.ecf8b492644f0p-56}, {-0x1.e52b6efe9c33cp-1, -0x1.3e486c1959596p-55}},
    {{0x1.41b4ae06fea41p-1, 0x1.3d60a53277652p-57}, {-0x1.e28abc8186fefp-1, -0x1.e56c9d15eda79p-55}},
    {{0x1.445065b795b56p-1, -0x1.f76d0163f79c8p-56}, {-0x1.dfef04d0efedbp-1, 0x1.9f0971d6f161cp-56}},
    {{0x1.46e727efe4716p-1, -0x1.39b9b1b844cc9p-57}, {-0x1.dd584298a131bp-1, 0x1.7ccccd2f634c0p-55}},
    {{0x1.4978fa3269ee1p-1, 0x1.2419a87f2a458p-56}, {-0x1.dac670561bb4fp-1, -0x1.a2b7f222f65e2p-55}},
    {{0x1.4c05e22de94e5p-1, -0x1.c0ac1f09f2edfp-55}, {-0x1.d839885a9c54cp-1, 0x1.51e352703226cp-60}},
    {{0x1.4e8de5bb6ec04p-1, 0x1.4a33dbeb3796cp-55}, {-0x1.d5b184cd16e2cp-1, -0x1.d521d4eea7d44p-56}},
    {{0x1.51110adc5ed81p-1, 0x1.23dcd6832a63ep-56}, {-0x1.d32e5fac26cafp-1, -0x1.a2d65b20f64efp-55}},
    {{0x1.538f57b89061fp-1, -0x1.1bb74abda520cp-55}, {-0x1.d0b012cff5412p-1, 0x1.5f07ddbf9ebccp-56}},
    {{0x1.5608d29c70c34p-1, 0x1.9939cf0de8088p-55}, {-0x1.ce3697ec14dfcp-1, -0x1.3715eea946f0cp-56}},
    {{0x1.587d81f732fbbp-1, -0x1.5e5c9d8c5a950p-56}, {-0x1.cbc1e89152a76p-1, 0x1.1c0cead74734ap-55}},
    {{0x1.5aed6c5909517p-1, 0x1.7312f714a9436p-55}, {-0x1.c951fe2f7c519p-1, -0x1.83639e9bc47afp-56}},
    {{0x1.5d58987169b18p-1, 0x1.0028e4bc5e7cap-57}, {-0x1.c6e6d2171bf18p-1, -0x1.f4ba8d3373e1bp-55}},
    {{0x1.5fbf0d0d5cc4ap-1, -0x1.b4cfd000b7158p-58}, {-0x1.c4805d7b28de7p-1, 0x1.94a13f9d5d9c7p-55}},
    {{0x1.6220d115d7b8ep-1, -0x1.2b785350ee8c1p-57}, {-0x1.c21e9972adea3p-1, 0x1.805d24c938dc2p-55}},
    {{0x1.647deb8e20b90p-1, -0x1.eca04023a51cfp-58}, {-0x1.bfc17efa64ea1p-1, 0x1.8da73198ffdb8p-55}},
    {{0x1.66d663923e087p-1, -0x1.6ea6febe8bbbap-56}, {-0x1.bd6906f6479aap-1, 0x1.13e7ba3e2ea15p-55}},
    {{0x1.692a40556fb6ap-1, 0x1.d94b95a8ea2ccp-55}, {-0x1.bb152a3315ec6p-1, -0x1.6de4c2e685509p-57}},
    {{0x1.6b798920b3d99p-1, -0x1.a80386188c50ep-55}, {-0x1.b8c5e167d1c98p-1, 0x1.19bd9c2741720p-58}},
    {{0x1.6dc44551553afp-1, -0x1.bf8863573828ep-58}, {-0x1.b67b253730682p-1, 0x1.934a2d328d7a1p-55}},
    {{0x1.700a7c5784634p-1, -0x1.8c34d25aadef6p-56}, {-0x1.b434ee31013fdp-1, 0x1.0520d0701d877p-55}},
    {{0x1.724c35b4fae7bp-1, 0x1.948b32db3499bp-58}, {-0x1.b1f334d38abb6p-1, 0x1.fdcc9ff8db126p-55}},
    {{0x1.748978fba8e0fp-1, 0x1.7b2a6165884a1p-59}, {-0x1.afb5f18cdcc22p-1, 0x1.e2eddfb3cd03cp-55}},
    {{0x1.76c24dcc6c6c0p-1, 0x1.1952551adc83dp-55}, {-0x1.ad7d1cbc19370p-1, -0x1.1b727147aefd1p-55}},
    {{0x1.78f6bbd5d315ep-1, 0x1.406a089803740p-55}, {-0x1.ab48aeb2b28d2p-1, -0x1.e8b57b951019bp-56}},
    {{0x1.7b26cad2e50fep-1, -0x1.ce80df30411fbp-55}, {-0x1.a9189fb5a0933p-1, -0x1.a2d2c96650475p-62}},
    {{0x1.7d528289fa093p-1, 0x1.560821e2f3aa9p-55}, {-0x1.a6ece7fe8b99dp-1, -0x1.bd7948ff2fac9p-56}},
    {{0x1.7f79eacb97898p-1, 0x1.fd5ca80ead221p-55}, {-0x1.a4c57fbcee198p-1, -0x1.bb40f29ef2f68p-58}},
    {{0x1.819d0b7158a4dp-1, -0x1.bf76229d3b917p-56}, {-0x1.a2a25f172cfe4p-1, 0x1.d700509dad6cep-56}},
    {{0x1.83bbec5cdee22p-1, 0x1.3107104ffc6c3p-57}, {-0x1.a0837e2ba6c0ep-1, -0x1.e883024e8c65dp-55}},
    {{0x1.85d69576cc2c5p-1, 0x1.6b66e7fc8b8c3p-57}, {-0x1.9e68d511b976bp-1, -0x1.d9eb0c63689ddp-55}},
    {{0x1.87ed0eadc5a2ap-1, 0x1.0af5ad957f4bcp-56}, {-0x1.9c525bdac0006p-1, -0x1.af49ef97cbdb0p-55}},
    {{0x1.89ff5ff57f1f8p-1, -0x1.55b9a5e177a1bp-55}, {-0x1.9a400a9306839p-1, 0x1.d6064eeff375dp-57}},
    {{0x1.8c0d9145cf49dp-1, 0x1.bea4076dc4333p-55}, {-0x1.9831d942b6593p-1, -0x1.d882fbd31d36dp-57}},
    {{0x1.8e17aa99cc05ep-1, -0x1.ec182ab042f61p-56}, {-0x1.9627bfeeb99d3p-1, 0x1.aa5e488aa6084p-56}},
    {{0x1.901db3eeef187p-1, 0x1.68665e5603c8fp-55}, {-0x1.9421b699968a9p-1, -0x1.98bcd0190f6fdp-56}},
    {{0x1.921fb54442d18p-1, 0x1.1a62633145c07p-55}, {-0x1.921fb54442d18p-1, -0x1.1a62633145c07p-55}},
};
alignas(16) constexpr double asin_table[92][2][2] = {
    {{0x0.0p+0, 0x0.0p+0}, {-0x1.921fb54442d18p+0, -0x1.1a62633145c07p-54}},
    {{0x1.0000aaabdde0cp-7, -0x1.ab2904d668b9dp-61}, {-0x1.901fb3eeeb15cp+0, -0x1.7b716a75e523cp-55}},
    {{0x1.0002aabdde94cp-6, 0x1.130cd26cdfa37p-62}, {-0x1.8e1faa994b573p+0, -0x1.653d597b63833p-56}},
    {{0x1.80090091d9024p-6, 0x1.1158c93fa3e42p-62}, {-0x1.8c1f9141fb6d8p+0, 0x1.26aef597f9e37p-54}},
    {{0x1.000aabde0b9c8p-5, 0x1.d6d94551be3e9p-61}, {-0x1.8a1f5fe55274ap+0, -0x1.6b4b0a6a243f1p-58}},
    {{0x1.4014d8ffaf8afp-5, -0x1.3090b48c9545fp-59}, {-0x1.881f0e7c45553p+0, 0x1.78322e54ab2acp-55}},
    {{0x1.8024091fdb0a9p-5, 0x1.80650020adbcap-60}, {-0x1.861e94fb43f93p+0, 0x1.73e619e79ed09p-59}},
    {{0x1.c0393e65c2c93p-5, 0x1.0d0a050c59955p-60}, {-0x1.841deb5114bb4p+0, 0x1.49d1c4e2eba5ep-54}},
    {{0x1.002abde953619p-4, 0x1.182e2dc6ddeedp-58}, {-0x1.821d0965ad9b7p+0, 0x1.37207fab281e8p-54}},
    {{0x1.203ce2b380cd3p-4, -0x1.9210506159851p-59}, {-0x1.801be7190ac4bp+0, -0x1.9bcb96d142326p-56}},
    {{0x1.405390240e6fdp-4, 0x1.1ed0159037972p-58}, {-0x1.7e1a7c4201ea8p+0, -0x1.c87561d842470p-54}},
    {{0x1.606f49730ccc5p-4, 0x1.9850602873eadp-60}, {-0x1.7c18c0ad1204cp+0, 0x1.5ff6f27ae079fp-57}},
    {{0x1.809092913e52ep-4, 0x1.cf6b1f9befb16p-60}, {-0x1.7a16ac1b2eec5p+0, -0x1.9324b6b2d601bp-54}},
    {{0x1.a0b7f03ba78acp-4, 0x1.649d95519e008p-58}, {-0x1.781436408858ep+0, 0x1.fbe77623d41fap-54}},
    {{0x1.c0e5e80f7172dp-4, 0x1.d8eeba8bc0030p-58}, {-0x1.761156c34bba5p+0, -0x1.bcd3778889c04p-54}},
    {{0x1.e11b009e269b5p-4, 0x1.865800d58cefcp-59}, {-0x1.740e053a6067dp+0, 0x1.8e82e6ab35388p-57}},
    {{0x1.00abe0c129e1ep-3, 0x1.7ceb0ee49d42ap-60}, {-0x1.720a392c1d955p+0, 0x1.eb91490a4cb4ap-54}},
    {{0x1.10ce59ba4a8c4p-3, -0x1.ecbd1cfea3329p-61}, {-0x1.7005ea0cf9800p+0, 0x1.c388452979f26p-55}},
    {{0x1.20f530308cc20p-3, -0x1.ed63934b583b4p-57}, {-0x1.6e010f3e31394p+0, -0x1.580ed59ab0c7dp-54}},
    {{0x1.3120a9bed2f46p-3, -0x1.c02be339d3487p-57}, {-0x1.6bfba00c68730p+0, 0x1.ad9820677fd68p-54}},
    {{0x1.41510cb011423p-3, -0x1.15d675180eda8p-58}, {-0x1.69f593ae40a94p+0, 0x1.5100d5f4e547ap-56}},
    {{0x1.5186a00ade974p-3, 0x1.4d5f66b2b5c3cp-59}, {-0x1.67eee142e6feap+0, 0x1.e01130089fdb6p-55}},
    {{0x1.61c1ab9d55d30p-3, -0x1.95a37debb0f64p-57}, {-0x1.65e77fd098172p+0, -0x1.4d16d2eebbdf3p-54}},
    {{0x1.720278094cd3cp-3, 0x1.fa81a09cedb07p-57}, {-0x1.63df664319371p+0, 0x1.24edd0e257f5ap-54}},
    {{0x1.82494ed0e78fcp-3, -0x1.443c2697a7d2fp-57}, {-0x1.61d68b6a25df9p+0, 0x1.7a2c2ff78a8a7p-55}},
    {{0x1.92967a638db38p-3, -0x1.9cd53f748193ep-60}, {-0x1.5fcce5f7d11b1p+0, -0x1.20d5b82f17c6cp-54}},
    {{0x1.a2ea462b4998ep-3, -0x1.51d494caa9d70p-57}, {-0x1.5dc26c7ed99e7p+0, 0x1.bb630a356504bp-54}},
    {{0x1.b344fe9a97c4dp-3, 0x1.17c005e947d2bp-58}, {-0x1.5bb71570efd8fp+0, 0x1.77199d2d4ebccp-54}},
    {{0x1.c3a6f13aae84bp-3, -0x1.7739d10fe8bc1p-57}, {-0x1.59aad71ced00fp+0, 0x1.b5b31565e9408p-57}},
    {{0x1.d4106cba45b08p-3, 0x1.ee49ea61bfe56p-57}, {-0x1.579da7acfa1b7p+0, -0x1.b9324bca1b878p-55}},
    {{0x1.e481c0fce7134p-3, 0x1.c9bcb7ab7132bp-62}, {-0x1.558f7d24a5ef2p+0, 0x1.ceceb30ccb619p-55}},
    {{0x1.f4fb3f2ad079bp-3, 0x1.06aa46436695ap-58}, {-0x1.53804d5ee8c25p+0, 0x1.d82104cbc2a3bp-56}},
    {{0x1.02be9ce0b87cdp-2, 0x1.e5d09da2e0f04p-58}, {-0x1.51700e0c14b25p+0, 0x1.fd535474274b1p-61}},
    {{0x1.0b04025245cccp-2, 0x1.784cec5727455p-56}, {-0x1.4f5eb4afb15e5p+0, -0x1.789e5036f7de3p-55}},
    {{0x1.134dfa9805147p-2, -0x1.bbe27a4ac52e2p-56}, {-0x1.4d4c369e418c7p+0, 0x1.76a4fe3c08f41p-54}},
    {{0x1.1b9cb12545e62p-2, -0x1.7f2d0bf1d1630p-57}, {-0x1.4b3888faf1580p+0, 0x1.6b6ff6a100266p-55}},
    {{0x1.23f0523c5dc2bp-2, 0x1.4fc2674a3d6b2p-59}, {-0x1.4923a0b52b60ep+0, 0x1.f01bb0090c2afp-54}},
    {{0x1.2c490af8bde81p-2, -0x1.61b192e95f88bp-56}, {-0x1.470d728613578p+0, -0x1.cb3b1fae768a6p-56}},
    {{0x1.34a709597aab1p-2, -0x1.70f1371722985p-56}, {-0x1.44f5f2ede426cp+0, -0x1.da7ac3dc399a0p-56}},
    {{0x1.3d0a7c4c4bd9cp-2, -0x1.87f647bb796d8p-58}, {-0x1.42dd16312fdb1p+0, -0x1.32e1c7acfd574p-54}},
    {{0x1.457393b90e2aap-2, 0x1.b1f64d329fe98p-56}, {-0x1.40c2d055ff46ep+0, 0x1.521b301b6239fp-54}},
    {{0x1.4de2808dce513p-2, 0x1.ba77dda083efap-58}, {-0x1.3ea71520cf3d3p+0, -0x1.febae5573d817p-54}},
    {{0x1.565774cb66f02p-2, -0x1.c537759c5cce1p-56}, {-0x1.3c89d81169158p+0, 0x1.d13efd9e8c303p-56}},
    {{0x1.5ed2a392bb50fp-2, 0x1.feb5a76d36567p-56}, {-0x1.3a6b0c5f93fd4p+0, -0x1.9ab4f955f82adp-54}},
    {{0x1.675441329986ep-2, 0x1.d027ed2bb2edap-56}, {-0x1.384aa4f79c6fdp+0, 0x1.59a79819a6fb0p-54}},
    {{0x1.6fdc83364f719p-2, 0x1.cc49c4fdd8042p-56}, {-0x1.36289476aef52p+0, 0x1.62c03838c1026p-56}},
    {{0x1.786ba074fef93p-2, -0x1.73b1910f90a93p-56}, {-0x1.3404cd2703134p+0, 0x1.88b1388ad6154p-54}},
    {{0x1.8101d121bed2dp-2, 0x1.1db04b2b75f1fp-58}, {-0x1.31df40fbd31cdp+0, -0x1.10ebcfd1cc29dp-59}},
    {{0x1.899f4edc962d3p-2, 0x1.3e919701b7c6dp-60}, {-0x1.2fb7e18d1d464p+0, 0x1.ea97e32ac11ebp-54}},
    {{0x1.924454c462cc4p-2, 0x1.f2cb742770a5cp-56}, {-0x1.2d8ea0132a1e7p+0, -0x1.3b5f0c4ed32e0p-55}},
    {{0x1.9af11f89ba61cp-2, 0x1.a884c2416dce8p-56}, {-0x1.2b636d61d4391p+0, -0x1.60826541d499ap-55}},
    {{0x1.a3a5ed82d9537p-2, 0x1.a2f7c3ea46d69p-57}, {-0x1.293639e38c7cap+0, -0x1.e6036ab3fce5ap-54}},
    {{0x1.ac62fec0b2a92p-2, 0x1.cb9f9a052f11fp-56}, {-0x1.2706f59416274p+0, 0x1.5885835006041p-54}},
    {{0x1.b5289525368abp-2, 0x1.74049ce3d99e1p-57}, {-0x1.24d58ffaf52edp+0, -0x1.ebe1cf94ca8cbp-54}},
    {{0x1.bdf6f47ae6904p-2, 0x1.e7bfe76547424p-56}, {-0x1.22a1f825892d7p+0, -0x1.40e4d2afe7dfcp-55}},
    {{0x1.c6ce628dd132cp-2, -0x1.a252213096b1dp-58}, {-0x1.206c1ca0ce84dp+0, -0x1.348785444f2b9p-54}},
    {{0x1.cfaf27460fe9fp-2, -0x1.8bf75f355f723p-57}, {-0x1.1e33eb72bed71p+0, 0x1.b41eb0e80e515p-54}},
    {{0x1.d8998cc3e6049p-2, 0x1.885cf38c7579ep-56}, {-0x1.1bf9521349506p+0, 0x1.1ed366c75e782p-56}},
    {{0x1.e18ddf7da106bp-2, -0x1.58029cecb4d7bp-58}, {-0x1.19bc3d64da8fep+0, 0x1.d01d72ffeef21p-54}},
    {{0x1.ea8c6e5f5e67fp-2, -0x1.6a70e7b5a472cp-56}, {-0x1.177c99ac6b379p+0, 0x1.8b0162e15122ep-54}},
    {{0x1.f3958aecddef4p-2, -0x1.fc135930a7786p-58}, {-0x1.153a52890b55bp+0, -0x1.3a2398c45037fp-54}},
    {{0x1.fca989658baafp-2, -0x1.10e104cee0e3fp-57}, {-0x1.12f552eadfe6dp+0, 0x1.c3817c34de231p-54}},
    {{0x1.02e46075785a1p-1, 0x1.d1c9139aa7a36p-56}, {-0x1.10ad850986a48p+0, 0x1.5a0fe1b564287p-54}},
    {{0x1.0779c5d4df4b8p-1, 0x1.d8e763d34303bp-55}, {-0x1.0e62d259d32bcp+0, -0x1.6f758a3d21f4cp-57}},
    {{0x1.0c152382d7366p-1, -0x1.ee6913347c2a6p-55}, {-0x1.0c152382d7366p+0, 0x1.ee6913347c2a6p-54}},
    {{0x1.10b6a9e43942fp-1, 0x1.1ae31b4e46cbap-56}, {-0x1.09c4605226301p+0, 0x1.2c5663a24bf28p-54}},
    {{0x1.155e8b2a00052p-1, 0x1.bb9429fa5e8f6p-57}, {-0x1.07706faf42cefp+0, -0x1.c5dfbbe3f3dd0p-55}},
    {{0x1.1a0cfb6c3e9ebp-1, -0x1.2a4e178b45f13p-56}, {-0x1.0519378e23823p+0, 0x1.36142dd7d1869p-55}},
    {{0x1.1ec230c714a96p-1, 0x1.41dc77911b08cp-55}, {-0x1.02be9ce0b87cdp+0, -0x1.e5d09da2e0f04p-56}},
    {{0x1.237e6379cdfc7p-1, -0x1.ac50afe6ca0cbp-55}, {-0x1.006083875bd35p+0, 0x1.eea89b6aa726dp-59}},
    {{0x1.2841ce0862975p-1, -0x1.7ed81c0e02251p-55}, {-0x1.fbfd9c80230bcp-1, 0x1.318c763dc9683p-57}},
    {{0x1.2d0cad5f90e20p-1, -0x1.68b79245cb110p-55}, {-0x1.f732bd28f4c11p-1, 0x1.8a0e9d5ea5b89p-57}},
    {{0x1.31df40fbd31cdp-1, 0x1.10ebcfd1cc29dp-60}, {-0x1.f260298cb2864p-1, 0x1.d3c2981c02e07p-55}},
    {{0x1.36b9cb13786e1p-1, -0x1.fd7fc43033fbep-58}, {-0x1.ed859f750d350p-1, 0x1.8b8b41176dffbp-55}},
    {{0x1.3b9c90c43296dp-1, -0x1.76eebb78fe641p-56}, {-0x1.e8a2d9c4530c4p-1, 0x1.0fc3dbe0f54d2p-55}},
    {{0x1.4087da4473296p-1, -0x1.c940bb81a9429p-55}, {-0x1.e3b790441279bp-1, 0x1.fa7e1bcb3c8d7p-63}},
    {{0x1.457bf318fe517p-1, -0x1.6189642d67942p-55}, {-0x1.dec3776f8751ap-1, 0x1.a6c755c033ac1p-57}},
    {{0x1.4a792a4f26152p-1, 0x1.ddd2008825ac5p-55}, {-0x1.d9c640395f8dep-1, -0x1.5bcb176997524p-57}},
    {{0x1.4f7fd2bc2fb34p-1, -0x1.d7c3a91e5f88bp-55}, {-0x1.d4bf97cc55efdp-1, -0x1.910df01d61316p-60}},
    {{0x1.5490434275b92p-1, -0x1.053f8a02c4c61p-55}, {-0x1.cfaf27460fe9fp-1, 0x1.8bf75f355f723p-56}},
    {{0x1.59aad71ced00fp-1, -0x1.b5b31565e9408p-58}, {-0x1.ca94936b98a22p-1, 0x1.9484d6f0b7571p-55}},
    {{0x1.5ecfee31c96e7p-1, 0x1.56182aa2130a9p-59}, {-0x1.c56f7c56bc34ap-1, 0x1.e09cbc4795afdp-55}},
    {{0x1.63ffed6d198f6p-1, 0x1.b5625ef0627b6p-55}, {-0x1.c03f7d1b6c13ap-1, -0x1.fd899dc8a4160p-57}},
    {{0x1.693b3f244ee17p-1, 0x1.50290ad3cbb0cp-55}, {-0x1.bb042b6436c19p-1, -0x1.c937771d7fa04p-56}},
    {{0x1.6e825383cc40bp-1, 0x1.1a9ec7321e76ap-56}, {-0x1.b5bd1704b9625p-1, -0x1.a77562c97c459p-55}},
    {{0x1.73d5a107bde74p-1, 0x1.f01f843e1df48p-56}, {-0x1.b069c980c7bbcp-1, -0x1.3cb504437c86ap-55}},
    {{0x1.7935a501afa78p-1, -0x1.a585b7d2a71f2p-55}, {-0x1.ab09c586d5fb9p-1, 0x1.2dac0e566b001p-58}},
    {{0x1.7ea2e42c9027ap-1, 0x1.e9341bdc29472p-55}, {-0x1.a59c865bf57b6p-1, -0x1.2e42aa1988e6dp-57}},
    {{0x1.841deb5114bb4p-1, -0x1.49d1c4e2eba5ep-55}, {-0x1.a0217f3770e7dp-1, 0x1.02d2e97511b28p-56}},
    {{0x1.89a74ffcc34a4p-1, -0x1.7cb92206fd8d3p-55}, {-0x1.9a981a8bc258dp-1, 0x1.3a085e59dbc7ep-57}},
    {{0x1.8f3fb14e496b4p-1, 0x1.73d01b84833b2p-55}, {-0x1.94ffb93a3c37cp-1, -0x1.81e955bc108b7p-56}},
    {{0x1.94e7b8da3cf7ap-1, 0x1.015e73034d791p-56}, {-0x1.8f57b1ae48ab6p-1, -0x1.b4158ce0e4c45p-55}},
};
alignas(16) constexpr double cos_table[92][2] = {
    {0x1.0000000000000p+0, 0x0.0p+0},
    {0x1.fffbfffbfff80p-1, -0x1.4003800a80210p-61},
    {0x1.ffefffbffdfffp-1, -0x1.003802a02101bp-55},
    {0x1.ffdbfebbe9360p-1, -0x1.8cf495d97fbcfp-58},
    {0x1.ffbffbff7fec0p-1, -0x1.c05410835ab2ep-56},
    {0x1.ff9bf63a1740bp-1, -0x1.8d8d880238883p-55},
    {0x1.ff6febba4bfeap-1, 0x1.d6d4ea9aa5695p-57},
    {0x1.ff3bda6d9c950p-1, 0x1.fc1afd1f34084p-55},
    {0x1.feffbfdfebf1fp-1, 0x1.5dee51994f18bp-55},
    {0x1.febb993aecf99p-1, -0x1.66404ee53b036p-56},
    {0x1.fe6f634576477p-1, -0x1.0f8806016f092p-60},
    {0x1.fe1b1a62bddadp-1, -0x1.5a2b81a074a72p-55},
    {0x1.fdbeba917c3f5p-1, 0x1.2c0681a46a556p-55},
    {0x1.fd5a3f6af6b74p-1, 0x1.108aba8eafd17p-60},
    {0x1.fceda421efdb5p-1, -0x1.64fa09c1806ebp-59},
    {0x1.fc78e3817e16ep-1, 0x1.aa014670a73c8p-55},
    {0x1.fbfbf7ebc755fp-1, -0x1.b2a94084da0b6p-55},
    {0x1.fb76db58a1299p-1, 0x1.5f7b4f3d03516p-56},
    {0x1.fae987541497fp-1, 0x1.99878449315f4p-55},
    {0x1.fa53f4fcc4b79p-1, -0x1.39c49d9cb6987p-57},
    {0x1.f9b61d0237250p-1, 0x1.d3ca3915d1a44p-55},
    {0x1.f90ff7a2fd4d2p-1, 0x1.c88d7238d33aap-55},
    {0x1.f8617caabd6f6p-1, 0x1.cd851109c4193p-56},
    {0x1.f7aaa3701a270p-1, 0x1.01268cd7d51d3p-55},
    {0x1.f6eb62d27730dp-1, -0x1.401d95ca1ce34p-55},
    {0x1.f623b1379a09bp-1, -0x1.86e996d529a0ep-56},
    {0x1.f553848924e81p-1, 0x1.7377b3e691f21p-56},
    {0x1.f47ad231ea746p-1, 0x1.e3e0cec6ce7ebp-58},
    {0x1.f3998f1b1886cp-1, 0x1.6b699b6f7882ep-55},
    {0x1.f2afafa9380f9p-1, 0x1.04fb6593a641dp-57},
    {0x1.f1bd27b9002c4p-1, 0x1.56e59d2cf3bc3p-56},
    {0x1.f0c1ea9bfa45fp-1, 0x1.cd70bfb79fc24p-55},
    {0x1.efbdeb14f4edap-1, -0x1.3a145fe1be078p-55},
    {0x1.eeb11b5442ff1p-1, 0x1.88222a0c6a413p-55},
    {0x1.ed9b6cf3c4663p-1, 0x1.9c03e66f9aa9ep-59},
    {0x1.ec7cd0f2b5ae0p-1, -0x1.f16061f937338p-55},
    {0x1.eb5537b1434dap-1, -0x1.c180d47e8730cp-55},
    {0x1.ea2490ebdd6b8p-1, 0x1.6a442ee665c58p-59},
    {0x1.e8eacbb648910p-1, -0x1.2ce442f780a3ap-55},
    {0x1.e7a7d6766784bp-1, -0x1.166e00683d901p-55},
    {0x1.e65b9edeba38ep-1, -0x1.bb73251e8c364p-57},
    {0x1.e50611e88d6b5p-1, 0x1.8ef0d02708c9ep-56},
    {0x1.e3a71bcdd63dep-1, -0x1.1a64806c8541cp-55},
    {0x1.e23ea802b4b1ap-1, 0x1.e4f0308832a36p-56},
    {0x1.e0cca12e97895p-1, -0x1.316d1acdf7b57p-55},
    {0x1.df50f124fba75p-1, -0x1.bff092e876404p-56},
    {0x1.ddcb80ddc085bp-1, -0x1.bdfd75fd78bd9p-57},
    {0x1.dc3c386d0ae09p-1, -0x1.577eac7c8c6aap-55},
    {0x1.daa2fefaae1d8p-1, -0x1.3fe0e03f44594p-58},
    {0x1.d8ffbab9145d4p-1, 0x1.d0ae72408b3d4p-55},
    {0x1.d75250db9c792p-1, 0x1.1e2779b1d293dp-55},
    {0x1.d59aa58c6471cp-1, 0x1.943ed85ebe99dp-55},
    {0x1.d3d89be176072p-1, 0x1.54fe1c5f17367p-56},
    {0x1.d20c15d14a4e5p-1, -0x1.5d8b6fe39cd22p-55},
    {0x1.d034f42698214p-1, 0x1.49958a3293ba5p-55},
    {0x1.ce5316736032ep-1, -0x1.63273e0e6448ap-56},
    {0x1.cc665b0328622p-1, -0x1.1baa4d369f814p-55},
    {0x1.ca6e9ecc569b9p-1, 0x1.783ea1342dcb6p-55},
    {0x1.c86bbd609a260p-1, -0x1.12db7fe324653p-57},
    {0x1.c65d90dc509f4p-1, -0x1.b204c6d0fdc0dp-58},
    {0x1.c443f1d4d22afp-1, -0x1.dea6ecd25e5e4p-57},
    {0x1.c21eb7458e5ccp-1, 0x1.8a2f18d525648p-56},
    {0x1.bfedb67be13b3p-1, -0x1.d0bbeb53fe173p-55},
    {0x1.bdb0c30185485p-1, 0x1.8c31332cfe50fp-57},
    {0x1.bb67ae8584caap-1, 0x1.cec95d0b5c1e3p-55},
    {0x1.b91248c38986bp-1, 0x1.bcb099b6e3288p-56},
    {0x1.b6b05f6966b9bp-1, -0x1.a297779185862p-56},
    {0x1.b441bdfab5580p-1, 0x1.2e0607f5cbac0p-57},
    {0x1.b1c62db2564fep-1, 0x1.ed2e2c1a79b97p-55},
    {0x1.af3d7561a9c43p-1, 0x1.845d797bd0f86p-55},
    {0x1.aca7594d44cbdp-1, -0x1.62dd00a025a1dp-55},
    {0x1.aa039b06e926dp-1, -0x1.022cb5d1548c2p-58},
    {0x1.a751f9447b724p-1, 0x1.2b909477e9ed1p-56},
    {0x1.a4922fb3ac8c2p-1, -0x1.3d561e6dc27dfp-55},
    {0x1.a1c3f6ca01f29p-1, -0x1.cebf5548e9619p-56},
    {0x1.9ee70390dec3dp-1, -0x1.563c788b3b54bp-55},
    {0x1.9bfb076d236ebp-1, -0x1.a7391cb03223bp-56},
    {0x1.98ffafe1ece2fp-1, 0x1.1151b7553dc67p-55},
    {0x1.95f4a64decda8p-1, -0x1.0597479209667p-60},
    {0x1.92d98fa2c355ep-1, -0x1.f835038fcb912p-55},
    {0x1.8fae0c15ad38ap-1, -0x1.db7adb6817f6dp-57},
    {0x1.8c71b6c8c49b4p-1, 0x1.ed806af20e51cp-56},
    {0x1.8924256bf4545p-1, 0x1.62b7d5e6665e3p-56},
    {0x1.85c4e7d4a0bb1p-1, -0x1.453abc089bf77p-56},
    {0x1.8253878ae2e09p-1, -0x1.dd13b570fbe2fp-55},
    {0x1.7ecf874b086dfp-1, 0x1.17dd95ebf971cp-55},
    {0x1.7b386279d7bf3p-1, 0x1.6dd6abafd746ep-59},
    {0x1.778d8c89dc27cp-1, -0x1.edec73c33bfcdp-56},
    {0x1.73ce704fb7b23p-1, 0x1.1470b816b17a6p-55},
    {0x1.6ffa6f4323c0dp-1, 0x1.149bcf548495ep-55},
    {0x1.6c10e0a9e5d65p-1, 0x1.4bb162726a9b4p-55},
    {0x1.681110a985d4dp-1, 0x1.6650e2ef44502p-55},
};

constexpr double atan_scale = 128 * (1 - 0x1p-20), asin_scale = 128 * (1 - 0x1p-12);
constexpr double largest_atan = 0x1p60;
constexpr double a3 = -1.0 / 3, a5 = 1.0 / 5, a7 = -1.0 / 7;
constexpr double s3 = 1.0 / 6, s5 = 3.0 / 40, s7 = 5.0 / 112, s9 = 35.0 / 1152;

// The nearest integer to t * scale (t >= 0, below 2^20), k, in the low
// bits of the result, and k / 128.
struct Index {
    V shifted, c;
};
[[gnu::always_inline]] inline Index index_of(V t, double scale) {
    const V shifted = fma(t, set(scale), set(integer_shift));
    return {shifted, fma(shifted, set(1.0 / 128), set(-integer_shift / 128))};  // exact
}

// Offsets in doubles of the rows (hi, lo) [k][flip] of a table.
[[gnu::always_inline]] inline I rows(V shifted, V flip) {
    const I k = _mm256_and_si256(_mm256_castpd_si256(shifted), set_bits(255));
    return _mm256_or_si256(_mm256_slli_epi64(k, 2), _mm256_and_si256(_mm256_castpd_si256(flip), set_bits(2)));
}

// The double-doubles at base + at[0 .. 3], as hi and lo vectors.
[[gnu::always_inline]] inline DD gather(const double* base, const std::int64_t* at) {
    const __m128d t0 = _mm_load_pd(base + at[0]);
    const __m128d t1 = _mm_load_pd(base + at[1]);
    const V rows02 = _mm256_insertf128_pd(_mm256_castpd128_pd256(t0), _mm_load_pd(base + at[2]), 1);
    const V rows13 = _mm256_insertf128_pd(_mm256_castpd128_pd256(t1), _mm_load_pd(base + at[3]), 1);
    return {_mm256_unpacklo_pd(rows02, rows13), _mm256_unpackhi_pd(rows02, rows13)};
}

// T + r_hi + q as a normalised double-double, |r_hi| <= |T_hi| or T = 0.
[[gnu::always_inline]] inline DD total(DD t, V r_hi, V q) {
    const DD s = fast_two_sum(t.hi, r_hi);
    return fast_two_sum(s.hi, add(s.lo, add(t.lo, q)));
}

// A quiet NaN in the lanes out of range: it carries through the rest
// without a flag and fails the rounding test, so those lanes go to the C
// library.
[[gnu::always_inline]] inline V out_of_range(V in, V v) {
    return _mm256_or_pd(v, _mm256_andnot_pd(in, set(__builtin_nan(""))));
}

// The lanes for the C library: rounds_to_hi's test, negated (NaNs too).
[[gnu::always_inline]] inline int deferred(DD r, double margin) {
    return lanes_of(_mm256_cmp_pd(fma(r.lo, set(0.5 / (0.5 - margin)), r.hi), r.hi, _CMP_NEQ_UQ));
}

struct Atan {
    static constexpr double margin = atan_margin;
    static double libm(double v) { return ::atan(v); }

    // u = u_hi + u_lo, and the table's rows.
    [[gnu::always_inline]] static void reduce(V xv, double* hi, double* lo, std::int64_t* at) {
        const V in = greater_equal(abs(xv), set(smallest));
        const V a = _mm256_min_pd(_mm256_and_pd(in, abs(xv)), set(largest_atan));  // 0 out of range
        const V one = set(1.0);
        const V flip = less(one, a);
        const V y = _mm256_min_pd(a, one), x = _mm256_max_pd(a, one);
        const Index i = index_of(_mm256_div_pd(y, x), atan_scale);
        _mm256_store_si256(reinterpret_cast<I*>(at), rows(i.shifted, flip));
        const V num = fnma(i.c, x, y);  // exact
        const V den_hi = fma(i.c, y, x);
        const V den_lo = fma(i.c, y, sub(x, den_hi));  // exact
        const V rcp = _mm256_div_pd(one, den_hi);
        const V u_hi = mul(num, rcp);
        _mm256_store_pd(hi, u_hi);
        _mm256_store_pd(lo, out_of_range(in, mul(fnma(u_hi, den_lo, fnma(u_hi, den_hi, num)), rcp)));
    }

    // T + atan(u).
    [[gnu::always_inline]] static DD finish(V u_hi, V u_lo, const std::int64_t* at) {
        const V z = mul(u_hi, u_hi);
        V p = fma(set(a7), z, set(a5));
        p = fma(p, z, set(a3));
        return total(gather(&atan_table[0][0][0], at), u_hi, fma(mul(u_hi, z), p, u_lo));
    }
};

struct Asin {
    static constexpr double margin = asin_margin;
    static double libm(double v) { return ::asin(v); }

    // v = v_hi + v_lo, and the table's rows.
    [[gnu::always_inline]] static void reduce(V xv, double* hi, double* lo, std::int64_t* at) {
        const V one = set(1.0);
        const V in = _mm256_and_pd(greater_equal(abs(xv), set(smallest)), less_equal(abs(xv), one));
        const V a = _mm256_and_pd(in, abs(xv));  // 0 out of range
        // 1 - a and 1 + a exactly, their product w to 2^-104.
        const V d_hi = sub(one, a), d_lo = sub(sub(one, d_hi), a);
        const V e_hi = add(one, a), e_lo = sub(a, sub(e_hi, one));
        const V w_hi = mul(d_hi, e_hi);
        const V w_lo = fma(d_hi, e_lo, fma(d_lo, e_hi, fms(d_hi, e_hi, w_hi)));
        // s = sqrt(w).
        const V s_hi = _mm256_sqrt_pd(w_hi);
        const V half_rcp = _mm256_div_pd(set(0.5), _mm256_max_pd(s_hi, set(0x1p-60)));
        const V s_lo = mul(add(fnma(s_hi, s_hi, w_hi), w_lo), half_rcp);
        // p = sin phi <= 1/sqrt 2 and q = cos phi: a and s, the smaller first.
        const V flip = less(s_hi, a);
        const V p_hi = _mm256_min_pd(a, s_hi), p_lo = _mm256_and_pd(flip, s_lo);
        const V q_hi = _mm256_max_pd(a, s_hi), q_lo = _mm256_andnot_pd(flip, s_lo);

        const Index j = index_of(p_hi, asin_scale);
        const I row = rows(j.shifted, flip);
        _mm256_store_si256(reinterpret_cast<I*>(at), row);
        // The cosines' rows: j, where the table's are 2 j + flip.
        alignas(32) std::int64_t cos_at[4];
        _mm256_store_si256(reinterpret_cast<I*>(cos_at), _mm256_srli_epi64(_mm256_andnot_si256(set_bits(2), row), 1));
        __asm__("" : "+m"(cos_at));  // read back from memory, not moved lane by lane
        const DD c = gather(&cos_table[0][0], cos_at);

        const DD pc = two_prod(p_hi, c.hi);
        const DD bq = two_prod(j.c, q_hi);
        _mm256_store_pd(hi, sub(pc.hi, bq.hi));  // exact
        _mm256_store_pd(lo, out_of_range(in, fnma(j.c, q_lo, fma(p_lo, c.hi, fma(p_hi, c.lo, sub(pc.lo, bq.lo))))));
    }

    // T + asin(v).
    [[gnu::always_inline]] static DD finish(V v_hi, V v_lo, const std::int64_t* at) {
        const V z = mul(v_hi, v_hi);
        V p = fma(set(s9), z, set(s7));
        p = fma(p, z, set(s5));
        p = fma(p, z, set(s3));
        return total(gather(&asin_table[0][0][0], at), v_hi, fma(mul(v_hi, z), p, v_lo));
    }
};

// |v| with the sign of x.
[[gnu::always_inline]] inline V with_sign(V v, V x) { return _mm256_or_pd(abs(v), _mm256_and_pd(x, set(-0.0))); }

template <class F>
void kernel(const double* x, std::ptrdiff_t n, double* out) noexcept {
    // Stretches of up to 256 values. When `out` is `x` the stretch's
    // arguments are kept aside first.
    constexpr int stretch = 256;
    alignas(32) double kept[stretch], hi[stretch], lo[stretch];
    alignas(32) std::int64_t at[stretch];
    for (std::ptrdiff_t start = 0; start < n; start += stretch) {
        const int m = n - start < stretch ? int(n - start) : stretch;
        const int vectors = m & ~3;
        const double* in = x + start;
        double* o = out + start;
        if (in == o) in = static_cast<const double*>(__builtin_memcpy(kept, in, sizeof(double) * m));
        for (int j = 0; j < vectors; j += 4) F::reduce(_mm256_loadu_pd(in + j), hi + j, lo + j, at + j);
        // The lanes for the C library, one bit each: fewer operations per
        // vector than a list.
        std::uint64_t late[stretch / 64] = {};
        for (int j = 0; j < vectors; j += 4) {
            const DD r = F::finish(_mm256_load_pd(hi + j), _mm256_load_pd(lo + j), at + j);
            late[j >> 6] |= std::uint64_t(deferred(r, F::margin)) << (j & 63);
            _mm256_storeu_pd(o + j, with_sign(r.hi, _mm256_loadu_pd(in + j)));
        }
        for (int j = vectors; j < m; ++j) late[j >> 6] |= std::uint64_t(1) << (j & 63);
        for (int w = 0; w < stretch / 64; ++w)
            for (std::uint64_t bits = late[w]; bits; bits &= bits - 1) {
                const int j = 64 * w + __builtin_ctzll(bits);
                o[j] = F::libm(in[j]);
            }
    }
}

template <class F>
void parts(const double* x, std::ptrdiff_t n, double* hi, double* lo) noexcept {
    alignas(32) double h[4], l[4];
    alignas(32) std::int64_t at[4];
    for (std::ptrdiff_t j = 0; j + 4 <= n; j += 4) {
        const V xv = _mm256_loadu_pd(x + j);
        F::reduce(xv, h, l, at);
        const DD r = F::finish(_mm256_load_pd(h), _mm256_load_pd(l), at);
        // r or its negative: the sign of x on both parts.
        const V sign = _mm256_and_pd(_mm256_xor_pd(r.hi, xv), set(-0.0));
        _mm256_storeu_pd(hi + j, _mm256_xor_pd(r.hi, sign));
        _mm256_storeu_pd(lo + j, _mm256_xor_pd(r.lo, sign));
    }
}

QUARNEL_TARGET_END

}  // namespace

void asin_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept { kernel<Asin>(x, n, out); }
void atan_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept { kernel<Atan>(x, n, out); }
void asin_parts_avx2(const double* x, std::ptrdiff_t n, double* hi, double* lo) noexcept { parts<Asin>(x, n, hi, lo); }
void atan_parts_avx2(const double* x, std::ptrdiff_t n, double* hi, double* lo) noexcept { parts<Atan>(x, n, hi, lo); }

#else

void asin_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept { libm_asin(x, n, out); }
void atan_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept { libm_atan(x, n, out); }
void asin_parts_avx2(const double*, std::ptrdiff_t, double*, double*) noexcept {}
void atan_parts_avx2(const double*, std::ptrdiff_t, double*, double*) noexcept {}

#endif

}  // namespace quarnel::asin_atan_kernel::detail
