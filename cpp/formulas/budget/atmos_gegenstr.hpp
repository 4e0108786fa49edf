// Long-wave counter-radiation of the atmosphere [W/m²] from air temperature
// [°C], vapour pressure [hPa] and cloud cover [octas].
//
// Clear sky: the black-body emission at air temperature, sigma T⁴, times
// the emissivity factor 0.82 − 0.25 × 10^(−0.0945 e) that grows with the
// vapour pressure e. Cloud raises it by the factor 1 + 0.21 (N/8)^2.5.
// Every step is element-wise; a negative cloud cover gives a negative base
// to the power 2.5 and hence NaN with NumPy's warning.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"

namespace quarnel::budget {

inline constexpr const char* atmos_gegenstr_params[] = {"LuftTemp", "Dampfdruck", "N"};
// `epseff` is a local of the function's code description that the formula
// does not use.
inline constexpr const char* atmos_gegenstr_locals[] = {"epseff", "sigma", "T", "A0", "nx", "Result"};
inline constexpr FunctionInfo atmos_gegenstr_info{
    "AtmosGegenstr", "AtmosGegenstr", "quarnel.Strahlwerk.AtmosGegenstr", 161,
    atmos_gegenstr_params, atmos_gegenstr_locals, nullptr};

struct AtmosGegenstr {
    static constexpr const FunctionInfo& info = atmos_gegenstr_info;

    template <class D>
    static auto eval(D& d, typename D::A LuftTemp, typename D::A Dampfdruck, typename D::A N) {
        // sigma: Stefan–Boltzmann constant [W m⁻² K⁻⁴], k::f5_67em08.
        d.at(163);
        auto T = d.add(LuftTemp, k::f273_15);  // [K]

        // A0 = (sigma × T⁴) × (0.82 − 0.25 × 10^(−0.0945 × Dampfdruck))
        d.at(164);
        auto power = d.fn(NpFn::power);
        auto emission = d.mul(k::f5_67em08, d.call(power, T, k::i4));
        auto power2 = d.fn(NpFn::power);
        auto x = d.mul(k::fm0_0945, Dampfdruck);
        auto eps = d.mul(k::f0_25, d.call(power2, k::i10, x));
        eps = d.sub(k::f0_82, eps);
        auto A0 = d.mul(emission, eps);

        // nx = (N ÷ 8)^2.5, the covered fraction of the sky
        d.at(165);
        auto power3 = d.fn(NpFn::power);
        auto covered = d.div(N, k::i8);
        auto nx = d.call(power3, covered, k::f2_5);

        d.at(166);
        auto cloud = d.mul(k::f0_21, nx);
        cloud = d.add(k::i1, cloud);
        return d.mul(A0, cloud);
    }
};

}  // namespace quarnel::budget
