// The physiologically equivalent temperature, PET: the air temperature of a
// reference room (mean radiant temperature = air temperature, 0.1 m/s,
// 12 hPa) in which a person has the core and skin temperatures they have
// outdoors (Hoeppe 1999, Int J Biometeorol 43:71-75; VDI 3787-2, 2008).
// The person is the steady two-node body with clothing of Hoeppe's MEMI
// (Munich energy-balance model for individuals, Hoeppe 1984).
//
// Two lineages, plain doubles and the standard library only (this header
// and pet_corrected.hpp):
//
//   vdi()        MEMI as the VDI 3787 program computes it: the seven cases
//                of the core temperature tried in the program's order, the
//                first that passes the program's checks is the answer; the
//                reference room keeps the outdoor sweat and skin wetness.
//   corrected()  the corrected model of Walther & Goestchel (2018, Build
//                Environ 137:1-10) as pythermalcomfort computes it: the
//                balances of core, skin and clothing solved together, the
//                skin's share of the body after the blood flow (Gagge et
//                al. 1986), vapour through skin, clothing and air; in the
//                reference room the evaporation worked out anew for the
//                same core and skin.
//
// Every equation is solved by bracketing its root, so each element of the
// domain converges; the search order is fixed, so the bits do not depend
// on the machine's vector width. Inputs outside the domain give NaN.
#pragma once

#include <cmath>
#include <limits>

