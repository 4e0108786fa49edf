// Solar zenith angle [deg] from solar time [h], latitude [deg] and day of
// year [d].
//
// The elevation follows from the spherical triangle pole-zenith-sun,
// sin(elevation) = -cos(latitude) cos(szeit * pi / 12) cos(delta)
//                  + sin(delta) sin(latitude),
// where -cos(szeit * pi / 12) is the cosine of the hour angle counted from
// solar noon (15 deg/h). The zenith angle is 90 - elevation. Every step is
// element-wise; the arcsine is not clamped, so a rounding beyond +-1 gives
// NaN with NumPy's warning.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "formulas/solar/declination.hpp"
#include "values/trig_degrees.hpp"

namespace quarnel::solar {

inline constexpr const char zenitwinkel_doc[] =
    "\n"
    "    def deklin(dayofyear):\n"
    "        Result = np.degrees(np.arcsin(0.3978*np.sin(np.radians(0.9856*dayofyear-2.72-77.51"
    "+1.92*np.sin(np.radians(0.9856*dayofyear-2.72))))))\n"
    "        return Result\n"
    "    delta = deklin(dayofyear)\n"
    "    ";
static_assert(sizeof(zenitwinkel_doc) - 1 == 226);

inline constexpr const char* zenitwinkel_params[] = {"szeit", "breite", "dayofyear"};
inline constexpr const char* zenitwinkel_locals[] = {"delta", "sinBr", "cosBr", "sinD",
                                                     "cosD",  "s",     "Result"};
inline constexpr FunctionInfo zenitwinkel_info{
    "Zenitwinkel", "Zenitwinkel", "quarnel.Strahlwerk.Zenitwinkel", 31,
    zenitwinkel_params, zenitwinkel_locals, zenitwinkel_doc};

struct Zenitwinkel {
    static constexpr const FunctionInfo& info = zenitwinkel_info;

    template <class D>
    static auto eval(D& d, typename D::A szeit, typename D::A breite, typename D::A dayofyear) {
        d.at(38);
        auto delta = declination(d, dayofyear);

        auto [sinBr, cosBr] = sin_cos_of_degrees(d, breite, 39, 40);
        auto [sinD, cosD] = sin_cos_of_degrees(d, delta, 41, 42);

        // Elevation [deg]: the products taken from left to right.
        d.at(43);
        auto degrees = d.fn(NpFn::degrees);
        auto arcsin = d.fn(NpFn::arcsin);
        auto x = d.neg(cosBr);
        auto cos_hour = d.fn(NpFn::cos);
        auto pi = d.pi();
        auto hour = d.div(d.mul(szeit, pi), k::i12);
        x = d.mul(x, d.call(cos_hour, hour));
        x = d.mul(x, cosD);
        auto y = d.mul(sinD, sinBr);
        x = d.add(x, y);
        auto s = d.call(degrees, d.call(arcsin, x));

        d.at(44);
        return d.sub(k::i90, s);
    }
};

}  // namespace quarnel::solar
