// The wet-bulb globe temperature outdoors from standard weather data:
// Liljegren, Carhart, Lawday, Tschopp & Sharp (2008), J Occup Environ Hyg
// 5:645-655. The 50.8 mm black globe and the natural wet bulb (a wetted
// wick 7 mm by 25.4 mm) each from its steady energy balance: long-wave
// from the sky (Oke's clear-sky emissivity) and from the ground (at the
// air temperature), the sun's direct, diffuse and ground-reflected parts,
// forced convection from the correlations for a sphere and for a cylinder
// in cross flow with the air's properties at the film temperature, and
// evaporation from the wick by the heat-mass transfer analogy.
//
// The constants and property fits are those of the paper and of the
// authors' code, including particulars that move the result by tenths of
// a kelvin: the saturation vapour pressure of Buck (1981) with the
// enhancement factor 1.004; a latent heat of vaporisation that grows with
// temperature (2.4073e6 J/kg at 40 degC, 71100 J/kg less per 30 K below),
// where the physical one shrinks; Oke's sky emissivity, which passes 1
// above 48 hPa.
//
// The authors iterate each balance by damped substitution, stopping when
// a step is below 0.02 K (a few hundredths of a kelvin from the root,
// and no answer when 50 steps do not get there). Here each balance is
// solved to its root by Newton's method kept inside an interval known to
// hold it, bisecting where a step would leave it: every element inside
// the domain converges.
//
// Standard library only; plain doubles, element by element (liljegren), or
// a block of elements whose searches are interleaved (balances, solve,
// result), to the same bits. Internal linkage.
#pragma once

#include <cmath>
#include <limits>