namespace quarnel::indices::pet {

// The person: age [years], sex (1 male, 2 female), height [m], mass [kg],
// activity [W] on top of the basal metabolism, clothing [clo].
struct Person {
    double age, sex, height, mass, activity, clothing;
};

// The standard person of VDI 3787-2.
inline constexpr Person standard_person{35.0, 1.0, 1.75, 75.0, 80.0, 0.9};

namespace detail {

inline constexpr double nan = std::numeric_limits<double>::quiet_NaN();
inline constexpr double ln10 = 2.302585092994046;
inline constexpr double p0 = 1013.25;       // [hPa]; the program's air pressure
inline constexpr double sigma = 5.67e-8;    // [W m-2 K-4]
inline constexpr double evap = 2.42e6;      // latent heat [J/kg]
inline constexpr double cair = 1010.0;      // [J kg-1 K-1]
inline constexpr double rob = 1.06;         // blood density [kg/L]
inline constexpr double cb = 3640.0;        // blood heat capacity [J kg-1 K-1]
inline constexpr double emsk = 0.99, emcl = 0.95;
inline constexpr double rdsk = 0.79e7;      // skin's resistance to vapour diffusion
inline constexpr double feff = 0.725;       // radiating share of a standing body
inline constexpr double kelvin = 273.2;     // as in the program

// Saturation vapour pressure [hPa] over water at t [degC], the program's
// Magnus form 6.11 * 10^(7.45 t / (235 + t)).
inline double saturation(double t) noexcept { return 6.11 * std::exp(ln10 * (7.45 * t / (235.0 + t))); }

inline double fourth(double t) noexcept {
    const double k = t + kelvin, k2 = k * k;
    return k2 * k2;
}

// max and min without the C library's NaN rules (which cost a call).
inline double larger(double a, double b) noexcept { return a > b ? a : b; }
inline double smaller(double a, double b) noexcept { return a < b ? a : b; }

inline double convection(double v) noexcept { return 2.67 + 6.5 * std::pow(v, 0.67); }

}  // namespace detail

// The corrected model's person at one activity in one outfit, per m2 of
// skin (Du Bois & Du Bois 1916: 0.202 m^0.425 h^0.725).
struct Dressed {
    double m;      // metabolic heat [W]
    double rtv;    // respiratory volume per second per W of metabolism
    double adu;    // skin [m2]
    double facl;   // clothed share of the skin (the polynomial, not capped)
    double aout;   // clothing's outer area per m2 of skin, facl + 0.31 Icl
    double fcl;    // 1 + 0.31 Icl (ISO 9920)
    double rcl;    // clothing's resistance Icl / 6.45 [m2 K / W]
    double cond;   // conductance of the clothing layer [W m-2 K-1] per m2 of skin
};

// What the formulas need of a person, worked out once.
struct Body {
    double h;       // metabolic heat [W]: basal + activity (no external work)
    double rtv;     // respiratory volume per second per W of metabolism
    double adu;     // Du Bois area [m2]
    double facl;    // clothed share of the skin
    double acl;     // clothing's outer area [m2]
    double bare;    // bare skin [m2]
    double rcl;     // clothing's resistance [m2 K / W] over the clothed skin
    double htcl;    // conductance of the clothing layer [W m-2 K-1] of acl
    double sweat;   // sweat of a man per sweat of this person (1 or 0.7)
    double hc_room; // convection in the reference room (0.1 m/s) [W m-2 K-1]
    Dressed out;    // the corrected model's person outdoors
    Dressed room;   // and in the reference room: 80 W of activity, 0.9 clo
};

namespace detail {

// The clothed share of the skin at icl [clo] (VDI 3787-2).
inline double clothed(double icl) noexcept {
    return (-2.36 + 173.51 * icl - 100.76 * icl * icl + 19.28 * (icl * icl * icl)) / 100.0;
}

inline Dressed dress(double basal, double activity, double icl, double mass, double height) noexcept {
    Dressed d;
    d.m = basal + activity;
    d.rtv = 1.44e-6 * d.m;
    d.adu = 0.202 * std::pow(mass, 0.425) * std::pow(height, 0.725);
    d.facl = clothed(icl);
    d.fcl = 1.0 + 0.31 * icl;
    d.aout = d.facl + (d.fcl - 1.0);
    d.rcl = icl / 6.45;
    // A cylindrical layer of resistance rcl from the clothed skin to the
    // outer surface (radii in the ratio aout / facl): its heat per m2 of
    // outer surface and K, which the model applies per m2 of skin.
    const double rho = d.aout / d.facl;
    d.cond = (rho - 1.0) / (d.rcl * rho * std::log(rho));
    return d;
}

}  // namespace detail

// The body of a person; false outside the person's domain: 5 <= age <= 100,
// sex 1 or 2, 1 <= height <= 2.3 m, 20 <= mass <= 250 kg, 0 <= activity
// <= 800 W, 0.1 <= clothing <= 2 clo.
inline bool make_body(const Person& p, Body& b) noexcept {
    if (!(p.age >= 5.0 && p.age <= 100.0 && (p.sex == 1.0 || p.sex == 2.0) && p.height >= 1.0 &&
          p.height <= 2.3 && p.mass >= 20.0 && p.mass <= 250.0 && p.activity >= 0.0 && p.activity <= 800.0 &&
          p.clothing >= 0.1 && p.clothing <= 2.0))
        return false;
    const double m34 = std::pow(p.mass, 0.75), ratio = p.height * 100.0 / std::cbrt(p.mass);
    // Basal metabolism [W] (VDI 3787-2).
    const double basal = p.sex == 1.0
                             ? 3.45 * m34 * (1.0 + 0.004 * (30.0 - p.age) + 0.010 * (ratio - 43.4))
                             : 3.19 * m34 * (1.0 + 0.004 * (30.0 - p.age) + 0.018 * (ratio - 42.1));
    const double met = basal + p.activity;
    const double icl = p.clothing;
    b.out = detail::dress(basal, p.activity, icl, p.mass, p.height);
    b.room = detail::dress(basal, 80.0, 0.9, p.mass, p.height);
    b.h = met;
    b.rtv = 1.44e-6 * met;
    b.adu = 0.203 * std::pow(p.mass, 0.425) * std::pow(p.height, 0.725);
    const double facl = detail::clothed(icl);
    b.facl = facl > 1.0 ? 1.0 : facl;
    b.rcl = (icl / 6.45) / b.facl;
    // The clothing as a cylindrical layer whose outer area exceeds the
    // clothed skin by 0.15 icl of the Du Bois area: its conductance per m2
    // of outer area is the log-mean one (the program's radii r1, r2 with
    // height and y cancel out).
    const double fcl = 1.0 + 0.15 * icl;
    b.acl = b.adu * b.facl + b.adu * (fcl - 1.0);
    b.bare = b.adu * (1.0 - b.facl);
    b.htcl = b.adu * (fcl - 1.0) / (b.rcl * std::log((fcl - 1.0 + b.facl) / b.facl) * b.acl);
    b.sweat = p.sex == 1.0 ? 1.0 : 0.7;
    b.hc_room = detail::convection(0.1);
    return true;
}

namespace detail {

// Newton's method for a root of f, safeguarded. xp and xn are points with
// f > 0 and f < 0, NaN while unknown. Once both are known, a step that
// leaves the bracket or does not halve the step before last is replaced by
// bisection (the safeguard of Press et al.'s rtsafe). Before that, the
// search goes the way the sign says for an f that is increasing (or not),
// within [lo, hi]: Newton's steps if they go that way, none longer than
// reach, which doubles each time it cuts one short. eval(x) returns {f,
// f'} and keeps what the caller needs of the state at x; x is the first
// point, evaluated already as r. Ends at the last point evaluated, with the
// Newton step from it when that is below tol or shows quadratic
// convergence: x + dx is then the root to O(dx^2), and the caller may
// carry its state there along the tangent. Without a sign change in
// [lo, hi], x is NaN.
struct Fd {
    double f, df;
};
struct Root {
    double x, dx;
};
template <class Eval>
Root newton(const Eval& eval, double x, Fd r, double xp, double xn, double lo, double hi, bool increasing,
            double reach, double tol) noexcept {
    double dxold = std::numeric_limits<double>::infinity(), dx = dxold;
    bool newton_before = false;
    for (int it = 0; it < 400; ++it) {
        if (r.f == 0.0) return {x, 0.0};
        if (r.f > 0.0)
            xp = x;
        else
            xn = x;
        double step = -r.f / r.df, next = x + step;
        bool newton_now = true;
        if (xp == xp && xn == xn) {
            const double a = smaller(xp, xn), b = larger(xp, xn);
            if (b - a <= tol) return {x, 0.0};
            // NaN steps (f' = 0) fail the first test.
            if (!(next > a && next < b) || std::fabs(2.0 * r.f) > std::fabs(dxold * r.df)) {
                next = 0.5 * (a + b);
                step = next - x;
                newton_now = false;
            }
        } else {
            const double dir = (r.f > 0.0) == increasing ? -1.0 : 1.0;
            if (!(step * dir > 0.0) || std::fabs(step) > reach) {
                step = dir * reach;
                reach *= 2.0;
                newton_now = false;
            }
            next = smaller(larger(x + step, lo), hi);
            if (next == x) return {nan, 0.0};
            step = next - x;
        }
        if (newton_now) {
            const double s = std::fabs(step);
            if (s <= tol) return {x, step};
            // Converging quadratically (two Newton steps, the second under
            // a tenth of the first): x + step is within about s^3 / dx^2.
            if (newton_before && s <= 0.1 * std::fabs(dx) && s * s * s <= 0.1 * tol * dx * dx) return {x, step};
        }
        newton_before = newton_now;
        dxold = dx;
        dx = step;
        x = next;
        r = eval(x);
    }
    return {x, 0.0};
}

// Skin temperatures the searches may reach [degC]: below and above any
// state the domain leads to, above the Magnus form's pole at -235 and
// absolute zero.
inline constexpr double tsk_low = -150.0, tsk_high = 80.0;

// The outdoor state of the VDI program for one element, as a function of
// the clothing's surface temperature tcl.
struct Vdi {
    const Body& b;
    double ta, tmrt, vpa;
    double hc, tr4, tr3, c0, c1, evp, edk, kcl, kbare, ksw, inv_htcl;
    double vpex;  // saturation of the expired air at ta [hPa]
    // The core temperature's cases: 5.28 adu, the program's c4 and c5,
    // 1 / (2 c4), c1 6.3 / 3600, and tc - tsk at blood flows 90 and 6.3.
    double a, c4, c5, half_c4, m, d90, d63;

