// Mean radiant temperature [°C] of a person from the solar zenith angle
// [°] and the radiant fluxes [W/m²] that reach them.
//
// The fluxes from above, from below and the atmospheric counter-radiation
// enter with weight one; the diffuse and the direct flux enter weighted by
// the absorbed short-wave fraction alphaIR = 1 − albedo over the emissivity
// epsP = 0.97, the direct flux also by the projection factor of a person
//
//     fP = 0.308 cos(gamma (0.998 − √gamma / 50000)),
//
// gamma = 90 − zenith the solar elevation [°]. The weighted sum over sigma
// is a fourth power of a temperature [K]:
//
//     Result = ((Oben + Unten + A + alphaIR/epsP (D + I fP)) / sigma)^0.25 − 273.15.
//
// The reflected flux and the albedo of the surroundings are accepted and
// not used. A sun below the horizon (gamma < 0) makes √gamma and the
// result NaN with NumPy's warning. Every step is element-wise.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"

namespace quarnel::budget {

inline constexpr const char* mittl_str_temp_params[] = {
    "zenitwinkel", "EStrOben", "EStrUnten", "AGegenstr", "DiffStr",
    "MaxDirStr",   "ReflStr",  "albedo",    "albedo_env"};
inline constexpr const char* mittl_str_temp_locals[] = {"sigma", "epsP", "alphaIR",
                                                        "gamma", "fP",   "Result"};
inline constexpr FunctionInfo mittl_str_temp_info{
    "MittlStrTemp", "MittlStrTemp", "quarnel.Strahlwerk.MittlStrTemp", 211,
    mittl_str_temp_params, mittl_str_temp_locals, nullptr};

struct MittlStrTemp {
    static constexpr const FunctionInfo& info = mittl_str_temp_info;

    template <class D>
    static auto eval(D& d, typename D::A zenitwinkel, typename D::A EStrOben,
                     typename D::A EStrUnten, typename D::A AGegenstr, typename D::A DiffStr,
                     typename D::A MaxDirStr, typename D::A /*ReflStr*/, typename D::A albedo,
                     typename D::A /*albedo_env*/) {
        // sigma [W m⁻² K⁻⁴] = k::f5_67em08, epsP = k::f0_97
        d.at(214);
        auto alphaIR = d.sub(k::i1, albedo);
        d.at(215);
        auto gamma = d.sub(k::i90, zenitwinkel);  // solar elevation [°]

        // fP = 0.308 × cos(radians(gamma × (0.998 − √gamma ÷ 50000)))
        d.at(216);
        auto cos = d.fn(NpFn::cos);
        auto radians = d.fn(NpFn::radians);
        auto sqrt = d.fn(NpFn::sqrt);
        auto r = d.call(sqrt, gamma);
        r = d.div(r, k::i50000);
        r = d.sub(k::f0_998, r);
        r = d.mul(gamma, r);
        r = d.call(radians, r);
        r = d.call(cos, r);
        auto fP = d.mul(k::f0_308, r);

        d.at(217);
        auto power = d.fn(NpFn::power);
        auto a = d.add(EStrOben, EStrUnten);
        a = d.add(a, AGegenstr);
        auto w = d.div(alphaIR, k::f0_97);
        auto s = d.mul(MaxDirStr, fP);
        s = d.add(DiffStr, s);
        s = d.mul(w, s);
        auto t = d.add(a, s);
        t = d.div(t, k::f5_67em08);
        auto p = d.call(power, t, k::f0_25);
        return d.sub(p, k::f273_15);
    }
};

}  // namespace quarnel::budget
