// Linke turbidity of the atmosphere from the day of the year, the latitude
// and the relative humidity [%].
//
// Below 85 % humidity the turbidity follows the season: a cosine over the
// year with mean 2.9 and amplitude 1.4, least on day 15 in the northern
// hemisphere and greatest on day 15 in the southern one. From 85 % on it
// depends on the humidity alone, 0.84 + 39 / Vm, where
// Vm = max(1, 15 (1 - exp(-(100 - RH)^4 / 10^4))) falls from about 14.9 at
// 85 % to 1 at about 94.9 % and above (turbidity 39.84).
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "values/branch.hpp"

namespace quarnel::clearsky {

inline constexpr const char* linke_truebung_params[] = {"dayofyear", "breite", "RH"};
inline constexpr const char* linke_truebung_locals[] = {"Tl", "Vm"};
inline constexpr FunctionInfo linke_truebung_info{
    "LinkeTruebung", "LinkeTruebung", "quarnel.Strahlwerk.LinkeTruebung", 80,
    linke_truebung_params, linke_truebung_locals, nullptr};

struct LinkeTruebung {
    static constexpr const FunctionInfo& info = linke_truebung_info;

    template <class D>
    static auto eval(D& d, typename D::A dayofyear, typename D::A breite, typename D::A RH) {
        d.at(81);
        return branch(d, d.lt(RH, k::i85), [&] {
            d.at(82);
            return branch(d, d.ge(breite, k::i0), [&] {
                d.at(83);
                return d.sub(k::f2_9, seasonal_term(d, dayofyear));
            }, [&] {
                d.at(85);
                return d.add(k::f2_9, seasonal_term(d, dayofyear));
            });
        }, [&] {
            auto Vm = humidity_factor(d, RH);
            d.at(91);
            return d.add(k::f0_84, d.div(k::i39, Vm));
        });
    }

private:
    // 1.4 cos(2 pi (dayofyear - 15) / 365): the seasonal swing, one year
    // [365 d] per period.
    template <class D>
    static auto seasonal_term(D& d, typename D::A dayofyear) {
        auto cos = d.fn(NpFn::cos);
        auto pi = d.pi();
        auto turn = d.mul(k::i2, pi);
        auto days = d.sub(dayofyear, k::i15);
        auto angle = d.div(d.mul(turn, days), k::i365);
        return d.mul(k::f1_4, d.call(cos, angle));
    }

    // Vm of the humidity regime; the integer 1 at 100 % and above (and for
    // NaN, which fails every comparison).
    template <class D>
    static auto humidity_factor(D& d, typename D::A RH) {
        d.at(87);
        return branch(d, d.lt(RH, k::i100), [&] {
            d.at(88);
            auto maximum = d.fn(NpFn::maximum);
            auto exp = d.fn(NpFn::exp);
            auto power = d.fn(NpFn::power);
            auto deficit = d.sub(k::i100, RH);
            auto p = d.neg(d.call(power, deficit, k::i4));
            // 10^4 as np.power of two integers: a NumPy integer.
            auto power2 = d.fn(NpFn::power);
            auto scale = d.call(power2, k::i10, k::i4);
            auto e = d.call(exp, d.div(p, scale));
            auto g = d.mul(k::i15, d.sub(k::i1, e));
            return d.call(maximum, k::i1, g);
        }, [&] {
            d.at(90);
            return d.keep(k::i1);
        });
    }
};

}  // namespace quarnel::clearsky
