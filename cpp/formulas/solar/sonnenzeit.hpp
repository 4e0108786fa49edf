// Solar time from clock time, time-zone offset, longitude and day of year.
//
// The clock time is turned into a zone time by adding the offset and
// removing the longitude in hours (15 degrees per hour) and the equation of
// time; the zone time is brought into the day by one addition or
// subtraction of 24 h, and the solar time is formed from it by the inverse
// steps and brought into the day the same way. The two wraps are single
// corrections, never a remainder, so far-off inputs stay outside [0, 24).
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "values/branch.hpp"

namespace quarnel::solar {

inline constexpr const char* sonnenzeit_params[] = {"szeit", "zeitzone", "laenge", "dayofyear"};
inline constexpr const char* sonnenzeit_locals[] = {"ERS", "ERS", "zonezeit", "zzeit", "s", "Result"};
inline constexpr FunctionInfo sonnenzeit_info{
    "Sonnenzeit", "Sonnenzeit", "quarnel.Strahlwerk.Sonnenzeit", 6,
    sonnenzeit_params, sonnenzeit_locals, nullptr};

inline constexpr const char* ers_params[] = {"dayofyear"};
inline constexpr const char* ers_locals[] = {"B", "sinB", "cosB", "Result"};
inline constexpr FunctionInfo ers_info{
    "ERS", "Sonnenzeit.<locals>.ERS", "quarnel.Strahlwerk.Sonnenzeit.ERS", 8,
    ers_params, ers_locals, nullptr};

// Equation of time [h] for a day of the year [d]: the usual three-term
// approximation in minutes, 9.87 sin 2B - 7.53 cos B - 1.5 sin B with
// B = 2 pi (dayofyear - 81) / 364, divided by 60.
template <class D, class T>
auto equation_of_time(D& d, const T& dayofyear) {
    return d.inner(ers_info, [&] {
        d.at(9);
        auto pi = d.pi();
        auto turn = d.mul(k::i2, pi);
        auto days = d.sub(dayofyear, k::i81);
        auto B = d.div(d.mul(turn, days), k::i364);
        d.at(10);
        auto sin = d.fn(NpFn::sin);
        auto sinB = d.call(sin, B);
        d.at(11);
        auto cos = d.fn(NpFn::cos);
        auto cosB = d.call(cos, B);
        d.at(12);
        auto sin2 = d.fn(NpFn::sin);
        auto r = d.mul(k::f9_87, d.call(sin2, d.mul(k::i2, B)));
        r = d.sub(r, d.mul(k::f7_53, cosB));
        r = d.sub(r, d.mul(k::f1_5, sinB));
        return d.div(r, k::i60);
    });
}

// A time of day [h] brought into the day by at most one correction of 24 h.
template <class D, class T>
auto wrap_day(D& d, T&& t, int line) {
    d.at(line);
    return branch(d, d.lt(t, k::i0), [&] {
        d.at(line + 1);
        return d.add(t, k::f24_0);
    }, [&] {
        d.at(line + 2);
        return branch(d, d.ge(t, k::i24), [&] {
            d.at(line + 3);
            return d.sub(t, k::f24_0);
        }, [&] { return d.keep(t); });
    });
}

struct Sonnenzeit {
    static constexpr const FunctionInfo& info = sonnenzeit_info;

    template <class D>
    static auto eval(D& d, typename D::A szeit, typename D::A zeitzone, typename D::A laenge,
                     typename D::A dayofyear) {
        d.at(14);
        auto zone = d.add(szeit, zeitzone);
        auto lon = d.div(d.mul(laenge, k::i12), k::i180);
        auto zonezeit = d.sub(zone, lon);
        zonezeit = d.sub(zonezeit, equation_of_time(d, dayofyear));
        auto zzeit = wrap_day(d, zonezeit, 15);

        d.at(21);
        auto s = d.sub(zzeit, zeitzone);
        auto lon2 = d.div(d.mul(laenge, k::i12), k::i180);
        s = d.add(s, lon2);
        s = d.add(s, equation_of_time(d, dayofyear));
        return wrap_day(d, s, 22);
    }
};

}  // namespace quarnel::solar
