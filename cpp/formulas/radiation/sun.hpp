// The sun of an interval: quarnel.interval_sun's NumPy code element by
// element, in its order of operations, so that the two differ only where the
// C library's sin, cos, asin and acos differ from NumPy's in the last bit.
// Included by one translation unit (internal linkage).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>

namespace quarnel::radiation {
namespace {

namespace sun {

constexpr double pi = 3.141592653589793;
constexpr double two_pi = 2.0 * pi;
constexpr double rad_per_hour = pi / 12.0;
constexpr double rad_per_deg = pi / 180.0;   // np.radians
constexpr double deg_per_rad = 180.0 / pi;   // np.degrees

inline double at_least(double x, double bound) noexcept { return x < bound ? bound : x; }
inline double at_most(double x, double bound) noexcept { return x > bound ? bound : x; }

// quarnel.interval_sun.declination in radians, through degrees as there.
inline double declination(double dayofyear) noexcept {
    const double anomaly = 0.9856 * dayofyear - 2.72;
    const double longitude = 0.9856 * dayofyear - 2.72 - 77.51 + 1.92 * std::sin(anomaly * rad_per_deg);
    return (std::asin(0.3978 * std::sin(longitude * rad_per_deg)) * deg_per_rad) * rad_per_deg;
}

// np.mod: the remainder with the divisor's sign.
inline double mod(double x, double y) noexcept {
    double r = std::fmod(x, y);
    if (r != 0.0) {
        if ((y < 0.0) != (r < 0.0)) r += y;
    } else {
        r = std::copysign(0.0, y);
    }
    return r;
}

// sin and cos of the declination of the days met, in a small table by the
// day's bits: an array holds few days, met again and again.
class Declinations {
public:
    Declinations() noexcept {
        for (Entry& e : table_) e.day = std::numeric_limits<double>::quiet_NaN();
    }
    void get(double d, double& sin_delta, double& cos_delta) noexcept {
        std::uint64_t bits;
        std::memcpy(&bits, &d, sizeof bits);
        Entry& e = table_[(bits ^ (bits >> 29) ^ (bits >> 47)) % size];
        if (!(e.day == d)) {
            e.day = d;
            const double delta = declination(d);
            e.sin_delta = std::sin(delta);
            e.cos_delta = std::cos(delta);
        }
        sin_delta = e.sin_delta;
        cos_delta = e.cos_delta;
    }

private:
    static constexpr std::size_t size = 512;
    struct Entry {
        double day, sin_delta, cos_delta;
    };
    Entry table_[size];
};

// What a site's day gives: an array runs along a latitude row, so the last
// pair of day and latitude is reused.
struct Day {
    Declinations declinations;
    double dayofyear = std::numeric_limits<double>::quiet_NaN();
    double latitude = std::numeric_limits<double>::quiet_NaN();
    double a = 0.0, b = 0.0, rise = 0.0, length = 0.0, integral = 0.0;

    void set(double d, double lat) noexcept {
        if (d == dayofyear && lat == latitude) return;
        dayofyear = d;
        latitude = lat;
        double sin_delta, cos_delta;
        declinations.get(d, sin_delta, cos_delta);
        const double phi = lat * rad_per_deg;
        a = sin_delta * std::sin(phi);
        b = std::cos(phi) * cos_delta;
        // Sunrise hour angle from midnight; at a pole (b = 0) cos z = a all day.
        const double ratio = b > 0.0 ? a / b : (a > 0.0 ? 1.0 : -1.0);
        rise = std::acos(at_most(at_least(ratio, -1.0), 1.0));
        length = two_pi - 2.0 * rise;
        integral = a * length + 2.0 * b * std::sin(rise);
    }
};

// Length and integral of cos z over the part of [x0, x1] inside [lo, hi]
// (_sunlit_piece). An empty part needs no sine: its integral is zero.
inline void piece(double x0, double x1, double span, double lo, double hi, const Day& s, double& length,
                  double& integral) noexcept {
    const double cut = at_least(lo - x0, 0.0) + at_least(x1 - hi, 0.0);
    length = at_least(at_most(span - cut, hi - lo), 0.0);
    if (!(length > 0.0)) {
        integral = 0.0;
        return;
    }
    const double middle = at_least(x0, lo) + 0.5 * length;
    integral = s.a * length - 2.0 * s.b * std::cos(middle) * std::sin(0.5 * length);
}

// quarnel.interval_sun.interval_cos_zenith for one element.
inline void interval_cos_zenith(double t, double lat, double dayofyear, double h, Day& s, double& mu,
                                double& fraction) noexcept {
    if (!(std::isfinite(t) && std::isfinite(lat) && std::isfinite(dayofyear) && std::isfinite(h)) ||
        h < 0.0 || std::fabs(lat) > 90.0) {
        mu = fraction = std::numeric_limits<double>::quiet_NaN();
        return;
    }
    s.set(dayofyear, lat);
    const double whole = h * rad_per_hour;
    if (!(whole > 0.0)) {  // the moment itself, also for hours that round to no angle
        const double cos_now = s.a - s.b * std::cos(t * rad_per_hour);
        mu = at_least(cos_now, 0.0);
        fraction = cos_now > 0.0 ? 1.0 : 0.0;
        return;
    }
    // Whole days, then the rest of the interval ending at t.
    const double days = std::floor(h / 24.0);
    const double rest = h - 24.0 * days;
    const double x0 = mod(t - rest, 24.0) * rad_per_hour;
    const double span = rest * rad_per_hour;
    const double x1 = x0 + span;
    // x0 in [0, 2 pi], x1 < 4 pi: today's and tomorrow's sunlit arcs.
    double len1, int1, len2, int2;
    piece(x0, x1, span, s.rise, two_pi - s.rise, s, len1, int1);
    piece(x0, x1, span, two_pi + s.rise, 2.0 * two_pi - s.rise, s, len2, int2);
    const double length = days * s.length + len1 + len2;
    const double integral = days * s.integral + int1 + int2;
    mu = length > 0.0 ? at_least(integral, 0.0) / length : 0.0;
    fraction = at_most(length / whole, 1.0);
}

}  // namespace sun

}  // namespace
}  // namespace quarnel::radiation