    Vdi(const Body& body, double ta_, double tmrt_, double v, double vpa_) noexcept
        : b(body), ta(ta_), tmrt(tmrt_), vpa(vpa_) {
        hc = convection(v);
        const double k = tmrt + kelvin;
        tr3 = k * k * k;
        tr4 = fourth(tmrt);
        const double tex = 0.47 * ta + 21.0;
        vpex = saturation(tex);
        c0 = b.h + cair * (ta - tex) * b.rtv + 0.623 * evap / p0 * (vpa - vpex) * b.rtv;
        c1 = b.adu * rob * cb;
        // Potential evaporation per hPa, through the clothing's vapour factor.
        const double he = 0.633 * hc / (p0 * cair), fec = 1.0 / (1.0 + 0.92 * hc * b.rcl);
        evp = he * b.adu * evap * fec;
        edk = evap / rdsk * b.adu;
        kcl = emcl * sigma * feff;
        kbare = feff * emsk * sigma;
        ksw = 304.94 * b.adu / 3600000.0 * b.sweat * evap;
        inv_htcl = 1.0 / b.htcl;
        a = 5.28 * b.adu;
        c4 = 0.0208 * c1;
        c5 = 0.76075 * c1;
        half_c4 = 1.0 / (2.0 * c4);
        m = c1 * 6.3 / 3600.0;
        d90 = c0 / (a + c1 / 40.0);
        d63 = c0 / (a + m);
    }

