// PET of the corrected model of Walther & Goestchel (2018, Build Environ
// 137:1-10) as pythermalcomfort computes it, on the body and the solvers of
// pet.hpp: the balances of core, skin and clothing solved together.
#pragma once

#include "formulas/indices/pet.hpp"

#include <cmath>

namespace quarnel::indices::pet {

namespace detail {

// Saturation vapour pressure [hPa] at t [degC], over ice below 0 degC, and
// its derivative [hPa/K]: Hyland & Wexler (1983) as ASHRAE Fundamentals
// (2017, ch. 1, eqs. 5 and 6) gives it.
inline double hyland_wexler(double t, double& dp) noexcept {
    const double k = t + 273.15;
    double lnp, dlnp;
    if (t < 0.0) {
        constexpr double c1 = -5.6745359e3, c2 = 6.3925247, c3 = -9.677843e-3, c4 = 6.2215701e-7,
                         c5 = 2.0747825e-9, c6 = -9.484024e-13, c7 = 4.1635019;
        lnp = c1 / k + c2 + k * (c3 + k * (c4 + k * (c5 + k * c6))) + c7 * std::log(k);
        dlnp = -c1 / (k * k) + c3 + k * (2.0 * c4 + k * (3.0 * c5 + k * (4.0 * c6))) + c7 / k;
    } else {
        constexpr double c8 = -5.8002206e3, c9 = 1.3914993, c10 = -4.8640239e-2, c11 = 4.1764768e-5,
                         c12 = -1.4452093e-8, c13 = 6.5459673;
        lnp = c8 / k + c9 + k * (c10 + k * (c11 + k * c12)) + c13 * std::log(k);
        dlnp = -c8 / (k * k) + c10 + k * (2.0 * c11 + k * (3.0 * c12)) + c13 / k;
    }
    const double p = std::exp(lnp) / 100.0;
    dp = p * dlnp;
    return p;
}

inline double quartic(double t) noexcept {
    const double k = t + 273.15, k2 = k * k;
    return k2 * k2;
}
inline double cubic(double t) noexcept {
    const double k = t + 273.15;
    return k * k * k;
}

// Respiration [W] of the corrected model and its derivative in ta: the
// program's, with the expired air's saturation by Hyland & Wexler.
inline double respiration_wg(double rtv, double ta, double vpa, double& dr) noexcept {
    const double tex = 0.47 * ta + 21.0;
    double dsat;
    const double sat = hyland_wexler(tex, dsat);
    constexpr double latent = 0.623 * evap / p0;
    dr = (cair * 0.53 - latent * dsat * 0.47) * rtv;
    return cair * (ta - tex) * rtv + latent * (vpa - sat) * rtv;
}

// Convection [W m-2 K-1] at v [m/s]: the program's, not below free
// convection's 3.
inline double convection_wg(double v) noexcept { return larger(convection(v), 3.0); }

// The corrected model's balances per m2 of skin for one person in one
// environment; the unknown is the skin temperature tsk.
struct Wg {
    const Dressed& d;
    double ta, tmrt, vpa, hc, tr4, p;
    double rd_inv, sp;  // vapour conductances of skin to air: diffusion, sweat [W m-2 hPa-1]
    static constexpr double kb = feff * emsk * sigma, kr = feff * emcl * sigma;
    static constexpr double blood = cb / 3600.0;  // [W m-2 K-1 per L m-2 h-1]

    Wg(const Dressed& dressed, double ta_, double tmrt_, double v, double vpa_) noexcept
        : d(dressed), ta(ta_), tmrt(tmrt_), vpa(vpa_) {
        hc = convection_wg(v);
        tr4 = quartic(tmrt);
        double unused;
        p = (d.m + respiration_wg(d.rtv, ta, vpa, unused)) / d.adu;
        // Woodcock's permeability index 0.38 and the Lewis ratio 1.67 K/hPa
        // over the clothing's and the air's resistances together; the sweat
        // through Burton's factor of the clothing.
        rd_inv = 0.38 * 1.67 / (d.rcl + 1.0 / (d.fcl * hc));
        sp = 1.67 * hc / (1.0 + 0.92 * hc * d.rcl);
    }

