// The indices weather services publish, each as its source defines it:
// the heat index of the US National Weather Service, the humidex of
// Environment Canada, Steadman's apparent temperature in shade and the
// wind chill index of JAG/TI. Temperatures in degC in and out; NaN for
// a NaN input and outside each domain.
//
// Standard library only; plain doubles, element by element. Internal linkage.
#pragma once

#include <cmath>
#include <limits>

namespace quarnel::indices::simple {
namespace {

constexpr double nan = std::numeric_limits<double>::quiet_NaN();

// Heat index [degC] from the air temperature [degC] and the relative
// humidity [%], the NWS procedure (Technical Attachment SR 90-23, Rothfusz
// 1990; NWS Weather Prediction Center): in degF, Steadman's simple form
// first; where its mean with T reaches 80 degF, Rothfusz's regression,
// less ((13 - RH)/4) sqrt((17 - |T - 95|)/17) for RH < 13 % and 80 <= T
// <= 112 degF, plus ((RH - 85)/10) ((87 - T)/5) for RH > 85 % and 80 <=
// T <= 87 degF. Domain: 0 <= RH <= 100 %, T finite.
inline double heat_index(double ta, double rh) noexcept {
    if (!(rh >= 0.0 && rh <= 100.0 && std::isfinite(ta))) return nan;
    const double t = ta * 1.8 + 32.0;
    double hi = 0.5 * (t + 61.0 + (t - 68.0) * 1.2 + rh * 0.094);
    if (0.5 * (hi + t) >= 80.0) {
        hi = -42.379 + 2.04901523 * t + 10.14333127 * rh - 0.22475541 * t * rh - 0.00683783 * t * t -
             0.05481717 * rh * rh + 0.00122874 * t * t * rh + 0.00085282 * t * rh * rh -
             0.00000199 * t * t * rh * rh;
        if (rh < 13.0 && t >= 80.0 && t <= 112.0)
            hi -= (13.0 - rh) / 4.0 * std::sqrt((17.0 - std::fabs(t - 95.0)) / 17.0);
        else if (rh > 85.0 && t >= 80.0 && t <= 87.0)
            hi += (rh - 85.0) / 10.0 * ((87.0 - t) / 5.0);
    }
    return (hi - 32.0) / 1.8;
}

// Humidex [degC] from the air temperature and the dew point [degC]
// (Masterton & Richardson 1979, as Environment Canada computes it):
// T + 0.5555 (6.11 exp(5417.7530 (1/273.16 - 1/Td[K])) - 10).
// Domain: T finite, Td finite and above absolute zero.
inline double humidex(double ta, double td) noexcept {
    if (!(std::isfinite(ta) && std::isfinite(td) && td > -273.15)) return nan;
    const double e = 6.11 * std::exp(5417.7530 * (1.0 / 273.16 - 1.0 / (td + 273.15)));
    return ta + 0.5555 * (e - 10.0);
}

// Apparent temperature in shade [degC] from the air temperature [degC],
// the vapour pressure [hPa] and the wind at 10 m [m/s] (Steadman 1994,
// Aust Met Mag 43:1-16, the form without radiation the Australian Bureau
// of Meteorology publishes): Ta + 0.33 e - 0.70 v - 4.00.
// Domain: Ta finite, e >= 0, v >= 0, both finite.
inline double apparent_temperature(double ta, double e, double v) noexcept {
    if (!(std::isfinite(ta) && e >= 0.0 && v >= 0.0 && std::isfinite(e) && std::isfinite(v))) return nan;
    return ta + 0.33 * e - 0.70 * v - 4.00;
}

// Wind chill index [degC] from the air temperature [degC] and the wind at
// 10 m [m/s] (JAG/TI 2001, as Environment Canada and the NWS publish it),
// with V [km/h]: 13.12 + 0.6215 T - 11.37 V^0.16 + 0.3965 T V^0.16.
// Domain: -inf < T <= 10 degC and 4.8 km/h <= V < inf.
inline double wind_chill(double ta, double v) noexcept {
    const double kmh = v * 3.6;
    if (!(ta <= 10.0 && kmh >= 4.8 && std::isfinite(ta) && std::isfinite(kmh))) return nan;
    const double p = std::pow(kmh, 0.16);
    return 13.12 + 0.6215 * ta - 11.37 * p + 0.3965 * ta * p;
}

}  // namespace
}  // namespace quarnel::indices::simple