    // The skin temperature at clothing temperature tcl, and d tsk / d tcl:
    // the heat through the clothing leaves its surface.
    double skin(double tcl, double& ds) const noexcept {
        const double k = tcl + kelvin, k2 = k * k;
        ds = 1.0 + (hc + 4.0 * kcl * (k2 * k)) * inv_htcl;
        return (hc * (tcl - ta) + kcl * (k2 * k2 - tr4)) * inv_htcl + tcl;
    }

    // The tcl at which the skin is at target. tsk(tcl) is increasing and
    // convex (tcl^4): the zero of its tangent at tmrt, tangent_at, lies
    // right of the root (tsk is at least target there), and Newton from it
    // descends onto the root.
    double tangent_at(double target) const noexcept {
        const double slope = 1.0 + (hc + 4.0 * kcl * tr3) * inv_htcl;
        return (target + (hc * ta + 4.0 * kcl * tr3 * tmrt) * inv_htcl) / slope;
    }
    double clothing_at(double target) const noexcept {
        double x = tangent_at(target);
        for (int it = 0; it < 100; ++it) {
            double ds;
            const double g = skin(x, ds) - target;
            const double next = x - g / ds;
            if (!(next < x)) break;
            x = next;
            // The next step would be below 1e-14 K.
            if (g <= 1e-7 * ds) break;
        }
        return x;
    }

    // What the seven cases share at one tcl, with derivatives.
    struct Point {
        double tcl, tsk, ds, vpts, dvpts, dry, ddry;
    };
    Point point(double tcl) const noexcept {
        const double k = tcl + kelvin, k2 = k * k;
        const double q = hc * (tcl - ta) + kcl * (k2 * k2 - tr4), dq = hc + 4.0 * kcl * (k2 * k);
        const double tsk = q * inv_htcl + tcl, ds = 1.0 + dq * inv_htcl;
        const double s = tsk + kelvin, s2 = s * s;
        const double dry = c0 - b.acl * q + b.bare * (kbare * (tr4 - s2 * s2) + hc * (ta - tsk));
        const double ddry = -b.acl * dq - b.bare * (4.0 * kbare * (s2 * s) + hc) * ds;
        // Below -150 degC the Magnus form is under 1e-12 hPa: none.
        double vpts = 0.0, dvpts = 0.0;
        if (tsk > -150.0) {
            const double inv = 1.0 / (235.0 + tsk);
            vpts = 6.11 * std::exp(ln10 * 7.45 * tsk * inv);
            dvpts = vpts * (ln10 * 7.45 * 235.0) * (inv * inv);
        }
        return {tcl, tsk, ds, vpts, dvpts, dry, ddry};
    }

