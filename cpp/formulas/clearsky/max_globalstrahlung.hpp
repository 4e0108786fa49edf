// Maximum (clear-sky) global solar radiation [W/m2] on a horizontal
// surface: 0.84 times the extraterrestrial radiation, projected onto the
// horizontal by cos z and weakened by the turbidity and the height,
//     Gmax = ((0.84 E0) cos z) exp(((-0.027 p) TL) / cos z),
// with E0 the extraterrestrial radiation of the day, p the pressure
// correction for the height and TL the Linke turbidity. At or below the
// horizon (zenith angle 90 deg or more, or NaN) the result is the integer 0
// and no other argument is examined.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "formulas/clearsky/radiation_terms.hpp"
#include "values/branch.hpp"
#include "values/trig_degrees.hpp"

namespace quarnel::clearsky {

inline constexpr const char* max_globalstrahlung_params[] = {
    "dayofyear", "mHoehe", "zenitwinkel", "LinkeTr"};
inline constexpr const char* max_globalstrahlung_locals[] = {
    "ExtraterrStrahlung", "ExtraterrStrahlung", "Druckkorrektur", "Druckkorrektur", "Gmax"};
inline constexpr FunctionInfo max_globalstrahlung_info{
    "MaxGlobalstrahlung", "MaxGlobalstrahlung", "quarnel.Strahlwerk.MaxGlobalstrahlung", 141,
    max_globalstrahlung_params, max_globalstrahlung_locals, nullptr};

inline constexpr FunctionInfo mgs_extraterr_info{
    "ExtraterrStrahlung", "MaxGlobalstrahlung.<locals>.ExtraterrStrahlung",
    "quarnel.Strahlwerk.MaxGlobalstrahlung.ExtraterrStrahlung", 142,
    extraterr_params, extraterr_locals, nullptr};

inline constexpr FunctionInfo mgs_druckkorrektur_info{
    "Druckkorrektur", "MaxGlobalstrahlung.<locals>.Druckkorrektur",
    "quarnel.Strahlwerk.MaxGlobalstrahlung.Druckkorrektur", 146,
    druckkorrektur_params, druckkorrektur_locals, nullptr};

struct MaxGlobalstrahlung {
    static constexpr const FunctionInfo& info = max_globalstrahlung_info;

    template <class D>
    static auto eval(D& d, typename D::A dayofyear, typename D::A mHoehe,
                     typename D::A zenitwinkel, typename D::A LinkeTr) {
        d.at(149);
        return branch(d, d.lt(zenitwinkel, k::i90), [&] {
            d.at(150);
            auto g = d.mul(k::f0_84, extraterrestrial_radiation(d, mgs_extraterr_info, dayofyear));
            g = d.mul(g, cos_of_degrees(d, zenitwinkel));

            // The attenuation exponent, divided by cos z computed a second time.
            auto exp = d.fn(NpFn::exp);
            auto x = d.mul(k::fm0_027, pressure_correction(d, mgs_druckkorrektur_info, mHoehe));
            x = d.mul(x, LinkeTr);
            x = d.div(x, cos_of_degrees(d, zenitwinkel));
            x = d.call(exp, x);
            return d.mul(g, x);
        }, [&] {
            d.at(152);
            return d.keep(k::i0);
        });
    }
};

}  // namespace quarnel::clearsky
