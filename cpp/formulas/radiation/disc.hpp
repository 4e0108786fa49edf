// DISC (Maxwell 1987) as pvlib implements it, and the split of interval-mean
// global radiation built on it: quarnel.decomposition's NumPy code element by
// element, in its order of operations, so that the two differ only where the
// C library's acos, pow, exp, sin and cos differ from NumPy's in the last bit.
// Included by one translation unit (internal linkage).
#pragma once

#include <cmath>
#include <limits>

namespace quarnel::radiation {
namespace {

constexpr double pi = 3.141592653589793;
constexpr double solar_constant = 1370.0;     // [W/m2], as pvlib's disc
constexpr double standard_pressure = 101325.0;
constexpr double min_cos_zenith = 0.065;
constexpr double max_zenith = 87.0;            // [deg]
constexpr double max_airmass = 12.0;

// Spencer (1971); Python folds 2 pi / 365 into one constant.
inline double extraterrestrial_normal(double dayofyear) noexcept {
    const double angle = (2.0 * pi / 365.0) * (dayofyear - 1.0);
    return solar_constant * (1.00011 + 0.034221 * std::cos(angle) + 0.00128 * std::sin(angle) +
                             0.000719 * std::cos(2.0 * angle) + 7.7e-05 * std::sin(2.0 * angle));
}

// A site's hours come day after day: the last day's irradiance is reused.
struct DayCache {
    double day = std::numeric_limits<double>::quiet_NaN();
    double i0 = 0.0;
    double get(double dayofyear) noexcept {
        if (!(dayofyear == day)) {
            day = dayofyear;
            i0 = extraterrestrial_normal(dayofyear);
        }
        return i0;
    }
};

// NumPy's maximum and minimum for operands that are not NaN where the
// second is a constant; a NaN first operand passes through as in NumPy.
inline double at_least(double x, double bound) noexcept { return x < bound ? bound : x; }
inline double at_most(double x, double bound) noexcept { return x > bound ? bound : x; }

// DISC's direct normal radiation [W/m2] before the cut-offs, for 0 < cz <= 1
// with the zenith angle at most 87 deg.
inline double disc_direct(double kt, double cz, double zenith, double i0, double pressure) noexcept {
    const double z = at_most(zenith, 90.0);
    const double relative = 1.0 / (at_least(cz, 0.0) + 0.15 * std::pow(93.885 - z, -1.253));
    const double am = at_most(relative * pressure / standard_pressure, max_airmass);
    double a, b, c;
    if (kt <= 0.6) {
        a = 0.512 + kt * (-1.56 + kt * (2.286 - 2.222 * kt));
        b = 0.37 + 0.962 * kt;
        c = -0.28 + kt * (0.932 - 2.048 * kt);
    } else {
        a = -5.743 + kt * (21.77 + kt * (-27.49 + 11.56 * kt));
        b = 41.4 + kt * (-118.5 + kt * (66.05 + 31.9 * kt));
        c = -47.01 + kt * (184.2 + kt * (-222.0 + 73.81 * kt));
    }
    const double delta_kn = a + b * std::exp(c * am);
    const double knc = 0.866 + am * (-0.122 + am * (0.0121 + am * (-0.000653 + 1.4e-05 * am)));
    return (knc - delta_kn) * i0;
}

// quarnel.decomposition.split_global for one element: DNI and DHI [W/m2].
// Night, and a sun beyond 87 deg, leave out the model, whose beam is
// dropped there anyway.
inline void split_global(double global, double mu, double f, double dayofyear, double pressure,
                         DayCache& days, double& dni, double& dhi) noexcept {
    if (std::isnan(global) || std::isnan(mu) || std::isnan(f) || std::isnan(dayofyear) ||
        std::isnan(pressure)) {
        dni = dhi = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    const double g = at_least(global, 0.0);
    if (!(f > 0.0 && mu > 0.0)) {
        dni = 0.0;
        dhi = g - 0.0;
        return;
    }
    const double mu_disc = at_most(mu, 1.0);
    const double zenith = std::acos(mu_disc) * (180.0 / pi);
    if (!(zenith <= max_zenith)) {
        dni = 0.0;
        dhi = g - 0.0 * mu;
        return;
    }
    // Clearness index of G/f, formed so that a small f cannot overflow.
    const double i0 = days.get(dayofyear);
    const double bound = f * (i0 * at_least(mu_disc, min_cos_zenith));
    const double kt = g < bound ? g / bound : (g > 0.0 ? 1.0 : 0.0);
    const double beam = at_least(f * disc_direct(kt, mu_disc, zenith, i0, pressure), 0.0);
    // min(f DNI_s, G/mu), one step down where G/mu rounded up would put the
    // beam an ulp above G on the horizontal.
    double limit = g / mu;
    if (limit * mu > g) limit = std::nextafter(limit, 0.0);
    dni = beam <= limit || std::isnan(beam) ? beam : limit;  // np.minimum
    dhi = g - dni * mu;
}

}  // namespace
}  // namespace quarnel::radiation