namespace quarnel::indices::wbgt {
namespace {

constexpr double kelvin = 273.15;
constexpr double pi = 3.141592653589793;
constexpr double stefan_boltzmann = 5.6696e-8;  // [W m-2 K-4], the authors' value

// The instruments and the ground (Liljegren et al. 2008).
constexpr double globe_diameter = 0.0508;  // [m]
constexpr double globe_albedo = 0.05;
constexpr double globe_emissivity = 0.95;
constexpr double wick_diameter = 0.007;  // [m]
constexpr double wick_length = 0.0254;   // [m]
constexpr double wick_albedo = 0.4;
constexpr double wick_emissivity = 0.95;
constexpr double ground_albedo = 0.45;
constexpr double ground_emissivity = 0.999;

// Below this wind the correlations for forced convection no longer hold;
// the authors raise it to this floor [m/s].
constexpr double min_speed = 0.13;
// Below this cosine of the zenith angle (89.5 deg) the authors count no
// direct beam: its share goes to the diffuse part.
constexpr double min_cos_zenith = 0.00873;

// Air and water vapour (kinetic theory as in Bird, Stewart & Lightfoot).
constexpr double r_gas = 8314.34;  // [J kmol-1 K-1]
constexpr double m_air = 28.97;    // [kg kmol-1]
constexpr double m_h2o = 18.015;   // [kg kmol-1]
constexpr double r_air = r_gas / m_air;
constexpr double cp = 1003.5;  // [J kg-1 K-1]
constexpr double prandtl = cp / (cp + 1.25 * r_air);

// The domain: outside, NaN.
constexpr double min_air_temperature = -40.0;  // [degC]
constexpr double max_air_temperature = 60.0;
constexpr double min_pressure = 300.0;  // [hPa]
constexpr double max_pressure = 1100.0;
constexpr double max_speed = 50.0;              // [m/s]
constexpr double max_global = 2000.0;           // [W/m2]
constexpr double max_supersaturation = 1.05;    // vapour pressure over saturation

// Saturation vapour pressure over water [hPa] at t [K]: Buck (1981) with
// the enhancement factor of moist air, 1.004.
inline double saturation(double t) noexcept {
    return 1.004 * 6.1121 * std::exp(17.502 * (t - kelvin) / (t - 32.18));
}

// Its inverse: the temperature [K] at which saturation reaches e [hPa].
inline double saturation_temperature(double e) noexcept {
    const double z = std::log(e / (1.004 * 6.1121));
    return kelvin + 240.97 * z / (17.502 - z);
}

// Collision integral of air for viscosity, linear in T / (eps/k = 97 K).
inline double omega(double t) noexcept { return 1.048 - 0.034 * (t / 97.0 - 2.9) / 0.4; }
constexpr double domega = -0.034 / (0.4 * 97.0);

// Viscosity mu = c_mu sqrt(T) / omega [kg m-1 s-1] (collision diameter 3.617 A).
constexpr double sigma_air = 3.617;
const double c_mu = 2.6693e-6 * std::sqrt(m_air) / (sigma_air * sigma_air);
// Thermal conductivity k = (cp + 1.25 R) mu (Eucken).
constexpr double eucken = cp + 1.25 * r_air;

// Diffusivity of water vapour in air, D = c_d T^2.334 / P [m2/s], P [hPa]:
// the empirical form for a nonpolar-polar pair from the critical constants
// of air (132 K, 36.4 atm) and water (647.3 K, 218 atm).
const double c_d = 3.64e-4 * std::cbrt(36.4 * 218.0) * std::pow(132.0 * 647.3, 5.0 / 12.0) *
                          std::sqrt(1.0 / m_air + 1.0 / m_h2o) / std::pow(std::sqrt(132.0 * 647.3), 2.334) *
                          1013.25 * 1e-4;

// Latent heat of vaporisation [J/kg] at t [K], as the authors fit it.
inline double latent_heat(double t) noexcept { return (313.15 - t) / 30.0 * -71100.0 + 2.4073e6; }
constexpr double dlatent_heat = 71100.0 / 30.0;

// ---- the globe -----------------------------------------------------------

const double pr13 = std::pow(prandtl, 0.3333);
// h / (sigma eps) = globe_k Nu sqrt(Tf) / omega: conductivity over diameter.
const double globe_k = eucken * c_mu / (globe_diameter * stefan_boltzmann * globe_emissivity);

// Its balance, (source - h/(sigma eps) (Tg - Ta) - Tg^4) [K^4], and the
// derivative in Tg, through the film temperature too.
struct Globe {
    double ta, source, re_scale;  // Re = re_scale omega / Tf^1.5
    double operator()(double tg, double& slope) const noexcept {
        const double tf = 0.5 * (tg + ta);
        const double s = std::sqrt(tf);
        const double w = omega(tf);
        const double itf = 1.0 / tf, iw = 1.0 / w;
        // Sphere: Nu = 2 + 0.6 Re^1/2 Pr^1/3 (Pr^0.3333 as the authors write it).
        const double forced = 0.6 * pr13 * std::sqrt(re_scale * w * s) * itf;
        const double nu = 2.0 + forced;
        const double k = globe_k * s * iw * nu;
        const double dlog_w = domega * iw;
        const double dlog_k = 0.5 * itf - dlog_w + 0.5 * (dlog_w - 1.5 * itf) * forced / nu;
        const double t3 = tg * tg * tg;
        const double rise = tg - ta;
        slope = -k * (1.0 + 0.5 * dlog_k * rise) - 4.0 * t3;
        return source - k * rise - t3 * tg;
    }
};

// ---- the wick ------------------------------------------------------------

// Cylinder in cross flow (Bedingfield & Drew 1950): Nu = 0.281 Re^0.6
// Pr^0.44, h = k Nu / D with k = eucken c_mu sqrt(Tf) / omega and Re =
// v rho D / mu = (flow D) omega / Tf^1.5: h = wick_h (flow D)^0.6 (Tf omega)^-0.4.
const double wick_h = eucken * c_mu * 0.281 * std::pow(prandtl, 0.44) / wick_diameter;
// Evaporation by the analogy of heat and mass transfer, L/(c_p M_a/M_w)
// (Pr/Sc)^0.56, with Sc = mu / (rho D_v) = sc0 Tf^-0.834 / omega.
constexpr double ratio = cp * m_air / m_h2o;
const double sc0 = c_mu * r_air / (100.0 * c_d);
const double lift0 = std::pow(prandtl / sc0, 0.56) / ratio;

// Its balance, (Ta - evaporation + net radiation / h - Tw) [K], and the
// derivative in Tw, through the film temperature too.
struct Wick {
    double ta, p, e, sky, sun;  // sun: absorbed short-wave [W/m2 of wick]
    double inv_h0;              // 1/h = inv_h0 (Tf omega)^0.4
    double operator()(double tw, double& slope) const noexcept {
        const double tf = 0.5 * (tw + ta);
        const double w = omega(tf);
        const double ln_t = std::log(tf), ln_w = std::log(w);
        const double itf = 1.0 / tf, iw = 1.0 / w;
        const double ih = inv_h0 * std::exp(0.4 * (ln_t + ln_w));
        const double lv = latent_heat(tf);
        const double lift = lv * lift0 * std::exp(0.56 * (0.834 * ln_t + ln_w));
        // Buck's saturation at the wick, its exponent 17.502 (T - 273.15)/(T - 32.18).
        const double itc = 1.0 / (tw - 32.18);
        const double ew = 1.004 * 6.1121 * std::exp(17.502 - (17.502 * 240.97) * itc);
        const double idry = 1.0 / (p - ew);
        const double wet = (ew - e) * idry;
        const double t3 = tw * tw * tw;
        const double net = stefan_boltzmann * wick_emissivity * (sky - t3 * tw) + sun;
        // d/dTf of ln lift and of ln h; the film temperature moves half as fast as Tw.
        const double dlog_w = domega * iw;
        const double dlog_lift = dlatent_heat / lv + 0.56 * (0.834 * itf + dlog_w);
        const double dlog_h = -0.4 * (itf + dlog_w);
        const double dwet = ew * (17.502 * 240.97) * itc * itc * (p - e) * idry * idry;
        const double dnet = -4.0 * stefan_boltzmann * wick_emissivity * t3;
        slope = -lift * (0.5 * dlog_lift * wet + dwet) + (dnet - 0.5 * dlog_h * net) * ih - 1.0;
        return ta - lift * wet + net * ih - tw;
    }
};

// The root of f, decreasing on (a, b) and holding its root there, from x:
// Newton's steps while they stay inside the interval known to hold the root
// and shrink it fast enough, else bisection (rtsafe). Newton's steps
// converge quadratically, |f''/2f'| below 0.1 /K for both balances: after
// a step below 1e-3 K the answer is within 1e-7 K. Bisection alone
// would get there within 60 evaluations.
//
// One search as a state: the caller evaluates f at x into fx and slope,
// and asks for the next point until there is none; x is then the root.
// The element's whole arithmetic is in here and in f, so searches of
// several elements may be interleaved (which hides the latency of each
// step's chain of divisions and exponentials) and give the same bits as
// one alone.
struct Search {
    double x, a, b, step;  // step: the last one taken (at first b - a)
    double fx = 0.0, slope = 0.0;
    int left = 200;        // evaluations still allowed