    struct State {
        double f, df, tc, disc, wetsk, esw, dwetsk, desw;  // the last two per K of tsk
    };
    // Case j (1-7) of the program's core temperature at p: the balance [W]
    // and its derivative in tcl.
    State state(int j, const Point& p) const noexcept {
        const double tsk = p.tsk;
        double tc, dtc = 1.0, disc = 0.0;
        switch (j) {
            case 1:
            case 6: {
                // Vasodilation, no constriction: c4 tc^2 + c9 tc + ... = 0.
                const double c9 = a - c5 - c4 * tsk;
                disc = c9 * c9 - 4.0 * c4 * (c5 * tsk - c0 - a * tsk);
                const double ddisc = -2.0 * c4 * c9 - 4.0 * c4 * (c5 - a);
                const double r = std::sqrt(larger(disc, 0.0)), dr = r > 0.0 ? 0.5 * ddisc / r : 0.0;
                tc = (j == 1 ? -c9 + r : -c9 - r) * half_c4;
                dtc = (j == 1 ? c4 + dr : c4 - dr) * half_c4;
                break;
            }
            case 2:
            case 5: {
                // Vasodilation and constriction.
                const double c2 = 18.0 - 0.5 * tsk, c3 = a * c2;
                const double c6 = c3 - c5 - tsk * c4, c7 = -c0 * c2 - tsk * c3 + tsk * c5;
                const double dc6 = -0.5 * a - c4, dc7 = 0.5 * c0 - c3 + 0.5 * a * tsk + c5;
                disc = c6 * c6 - 4.0 * c4 * c7;
                const double ddisc = 2.0 * c6 * dc6 - 4.0 * c4 * dc7;
                const double r = std::sqrt(larger(disc, 0.0)), dr = r > 0.0 ? 0.5 * ddisc / r : 0.0;
                tc = (j == 2 ? -c6 + r : -c6 - r) * half_c4;
                dtc = (j == 2 ? -dc6 + dr : -dc6 - dr) * half_c4;
                break;
            }
            case 3: {
                // Constriction: blood flow 6.3 / (1 + 0.5 (34 - tsk)).
                const double c2 = 1.0 + 0.5 * (34.0 - tsk), inv = 1.0 / (a * c2 + m);
                tc = c0 * c2 * inv + tsk;
                dtc = 1.0 - 0.5 * c0 * m * (inv * inv);
                break;
            }
            case 4: tc = d90 + tsk; break;  // blood flow at its cap, 90
            default: tc = d63 + tsk;        // blood flow 6.3
        }
        const double tbody = 0.1 * tsk + 0.9 * tc;
        const bool sweating = tbody > 36.6;
        const double eswphy = sweating ? -ksw * (tbody - 36.6) : 0.0;
        const double deswphy = sweating ? -ksw * (0.1 + 0.9 * dtc) : 0.0;
        const double g = vpa - p.vpts, eswpot = evp * g, deswpot = -evp * p.dvpts;
        // Wetness: the sweat over what the air takes; at no gradient, the
        // limit from the drying side.
        double wetsk, dwetsk = 0.0;
        if (eswpot != 0.0) {
            const double inv = 1.0 / eswpot;
            wetsk = eswphy * inv;
            dwetsk = (deswphy - wetsk * deswpot) * inv;
        } else {
            wetsk = eswphy < 0.0 ? 1.0 : 0.0;
        }
        if (wetsk > 1.0) {
            wetsk = 1.0;
            dwetsk = 0.0;
        }
        double esw = eswpot, desw = deswpot;
        if (eswphy - eswpot > 0.0) {
            esw = eswphy;
            desw = deswphy;
        }
        if (esw > 0.0) esw = desw = 0.0;
        const double ed = edk * (1.0 - wetsk) * g, ded = edk * (-dwetsk * g - (1.0 - wetsk) * p.dvpts);
        return {p.dry + ed + esw, p.ddry + (ded + desw) * p.ds, tc, disc, wetsk, esw, dwetsk, desw};
    }