    // The core temperature that carries the metabolic heat p to a skin at
    // tsk, with d tc / d tsk, the blood flow vb and d vb / d tsk: 5.28 W
    // m-2 K-1 plus the blood's flow (6.3 + 75 (tc - 36.6)+) / (1 + 0.5 (34
    // - tsk)+), at most 90 L m-2 h-1 (Hoeppe 1984).
    struct Core {
        double tc, dtc, vb, dvb;
    };
    static Core core(double p, double tsk) noexcept {
        const bool cold = tsk < 34.0;
        const double c2 = cold ? 1.0 + 0.5 * (34.0 - tsk) : 1.0, dc2 = cold ? -0.5 : 0.0;
        // Constriction alone.
        double vb = 6.3 / c2, kk = 5.28 + blood * vb;
        double tc = tsk + p / kk;
        double n = 6.3, slope = 0.0;  // vb = n / c2, d n / d tc
        if (tc > 36.6) {
            // Dilation: (a0 + a1 u)(u + dd) = p with u = tc - 36.6.
            const double a0 = 5.28 + blood * 6.3 / c2, a1 = blood * 75.0 / c2, dd = 36.6 - tsk;
            const double b = a0 + a1 * dd, c = a0 * dd - p, r = std::sqrt(b * b - 4.0 * a1 * c);
            const double u = b >= 0.0 ? -2.0 * c / (b + r) : (r - b) / (2.0 * a1);
            n = 6.3 + 75.0 * u;
            vb = n / c2;
            if (vb < 90.0) {
                tc = 36.6 + u;
                slope = 75.0;
                kk = 5.28 + blood * vb;
            } else {
                vb = 90.0;
                kk = 5.28 + blood * 90.0;
                tc = tsk + p / kk;
                return {tc, 1.0, vb, 0.0};
            }
        }
        // d/d tsk of kk (tc - tsk) = p: kk and vb through c2, and tc.
        const double dvb_dtsk = -n * dc2 / (c2 * c2), dvb_dtc = slope / c2;
        const double dtc = (kk - blood * dvb_dtsk * (tc - tsk)) / (kk + blood * dvb_dtc * (tc - tsk));
        return {tc, dtc, vb, dvb_dtc * dtc + dvb_dtsk};
    }

    // The clothing's surface temperature for a skin at tsk: what crosses
    // the clothing leaves its surface. h(tcl) is increasing and convex, so
    // Newton from right of the root (the zero of its tangent at tmrt)
    // descends onto it; dh is returned for d tcl / d tsk = cond / dh.
    double clothing(double tsk, double& dh) const noexcept {
        const double ka = d.aout * kr, lin = d.cond + d.aout * hc, rhs = d.cond * tsk + d.aout * hc * ta + ka * tr4;
        const double t3 = cubic(tmrt);
        double x = (rhs - ka * tr4 + 4.0 * ka * t3 * tmrt) / (lin + 4.0 * ka * t3);
        for (int it = 0; it < 100; ++it) {
            dh = lin + 4.0 * ka * cubic(x);
            const double next = x - (lin * x + ka * quartic(x) - rhs) / dh;
            if (!(next < x) || x - next <= 1e-12 * (1.0 + std::fabs(x))) break;
            x = next;
        }
        dh = lin + 4.0 * ka * cubic(x);
        return x;
    }

    // Heat gained by evaporation [W/m2] (negative) and its derivative in
    // tsk. The sweat (Gagge et al. 1986: the skin's share of the body
    // 0.0417737 + 0.7451832 / (vb + 0.585417); 304.94 g m-2 h-1 K-1 above
    // 0.1 * 34 + 0.9 * 36.6, at most 500) evaporates whole; the diffusion
    // through the rest of the skin is (1 - w) of what the air takes, w the
    // sweat over the sweat the air could take, at most 1.
    static Fd evaporation(double tsk, const Core& c, double g, double dg, double rd_inv, double sp) noexcept {
        constexpr double a = 0.0417737, b = 0.7451832, e = 0.585417, lw = evap / 3.6e6;
        const double alpha = a + b / (c.vb + e), dalpha = -b / ((c.vb + e) * (c.vb + e)) * c.dvb;
        const double tbody = alpha * tsk + (1.0 - alpha) * c.tc;
        const double dtbody = alpha + (1.0 - alpha) * c.dtc + dalpha * (tsk - c.tc);
        const double raw = 304.94 * (tbody - 36.34);
        const double esw = lw * (raw > 500.0 ? 500.0 : raw > 0.0 ? raw : 0.0);
        const double desw = raw > 0.0 && raw < 500.0 ? lw * 304.94 * dtbody : 0.0;
        const double esp = g * sp;
        // Wet skin; also where the air's vapour pressure equals the skin's
        // (the limit from the drying side).
        if (esp >= 0.0 && esw >= esp) return {-esw, -desw};
        const double k = 1.0 - rd_inv / sp;
        return {-(g * rd_inv + k * esw), -(dg * rd_inv + k * desw)};
    }

