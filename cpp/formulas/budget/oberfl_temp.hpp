// Surface temperature [°C] from the radiation balance of the surface Q
// [W/m²], the air temperature [°C], the wind speed [m/s] and the Bowen
// ratio.
//
// A flux B = −0.19 Q (positive balance) or −0.32 Q (otherwise) is added to
// the balance, and the sum becomes a temperature excess over the air by
// division by the transfer coefficient alphaL = 6.2 + 4.26 × wind
// [W m⁻² K⁻¹] times 1 + 1/Bowen:
//
//     Result = LuftTemp + (Q + B) / (alphaL × (1 + 1/Bowen)).
//
// A Bowen ratio of zero returns the air temperature itself; ratios below
// −0.9 are taken as −0.9, which keeps 1 + 1/Bowen away from zero. Q and
// Bowen decide branches and must be scalars; the air temperature and the
// wind speed may be arrays. No NumPy function is involved.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "values/branch.hpp"

namespace quarnel::budget {

inline constexpr const char* oberfl_temp_params[] = {"Strahlungsbilanz", "LuftTemp", "WindGeschw",
                                                     "Bowen"};
inline constexpr const char* oberfl_temp_locals[] = {"Q", "B", "alphaL", "Result"};
inline constexpr FunctionInfo oberfl_temp_info{
    "OberflTemp", "OberflTemp", "quarnel.Strahlwerk.OberflTemp", 193,
    oberfl_temp_params, oberfl_temp_locals, nullptr};

struct OberflTemp {
    static constexpr const FunctionInfo& info = oberfl_temp_info;

    template <class D>
    static auto eval(D& d, typename D::A Strahlungsbilanz, typename D::A LuftTemp,
                     typename D::A WindGeschw, typename D::A Bowen) {
        auto Q = Strahlungsbilanz;

        d.at(195);
        auto B = branch(d, d.gt(Q, k::i0), [&] {
            d.at(196);
            return d.mul(k::fm0_19, Q);
        }, [&] {
            d.at(198);
            return d.mul(k::fm0_32, Q);
        });

        d.at(199);
        auto alphaL = d.add(k::f6_2, d.mul(k::f4_26, WindGeschw));

        // The caller's Bowen object stays as it is; only the local is rebound.
        auto given = d.keep(Bowen);
        d.at(200);
        auto bowen = branch(d, d.lt(given, k::fm0_9), [&] { return d.keep(k::fm0_9); },
                            [&] { return d.keep(given); });

        d.at(202);
        return branch(d, d.eq(bowen, k::i0), [&] { return d.keep(LuftTemp); }, [&] {
            d.at(205);
            auto s = d.add(Q, B);
            auto r = d.div(k::i1, bowen);
            r = d.add(k::i1, r);
            r = d.mul(alphaL, r);
            s = d.div(s, r);
            return d.add(LuftTemp, s);
        });
    }
};

}  // namespace quarnel::budget
