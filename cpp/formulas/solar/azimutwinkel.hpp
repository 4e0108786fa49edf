// Solar azimuth [deg, from north through east] from solar time [h],
// latitude [deg] and day of year [d].
//
// With the time angle t = szeit * pi / 12 (0 at midnight, pi at noon), the
// horizontal components of the unit vector towards the sun are
//   sy = -sin(t) cos(delta)                                  (westward)
//   sz = sin(latitude) cos(t) cos(delta) + sin(delta) cos(latitude)
//                                                            (northward)
// and the azimuth is the full-circle direction of (sz, -sy), turned into
// [0, 360) deg by the inner `Winkel`. `Winkel` branches on its second leg,
// so `szeit` and `dayofyear` are scalar-only; `breite` is element-wise
// except at midnight, where the first leg decides the branch.
#pragma once

#include "common/function_info.hpp"
#include "common/konst.hpp"
#include "common/np_functions.hpp"
#include "formulas/solar/declination.hpp"
#include "values/branch.hpp"
#include "values/trig_degrees.hpp"

namespace quarnel::solar {

inline constexpr const char azimutwinkel_doc[] =
    "\n"
    "    def deklin(dayofyear):\n"
    "        Result=np.degrees(np.arcsin(0.3978*np.sin(np.radians(0.9856*dayofyear-2.72-77.51"
    "+1.92*np.sin(np.radians(0.9856*dayofyear-2.72))))))\n"
    "        return Result\n"
    "    ";
static_assert(sizeof(azimutwinkel_doc) - 1 == 194);

inline constexpr const char* azimutwinkel_params[] = {"szeit", "breite", "dayofyear"};
inline constexpr const char* azimutwinkel_locals[] = {
    "Winkel", "Winkel", "delta", "sinBr", "cosBr", "sinD", "cosD",
    "sinSz",  "cosSz",  "sy",    "sz",    "Result"};
inline constexpr FunctionInfo azimutwinkel_info{
    "Azimutwinkel", "Azimutwinkel", "quarnel.Strahlwerk.Azimutwinkel", 47,
    azimutwinkel_params, azimutwinkel_locals, azimutwinkel_doc};

inline constexpr const char* winkel_params[] = {"Ankathete", "Gegenkathete", "Gradmass"};
inline constexpr const char* winkel_locals[] = {"phi"};
inline constexpr FunctionInfo winkel_info{
    "Winkel", "Azimutwinkel.<locals>.Winkel", "quarnel.Strahlwerk.Azimutwinkel.Winkel", 53,
    winkel_params, winkel_locals, nullptr};

// Direction of the point (Ankathete, Gegenkathete), measured from the
// positive Ankathete axis towards the positive Gegenkathete axis: [0, 2 pi)
// [rad], or [0, 360) [deg] when Gradmass is true. A zero Gegenkathete
// (-0.0 included) gives the integer 0 or pi by the sign of Ankathete;
// otherwise pi/2 or 3 pi/2 minus arctan(Ankathete / Gegenkathete), the
// latter also for a NaN Gegenkathete.
template <class D, class X, class Y, class G>
auto angle_of(D& d, const X& Ankathete, const Y& Gegenkathete, const G& Gradmass) {
    return d.inner(winkel_info, [&] {
        using V = typename D::V;
        d.at(54);
        V phi = branch(d, d.eq(Gegenkathete, k::i0), [&]() -> V {
            d.at(55);
            return branch(d, d.ge(Ankathete, k::i0), [&]() -> V { return d.keep(k::i0); }, [&]() -> V {
                d.at(58);
                return d.pi();
            });
        }, [&]() -> V {
            d.at(59);
            return branch(d, d.gt(Gegenkathete, k::i0), [&]() -> V {
                d.at(60);
                auto pi = d.pi();
                auto quarter = d.div(pi, k::i2);
                auto arctan = d.fn(NpFn::arctan);
                auto ratio = d.div(Ankathete, Gegenkathete);
                return d.sub(quarter, d.call(arctan, ratio));
            }, [&]() -> V {
                d.at(62);
                auto pi = d.pi();
                auto three_quarters = d.div(d.mul(k::i3, pi), k::i2);
                auto arctan = d.fn(NpFn::arctan);
                auto ratio = d.div(Ankathete, Gegenkathete);
                return d.sub(three_quarters, d.call(arctan, ratio));
            });
        });
        d.at(63);
        if (d.truth(Gradmass)) {
            d.at(64);
            auto degrees = d.fn(NpFn::degrees);
            phi = d.call(degrees, phi);
        }
        return phi;
    });
}

struct Azimutwinkel {
    static constexpr const FunctionInfo& info = azimutwinkel_info;

    template <class D>
    static auto eval(D& d, typename D::A szeit, typename D::A breite, typename D::A dayofyear) {
        d.at(67);
        auto delta = declination(d, dayofyear);

        auto [sinBr, cosBr] = sin_cos_of_degrees(d, breite, 68, 69);
        auto [sinD, cosD] = sin_cos_of_degrees(d, delta, 70, 71);

        // Time angle [rad], formed afresh for the sine and the cosine.
        d.at(72);
        auto sin = d.fn(NpFn::sin);
        auto pi = d.pi();
        auto sinSz = d.call(sin, d.div(d.mul(szeit, pi), k::i12));
        d.at(73);
        auto cos = d.fn(NpFn::cos);
        pi = d.pi();
        auto cosSz = d.call(cos, d.div(d.mul(szeit, pi), k::i12));

        d.at(74);
        auto sy = d.mul(d.neg(sinSz), cosD);
        d.at(75);
        auto sz = d.mul(d.mul(sinBr, cosSz), cosD);
        sz = d.add(sz, d.mul(sinD, cosBr));

        d.at(76);
        auto east = d.neg(sy);
        return angle_of(d, sz, east, k::True);
    }
};

}  // namespace quarnel::solar