    bool more() noexcept {
        constexpr double done = 1e-3;
        if (left == 0) return false;
        if (fx > 0.0) {
            a = x;
        } else if (fx < 0.0) {
            b = x;
        } else {
            if (fx != 0.0) x = fx;  // a NaN balance stays NaN
            return false;
        }
        double next = x - fx / slope;
        const double before = step;
        if (!(next > a && next < b) || std::fabs(2.0 * fx) > std::fabs(before * slope)) {
            step = 0.5 * (b - a);
            next = a + step;
            if (step <= 1e-9) {
                x = next;
                return false;
            }
        } else {
            step = next - x;
            if (std::fabs(step) <= done) {
                x = next;
                return false;
            }
        }
        x = next;
        --left;
        return true;
    }
};

template <class F>
double root(const F& f, double x, double a, double b) noexcept {
    Search s{x, a, b, b - a};
    s.fx = f(x, s.slope);
    while (s.more()) s.fx = f(s.x, s.slope);
    return s.x;
}

struct Result {
    double wbgt, globe, wet_bulb;  // [degC]
};

// The boiling point [K] at the last pressure asked for: the pressure
// seldom changes from one element to the next.
struct Boiling {
    double p = std::numeric_limits<double>::quiet_NaN(), t = 0.0;
    double at(double pressure) noexcept {
        if (!(pressure == p)) {
            p = pressure;
            t = saturation_temperature(pressure);
        }
        return t;
    }
};

// An element's two balances, ready to be solved, each searched from the
// air temperature: the globe's root in [globe_lo, globe_hi] (none to
// search when the globe without convection is at the air temperature),
// the wick's in [wick_lo, wick_hi].
struct Balances {
    double ta_c;
    Globe globe;
    double globe_lo, globe_hi;
    bool globe_at_air;
    Wick wick;
    double wick_lo, wick_hi;
};

// The balances of an element from the air temperature [degC], the vapour
// pressure [hPa], the pressure [hPa], the wind at 2 m [m/s], the global
// radiation on the horizontal [W/m2], its direct share [1] and the cosine
// of the sun's zenith angle [1]; false outside the domain (below).
inline bool balances(double ta_c, double e, double p, double v, double g, double f, double cz, Boiling& boiling,
                     Balances& out) noexcept {
    const double ta = ta_c + kelvin;
    if (!(ta_c >= min_air_temperature && ta_c <= max_air_temperature && p >= min_pressure && p <= max_pressure &&
          v >= 0.0 && v <= max_speed && g <= max_global && f >= 0.0 && f <= 1.0 && cz >= -1.0 && cz <= 1.0 &&
          e >= 0.0))
        return false;
    const double es = saturation(ta);
    if (!(e <= max_supersaturation * es)) return false;
    e = std::fmin(e, es);
    if (!(g > 0.0)) g = 0.0;
    if (!(cz >= min_cos_zenith)) f = 0.0;
    if (v < min_speed) v = min_speed;

    // Oke's clear-sky emissivity, 0.575 e^(1/7) (e [hPa]); the ground at the air temperature.
    const double eps_sky = e > 0.0 ? 0.575 * std::pow(e, 0.143) : 0.0;
    const double t2 = ta * ta;
    const double sky = 0.5 * (eps_sky + ground_emissivity) * t2 * t2;
    // rho T = 100 p / R: the flow's Reynolds number is v rho D / mu.
    const double flow = v * 100.0 * p / r_air / c_mu;

    // Globe: the beam on a sphere, G f / (4 cos z), against G/2 for the
    // diffuse and ground-reflected parts (over half the sphere each).
    const double direct = f > 0.0 ? f * (1.0 / (2.0 * cz) - 1.0) : 0.0;
    out.ta_c = ta_c;
    out.globe = Globe{ta,
                      sky + g / (2.0 * stefan_boltzmann * globe_emissivity) * (1.0 - globe_albedo) *
                                (direct + 1.0 + ground_albedo),
                      flow * globe_diameter};
    // Between the air temperature and the globe's temperature without convection.
    const double still = std::sqrt(std::sqrt(out.globe.source));
    out.globe_at_air = still == ta;
    out.globe_lo = std::fmin(ta, still);
    out.globe_hi = std::fmax(ta, still);

    // Wick: a vertical cylinder with its top; the beam on its side per
    // unit area is G f tan z / pi, on the top D/(4L) of G.
    const double top = 0.25 * wick_diameter / wick_length;
    const double tan_z = f > 0.0 ? std::sqrt((1.0 - cz) * (1.0 + cz)) / cz : 0.0;
    out.wick = Wick{ta, p, e, sky,
                    (1.0 - wick_albedo) * g * ((1.0 - f) * (1.0 + top) + f * (tan_z / pi + top) + ground_albedo),
                    1.0 / (wick_h * std::pow(flow * wick_diameter, 0.6))};
    // The root lies above Ta - 100 K (everything there warms the wick) and
    // below the boiling point at p, where evaporation grows without bound.
    out.wick_lo = ta - 100.0;
    out.wick_hi = boiling.at(p);
    return true;
}

inline Result result(double ta_c, double tg, double tw) noexcept {
    const double tg_c = tg - kelvin, tw_c = tw - kelvin;
    return {0.7 * tw_c + 0.2 * tg_c + 0.1 * ta_c, tg_c, tw_c};
}

// WBGT, globe and natural wet-bulb temperatures [degC] from the air
// temperature [degC], the vapour pressure [hPa], the pressure [hPa], the
// wind at 2 m [m/s], the global radiation on the horizontal [W/m2], its
// direct share [1] and the cosine of the sun's zenith angle [1].
//
// Domain (outside, or any input NaN: all three NaN): -40 <= Ta <= 60 degC;
// 0 <= e <= 1.05 e_s(Ta), above e_s counting as saturated; 300 <= p <=
// 1100 hPa; 0 <= v <= 50 m/s, below 0.13 m/s raised to it; G <= 2000 W/m2,
// below 0 counting as 0; 0 <= f <= 1; -1 <= cos z <= 1, with no direct
// beam (all of G diffuse) for cos z < 0.00873.
inline Result liljegren(double ta_c, double e, double p, double v, double g, double f, double cz) noexcept {
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    Balances q;
    Boiling boiling;
    if (!balances(ta_c, e, p, v, g, f, cz, boiling, q)) return {nan, nan, nan};
    const double ta = q.globe.ta;
    const double tg = q.globe_at_air ? ta : root(q.globe, ta, q.globe_lo, q.globe_hi);
    const double tw = root(q.wick, ta, q.wick_lo, q.wick_hi);
    return result(ta_c, tg, tw);
}

// The globe and wick temperatures [K] of the elements [0, n) of q that
// are in the domain (ok), as liljegren's, bit for bit: the searches of K
// elements of each kind at a time, a step of each in turn, so that the
// chains of one overlap with those of the others; a lane whose search
// ends takes the next element.
template <int K>
void solve(int n, const Balances* q, const bool* ok, double* tg, double* tw) noexcept {
    Search globe[K], wick[K];
    int on_globe[K], on_wick[K];
    bool globe_busy[K], wick_busy[K];
    int next_globe = 0, next_wick = 0;
    auto take_globe = [&](int k) noexcept {
        while (next_globe < n) {
            const int j = next_globe++;
            if (!ok[j]) continue;
            const Balances& b = q[j];
            const double ta = b.globe.ta;
            if (b.globe_at_air) {
                tg[j] = ta;
                continue;
            }
            globe[k] = Search{ta, b.globe_lo, b.globe_hi, b.globe_hi - b.globe_lo};
            globe[k].fx = b.globe(ta, globe[k].slope);
            on_globe[k] = j;
            return true;
        }
        return false;
    };
    auto take_wick = [&](int k) noexcept {
        while (next_wick < n) {
            const int j = next_wick++;
            if (!ok[j]) continue;
            const Balances& b = q[j];
            const double ta = b.wick.ta;
            wick[k] = Search{ta, b.wick_lo, b.wick_hi, b.wick_hi - b.wick_lo};
            wick[k].fx = b.wick(ta, wick[k].slope);
            on_wick[k] = j;
            return true;
        }
        return false;
    };
    for (int k = 0; k < K; ++k) {
        globe_busy[k] = take_globe(k);
        wick_busy[k] = take_wick(k);
    }
    for (bool any = true; any;) {
        any = false;
        for (int k = 0; k < K; ++k) {
            if (globe_busy[k]) {
                any = true;
                Search& s = globe[k];
                if (s.more()) {
                    s.fx = q[on_globe[k]].globe(s.x, s.slope);
                } else {
                    tg[on_globe[k]] = s.x;
                    globe_busy[k] = take_globe(k);
                }
            }
            if (wick_busy[k]) {
                any = true;
                Search& s = wick[k];
                if (s.more()) {
                    s.fx = q[on_wick[k]].wick(s.x, s.slope);
                } else {
                    tw[on_wick[k]] = s.x;
                    wick_busy[k] = take_wick(k);
                }
            }
        }
    }
}

}  // namespace
}  // namespace quarnel::indices::wbgt
