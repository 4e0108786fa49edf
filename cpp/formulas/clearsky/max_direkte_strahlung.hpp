// Maximum (clear-sky) direct solar radiation [W/m2] on a plane normal to
// the sun's rays: the extraterrestrial radiation weakened by the Linke
// turbidity attenuation law,
//     Isenkr = E0 exp(((-TL rho) m) p),
// with E0 the extraterrestrial radiation of the day, TL the Linke
// turbidity, rho the optical thickness of the clean dry atmosphere, m the
// relative optical air mass and p the pressure correction for the height.
// At or below the horizon (zenith angle 90 deg or more, or NaN) the result
// is the integer 0 and no other argument is examined.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "formulas/clearsky/radiation_terms.hpp"
#include "values/branch.hpp"

namespace quarnel::clearsky {

inline constexpr const char* max_direkte_strahlung_params[] = {
    "dayofyear", "mHoehe", "zenitwinkel", "LinkeTr", "RelOptLuftM"};
inline constexpr const char* max_direkte_strahlung_locals[] = {
    "ExtraterrStrahlung", "ExtraterrStrahlung", "OptDicke", "OptDicke",
    "Druckkorrektur", "Druckkorrektur", "Isenkr"};
inline constexpr FunctionInfo max_direkte_strahlung_info{
    "MaxDirekteStrahlung", "MaxDirekteStrahlung", "quarnel.Strahlwerk.MaxDirekteStrahlung", 117,
    max_direkte_strahlung_params, max_direkte_strahlung_locals, nullptr};

inline constexpr FunctionInfo mds_extraterr_info{
    "ExtraterrStrahlung", "MaxDirekteStrahlung.<locals>.ExtraterrStrahlung",
    "quarnel.Strahlwerk.MaxDirekteStrahlung.ExtraterrStrahlung", 118,
    extraterr_params, extraterr_locals, nullptr};

inline constexpr const char* opt_dicke_params[] = {"zenitwinkel", "RelOptLuftM"};
inline constexpr const char* opt_dicke_locals[] = {"rho"};
inline constexpr FunctionInfo mds_opt_dicke_info{
    "OptDicke", "MaxDirekteStrahlung.<locals>.OptDicke",
    "quarnel.Strahlwerk.MaxDirekteStrahlung.OptDicke", 122,
    opt_dicke_params, opt_dicke_locals, nullptr};

inline constexpr FunctionInfo mds_druckkorrektur_info{
    "Druckkorrektur", "MaxDirekteStrahlung.<locals>.Druckkorrektur",
    "quarnel.Strahlwerk.MaxDirekteStrahlung.Druckkorrektur", 131,
    druckkorrektur_params, druckkorrektur_locals, nullptr};

// Optical thickness of the clean dry atmosphere: 1 / (9.4 + 0.9 m) below
// 85 deg, the linear 0.0408 + 0.0028 (90 - z) from 85 deg to below 91 deg
// (independent of the air mass), and the marker 999 outside [0, 91) deg.
// Both bounds are always compared and combined with `&`.
template <class D, class Z, class M>
auto optical_thickness(D& d, const Z& zenitwinkel, const M& RelOptLuftM) {
    return d.inner(mds_opt_dicke_info, [&] {
        d.at(123);
        auto above = d.le(k::i0, zenitwinkel);
        auto below = d.lt(zenitwinkel, k::i91);
        return branch(d, d.and_(above, below), [&] {
            d.at(124);
            return branch(d, d.lt(zenitwinkel, k::i85), [&] {
                d.at(125);
                auto s = d.add(k::f9_4, d.mul(k::f0_9, RelOptLuftM));
                return d.div(k::i1, s);
            }, [&] {
                d.at(127);
                auto rest = d.sub(k::i90, zenitwinkel);
                return d.add(k::f0_0408, d.mul(k::f0_0028, rest));
            });
        }, [&] {
            d.at(129);
            return d.keep(k::i999);
        });
    });
}

struct MaxDirekteStrahlung {
    static constexpr const FunctionInfo& info = max_direkte_strahlung_info;

    template <class D>
    static auto eval(D& d, typename D::A dayofyear, typename D::A mHoehe,
                     typename D::A zenitwinkel, typename D::A LinkeTr,
                     typename D::A RelOptLuftM) {
        d.at(134);
        return branch(d, d.lt(zenitwinkel, k::i90), [&] {
            d.at(135);
            auto E0 = extraterrestrial_radiation(d, mds_extraterr_info, dayofyear);
            auto exp = d.fn(NpFn::exp);
            auto x = d.neg(LinkeTr);
            x = d.mul(x, optical_thickness(d, zenitwinkel, RelOptLuftM));
            x = d.mul(x, RelOptLuftM);
            x = d.mul(x, pressure_correction(d, mds_druckkorrektur_info, mHoehe));
            return d.mul(E0, d.call(exp, x));
        }, [&] {
            d.at(137);
            return d.keep(k::i0);
        });
    }
};

}  // namespace quarnel::clearsky
