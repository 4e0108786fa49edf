// Relative optical air mass from the solar zenith angle [deg].
//
// Three ranges: the secant of the angle below 80 deg; from 80 deg to below
// 90 deg the Kasten-Young horizon formula
//     m = 1 / (cos z + 0.50572 ((90 - z) + 6.07995)^-1.6364);
// from 90 deg to 91 deg linear interpolation in a table of twelve air
// masses at steps of 0.1 deg. Outside [0, 91] deg the result is the marker
// 999 (a Python integer). The table index is computed before the range
// test, so NaN and infinite angles fail at int() even though they are out
// of range.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "values/branch.hpp"
#include "values/trig_degrees.hpp"

namespace quarnel::clearsky {

inline constexpr const char* rel_opt_luftmasse_params[] = {"zenitwinkel"};
inline constexpr const char* rel_opt_luftmasse_locals[] = {"a", "b", "c", "Tabm", "i", "m"};
inline constexpr FunctionInfo rel_opt_luftmasse_info{
    "RelOptLuftmasse", "RelOptLuftmasse", "quarnel.Strahlwerk.RelOptLuftmasse", 98,
    rel_opt_luftmasse_params, rel_opt_luftmasse_locals, nullptr};

// Air mass at zenith angles 90.0, 90.1, ..., 91.1 deg.
inline constexpr KonstTable<12> air_mass_table{{
    k::f37_92, k::f39_22, k::f40_34, k::f41_48, k::f42_63, k::f43_72,
    k::f44_81, k::f45_9, k::f47_0, k::f48_08, k::f49_15, k::f50_12,
}};

struct RelOptLuftmasse {
    static constexpr const FunctionInfo& info = rel_opt_luftmasse_info;

    template <class D>
    static auto eval(D& d, typename D::A zenitwinkel) {
        // The table is built anew on every call, before anything else.
        d.at(102);
        auto array = d.fn(NpFn::array);
        auto Tabm = d.array(array, air_mass_table);

        // Index of the 0.1-deg step at or below the angle, counted from 90 deg.
        d.at(103);
        auto trunc = d.fn(NpFn::trunc);
        auto steps = d.sub(d.mul(zenitwinkel, k::i10), k::i900);
        auto i = d.to_int(d.call(trunc, steps));

        auto outside = [&] {
            d.at(113);
            return d.keep(k::i999);
        };
        auto inside = [&] {
            d.at(105);
            return branch(d, d.lt(zenitwinkel, k::i90), [&] {
                d.at(106);
                return branch(d, d.lt(zenitwinkel, k::i80), [&] {
                    // Plane-parallel atmosphere: the secant of the zenith angle.
                    d.at(107);
                    return d.div(k::i1, cos_of_degrees(d, zenitwinkel));
                }, [&] {
                    // Kasten-Young near the horizon.
                    d.at(109);
                    auto c = cos_of_degrees(d, zenitwinkel);
                    auto power = d.fn(NpFn::power);
                    auto elevation = d.add(d.sub(k::i90, zenitwinkel), k::f6_07995);
                    auto p = d.call(power, elevation, k::fm1_6364);
                    auto sum = d.add(c, d.mul(k::f0_50572, p));
                    return d.div(k::i1, sum);
                });
            }, [&] {
                // Table interpolation: Tabm[i] + f (Tabm[i+1] - Tabm[i]) with the
                // fraction f = ((zenitwinkel 10) - 900) - i of the 0.1-deg step.
                d.at(111);
                auto lower = d.item(Tabm, i);
                auto f = d.sub(d.sub(d.mul(zenitwinkel, k::i10), k::i900), i);
                auto next = d.add(i, k::i1);
                auto upper = d.item(Tabm, next);
                auto lower2 = d.item(Tabm, i);
                auto step = d.sub(upper, lower2);
                return d.add(lower, d.mul(f, step));
            });
        };
        // 0 <= zenitwinkel <= 91, both bounds inclusive (the second tested
        // only when the first holds).
        d.at(104);
        return branch(d, d.le(k::i0, zenitwinkel), [&] {
            return branch(d, d.le(zenitwinkel, k::i91), inside, outside);
        }, outside);
    }
};

}  // namespace quarnel::clearsky
