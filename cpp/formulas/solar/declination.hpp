// Solar declination [deg] for a day of the year [d], shared by the zenith
// and the azimuth angle.
//
// The sun's ecliptic longitude is approximated by a mean longitude,
// 0.9856 deg/d * dayofyear - 2.72 - 77.51, plus the equation of centre,
// 1.92 sin(0.9856 dayofyear - 2.72); the declination is then
// arcsin(sin(obliquity) sin(longitude)) with sin(obliquity) = 0.3978, so it
// stays within about +-23.44 deg for every finite day.
#pragma once

#include "common/konst.hpp"
#include "common/np_functions.hpp"

namespace quarnel::solar {

// One statement: the caller sets its line. The NumPy functions are looked
// up outermost first, each before the argument it is applied to; the
// product 0.9856 * dayofyear is formed twice, once per occurrence.
template <class D, class T>
auto declination(D& d, const T& dayofyear) {
    auto degrees = d.fn(NpFn::degrees);
    auto arcsin = d.fn(NpFn::arcsin);
    auto sin = d.fn(NpFn::sin);
    auto radians = d.fn(NpFn::radians);
    auto longitude = d.mul(k::f0_9856, dayofyear);
    longitude = d.sub(longitude, k::f2_72);
    longitude = d.sub(longitude, k::f77_51);

    auto sin_anomaly = d.fn(NpFn::sin);
    auto radians_anomaly = d.fn(NpFn::radians);
    auto anomaly = d.mul(k::f0_9856, dayofyear);
    anomaly = d.sub(anomaly, k::f2_72);
    auto centre = d.mul(k::f1_92, d.call(sin_anomaly, d.call(radians_anomaly, anomaly)));
    longitude = d.add(longitude, centre);

    auto sin_delta = d.mul(k::f0_3978, d.call(sin, d.call(radians, longitude)));
    return d.call(degrees, d.call(arcsin, sin_delta));
}

}  // namespace quarnel::solar