    // The balance of the skin [W/m2] at tsk, with the core and the clothing
    // in balance, and its derivative; the states for the reference room.
    struct State {
        double tsk, tc, tcl, vb, dvb, dtc;
    };
    Fd balance(double tsk, State& st) const noexcept {
        const Core c = core(p, tsk);
        double dh;
        const double tcl = clothing(tsk, dh);
        double dvpts;
        const double vpts = hyland_wexler(tsk, dvpts);
        const Fd e = evaporation(tsk, c, vpts - vpa, dvpts, rd_inv, sp);
        const double bare = (1.0 - d.facl) * (hc * (ta - tsk) + kb * (tr4 - quartic(tsk)));
        const double dbare = -(1.0 - d.facl) * (hc + 4.0 * kb * cubic(tsk));
        st = {tsk, c.tc, tcl, c.vb, c.dvb, c.dtc};
        return {p + bare + e.f - d.cond * (tsk - tcl), dbare + e.df - d.cond * (1.0 - d.cond / dh)};
    }
};

// The reference room's balance [W/m2] for the outdoor core, skin and
// clothing, at air temperature tx: increasing in tx.
struct RoomWg {
    const Dressed& d;
    double tsk, tcl, fixed, hc, sk4, cl4;
    Fd operator()(double tx) const noexcept {
        double dr;
        const double resp = respiration_wg(d.rtv, tx, 12.0, dr);
        const double x4 = quartic(tx), x3 = cubic(tx);
        const double f = fixed + resp / d.adu + (1.0 - d.facl) * (hc * (tx - tsk) + Wg::kb * (x4 - sk4)) -
                         d.aout * (hc * (tcl - tx) + Wg::kr * (cl4 - x4));
        const double df = dr / d.adu + (1.0 - d.facl) * (hc + 4.0 * Wg::kb * x3) + d.aout * (hc + 4.0 * Wg::kr * x3);
        return {f, df};
    }
};

}  // namespace detail

// PET [degC] of the corrected model (Walther & Goestchel 2018).
inline double corrected(const Body& b, double ta, double tmrt, double v, double vpa) noexcept {
    using namespace detail;
    if (!in_domain(ta, tmrt, v, vpa)) return nan;
    const Wg o(b.out, ta, tmrt, v, vpa);
    // The skin's balance falls as the skin warms: from 34 degC the way its
    // sign says, steps of at most 4 K at first.
    Wg::State st{};
    auto eval = [&](double t) noexcept { return o.balance(t, st); };
    const Root root = newton(eval, 34.0, eval(34.0), nan, nan, -100.0, 100.0, false, 4.0, 1e-9);
    if (root.x != root.x) return nan;
    // The reference room: the same core and skin, and so the same sweat;
    // vapour 12 hPa, 0.1 m/s, the reference activity and clothing.
    const Dressed& r = b.room;
    const double hc = convection_wg(0.1);
    double dvpts;
    const double vpts = hyland_wexler(st.tsk, dvpts);
    const Wg::Core core{st.tc, st.dtc, st.vb, st.dvb};
    const double rd_inv = 0.38 * 1.67 / (r.rcl + 1.0 / (r.fcl * hc)), sp = 1.67 * hc / (1.0 + 0.92 * hc * r.rcl);
    const double e = Wg::evaporation(st.tsk, core, vpts - 12.0, dvpts, rd_inv, sp).f;
    const RoomWg room{r, st.tsk, st.tcl, r.m / r.adu + e, hc, quartic(st.tsk), quartic(st.tcl)};
    return increasing_root(room, ta);
}

}  // namespace quarnel::indices::pet
