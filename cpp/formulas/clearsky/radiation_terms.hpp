// The two auxiliary terms of the clear-sky maxima. MaxDirekteStrahlung and
// MaxGlobalstrahlung each have an ExtraterrStrahlung and a Druckkorrektur
// of their own (own names, own traceback entries, own lines) with the same
// formula; the routine is written once here and run in the frame of the
// inner function it stands for.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"

namespace quarnel::clearsky {

inline constexpr const char* extraterr_params[] = {"dayofyear"};
inline constexpr const char* extraterr_locals[] = {"S0", "Result"};
inline constexpr const char* druckkorrektur_params[] = {"Hoehe"};
inline constexpr const char* druckkorrektur_locals[] = {"Result"};

// Extraterrestrial radiation [W/m2] on the day of the year: the solar
// constant S0 = 1367 W/m2 scaled by the eccentricity of the earth's orbit,
//     S0 (1 + 0.03344 cos((pi / 180) ((0.9856 dayofyear) - 2.72))).
// `info` is the inner function's own description; its formula stands two
// lines below its first line (after S0 = 1367).
template <class D, class T>
auto extraterrestrial_radiation(D& d, const FunctionInfo& info, const T& dayofyear) {
    return d.inner(info, [&] {
        d.at(info.first_line + 2);
        auto cos = d.fn(NpFn::cos);
        auto pi = d.pi();
        auto per_degree = d.div(pi, k::i180);
        auto a = d.sub(d.mul(k::f0_9856, dayofyear), k::f2_72);
        a = d.mul(per_degree, a);
        auto c = d.mul(k::f0_03344, d.call(cos, a));
        c = d.add(k::i1, c);
        return d.mul(k::i1367, c);
    });
}

// Pressure correction for the height of the site [m]: the barometric
// factor exp(-Hoehe / 8434.5) with the scale height 8434.5 m. Its formula
// stands on the line after the inner function's first line.
template <class D, class T>
auto pressure_correction(D& d, const FunctionInfo& info, const T& Hoehe) {
    return d.inner(info, [&] {
        d.at(info.first_line + 1);
        auto exp = d.fn(NpFn::exp);
        auto n = d.div(d.neg(Hoehe), k::f8434_5);
        return d.call(exp, n);
    });
}

}  // namespace quarnel::clearsky