    // The program's checks of case j at its solution.
    static bool accepted(int j, const Point& p, const State& s) noexcept {
        const double vb1 = larger(34.0 - p.tsk, 0.0), vb2 = larger(s.tc - 36.6, 0.0);
        const double vb = (6.3 + 75.0 * vb2) / (1.0 + 0.5 * vb1);
        bool ok;
        switch (j) {
            case 1:
            case 6: ok = s.disc >= 0.0 && s.tc >= 36.6 && p.tsk > 33.85; break;
            case 2:
            case 5: ok = s.disc >= 0.0 && s.tc >= 36.6 && p.tsk <= 34.05; break;
            case 3: ok = s.tc < 36.6 && p.tsk <= 34.0; break;
            case 7: ok = s.tc < 36.6 && p.tsk > 34.0; break;
            default: return vb >= 89.0;
        }
        return ok && vb < 91.0;
    }
};

// The reference room's balance [W] at air temperature tx for the outdoor
// skin tsk, clothing tcl, wetness and sweat, and its derivative: increasing
// in tx.
struct Room {
    const Body& b;
    double tsk, tcl, fixed, hc, sk4, cl4;
    double ta, vpex_ta;  // the search starts at ta, whose expired air the outdoor balance knows
    Fd operator()(double tx) const noexcept {
        const double k = tx + kelvin, k2 = k * k;
        const double tex = 0.47 * tx + 21.0, u = 235.0 + tex, vpex = tx == ta ? vpex_ta : saturation(tex);
        const double resp = cair * (tx - tex) * b.rtv + 0.623 * evap / p0 * (12.0 - vpex) * b.rtv;
        const double dvpex = vpex * (ln10 * 7.45 * 235.0) / (u * u) * 0.47;  // per K of tx
        const double dresp = cair * 0.53 * b.rtv - 0.623 * evap / p0 * b.rtv * dvpex;
        const double rad = feff * sigma * (b.bare * emsk + b.acl * emcl);
        const double f = fixed + resp + hc * ((tx - tsk) * b.bare + (tx - tcl) * b.acl) +
                         feff * sigma * (b.bare * emsk * (k2 * k2 - sk4) + b.acl * emcl * (k2 * k2 - cl4));
        return {f, dresp + hc * (b.bare + b.acl) + 4.0 * rad * (k2 * k)};
    }
};

// The zero of an increasing g in [-270, 600]: Newton from x0, the bracket
// found on the way.
template <class G>
double increasing_root(const G& g, double x0) noexcept {
    const Root r = newton(g, x0, g(x0), nan, nan, -270.0, 600.0, true, 40.0, 1e-4);
    return r.x + r.dx;
}

}  // namespace detail

// Domain of the air temperature ta [degC], tmrt - ta [K], the wind v at
// 1.1 m [m/s] and the vapour pressure [hPa], bounds included: every element
// in it converges (tested on a grid). The vapour pressure may exceed
// saturation (by the program's Magnus form) by a tenth, for humidity
// sensors and other saturation formulas.
inline bool in_domain(double ta, double tmrt, double v, double vpa) noexcept {
    const double d = tmrt - ta;
    return ta >= -50.0 && ta <= 60.0 && d >= -50.0 && d <= 90.0 && v >= 0.0 && v <= 30.0 && vpa >= 0.0 &&
           vpa <= 1.1 * detail::saturation(ta);
}

// PET [degC] as the VDI 3787 program computes it.
inline double vdi(const Body& b, double ta, double tmrt, double v, double vpa) noexcept {
    using namespace detail;
    if (!in_domain(ta, tmrt, v, vpa)) return nan;
    const Vdi o(b, ta, tmrt, v, vpa);
    // The cases' conditions change at skin temperatures 33.85, 34 and
    // 34.05. Each case's search starts at 34 and goes the way the sign of
    // its balance says (the balance falls as the clothing warms): up to a
    // clothing where the skin is at least tsk_high, down to one where it is
    // at least tsk_low, or across the band to 33.85 or 34.05 for the cases
    // that end there (the bands' points worked out when first needed).
    const double tcl34 = o.clothing_at(34.0);
    const Vdi::Point p34 = o.point(tcl34);
    const double x_low = o.tangent_at(tsk_low), x_high = larger(larger(ta, tmrt), tsk_high);
    Vdi::Point band[2];
    bool have_band[2] = {};
    auto edge = [&](int k) -> const Vdi::Point& {
        if (!have_band[k]) {
            // Two Newton steps on the nearly straight tsk(tcl).
            double x = tcl34;
            for (int it = 0; it < 2; ++it) {
                double ds;
                x -= (o.skin(x, ds) - (k == 0 ? 33.85 : 34.05)) / ds;
            }
            band[k] = o.point(x);
            have_band[k] = true;
        }
        return band[k];
    };
    // Where case j's search may go below and above 34: 0 nowhere, 1 to the
    // band's edge, 2 free.
    static constexpr int below[8] = {0, 1, 2, 2, 2, 2, 1, 0};
    static constexpr int above[8] = {0, 2, 1, 0, 2, 1, 2, 2};
    // When no case passes, the program goes on with the last case it
    // solved (its loop ends there): so do we.
    Vdi::Point found{}, warm{};
    Vdi::State state{};
    int last = 0;
    for (int j = 1; j <= 7; ++j) {
        Vdi::Point p = p34;
        Vdi::State s = o.state(j, p);
        if (s.f != 0.0) {
            const bool up = s.f > 0.0;
            const int way = up ? above[j] : below[j];
            if (way == 0) continue;
            double xp = up ? tcl34 : nan, xn = up ? nan : tcl34, lo = x_low, hi = x_high;
            if (way == 1) {
                // Across the band (0.15 K or 0.05 K of the skin) the balance
                // moves about f' times the clothing's share of it: four
                // times that and still short of zero, the band holds no root.
                const double band = (up ? 0.05 : 0.15) / p34.ds;
                if (std::fabs(s.f) > 4.0 * std::fabs(s.df) * band) continue;
                const Vdi::Point& e = edge(up ? 1 : 0);
                const Vdi::State se = o.state(j, e);
                if ((se.f > 0.0) == up && se.f != 0.0) continue;
                (up ? xn : xp) = e.tcl;
                if (std::fabs(se.f) < std::fabs(s.f)) {
                    p = e;
                    s = se;
                }
            }
            // From the last case's solution where it lies on the way.
            if (last && (warm.tcl - tcl34 > 0.0) == up && warm.tcl != tcl34 &&
                (way == 2 || (warm.tcl - (up ? xn : xp) < 0.0) == up)) {
                p = warm;
                s = o.state(j, p);
            }
            auto eval = [&](double t) noexcept {
                p = o.point(t);
                s = o.state(j, p);
                return Fd{s.f, s.df};
            };
            // Upwards, steps of at most 1.5 K of the skin at first: past the
            // onset of sweating the balance falls far more steeply.
            const double reach = up ? 1.5 / p34.ds : std::numeric_limits<double>::infinity();
            constexpr double tol = 1e-5;
            const Root root = newton(eval, p.tcl, Fd{s.f, s.df}, xp, xn, lo, hi, false, reach, tol);
            if (root.x != root.x) continue;
            warm = p;
            // A root where the skin's vapour pressure passes the air's is
            // the step of the wetness there (condensing sweat has no
            // bound): the state on the drying side of it.
            if (s.wetsk < -1.0) {
                const Vdi::Point pl = o.point(root.x - tol), pr = o.point(root.x + tol);
                if ((pl.vpts >= vpa) != (pr.vpts >= vpa)) eval(pl.vpts >= vpa ? pl.tcl : pr.tcl);
            } else if (root.dx != 0.0) {
                // On to the root along the tangents.
                const double dt = p.ds * root.dx;
                p.tcl += root.dx;
                p.tsk += dt;
                p.vpts += p.dvpts * dt;
                s.wetsk += s.dwetsk * dt;
                s.esw += s.desw * dt;
            }
        } else {
            warm = p;
        }
        found = p;
        state = s;
        last = j;
        if (Vdi::accepted(j, found, state)) break;
    }
    if (!last) return nan;
    const Room room{b,
                    found.tsk,
                    found.tcl,
                    b.h + o.edk * (1.0 - state.wetsk) * (12.0 - found.vpts) + state.esw,
                    b.hc_room,
                    fourth(found.tsk),
                    fourth(found.tcl),
                    ta,
                    o.vpex};
    return increasing_root(room, ta);
}

}  // namespace quarnel::indices::pet
