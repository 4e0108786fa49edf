// The loops behind quarnel.comfort.wbgt, .heat_index, .humidex,
// .apparent_temperature and .wind_chill: the formulas element by element,
// with the C library's exp, log and pow. One plain build at every
// instruction-set level, so every level gives the same bits. They run
// without the GIL, split large arrays over the cores with the module's
// pool and leave the floating-point flags as they found them: NaN is their
// answer outside each domain, not an error.
#include "kernels/index_loops.hpp"

#include "formulas/indices/simple.hpp"
#include "formulas/indices/wbgt.hpp"
#include "kernels/quiet_split.hpp"
#include "machine/block_io.hpp"

#include <limits>

namespace quarnel::kernels {
namespace {

using machine::block_io::input;
using machine::block_io::output;
using machine::block_io::target;

constexpr npy_intp block = 256;

// Blocks of contiguous inputs and outputs; fn(in, out, j) computes
// element j, reading its inputs before writing its outputs (an output may
// be an input).
template <int nin, int nout, class Fn>
void span(char* const* args, const npy_intp* steps, npy_intp begin, npy_intp end, const Fn& fn) noexcept {
    double bufs[nin + nout][block];
    for (npy_intp off = begin; off < end; off += block) {
        const npy_intp m = end - off < block ? end - off : block;
        const double* in[nin];
        double* out[nout];
        for (int i = 0; i < nin; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
        for (int o = 0; o < nout; ++o) out[o] = target(args[nin + o], steps[nin + o], off, bufs[nin + o]);
        for (npy_intp j = 0; j < m; ++j) fn(in, out, j);
        for (int o = 0; o < nout; ++o) output(args[nin + o], steps[nin + o], off, m, out[o]);
    }
}

// Pieces of `grain` elements (the first one timed) over the cores.
template <int nin, int nout, npy_intp grain, class Fn>
void run(char** args, const npy_intp* dimensions, const npy_intp* steps, const Fn& fn) noexcept {
    quiet_split(dimensions[0], grain, [&](npy_intp begin, npy_intp end) noexcept {
        span<nin, nout>(args, steps, begin, end, fn);
    });
}

// A WBGT element takes about half a microsecond: 64 of them are timed.
// Each block's balances are set up first (every input read before an
// output is written), then solved by interleaved searches.
void wbgt_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    namespace wbgt = ::quarnel::indices::wbgt;
    quiet_split(dimensions[0], 64, [&](npy_intp begin, npy_intp end) noexcept {
        double bufs[10][block];
        wbgt::Balances q[block];
        bool ok[block];
        double tg[block], tw[block];
        wbgt::Boiling boiling;
        for (npy_intp off = begin; off < end; off += block) {
            const npy_intp m = end - off < block ? end - off : block;
            const double* in[7];
            double* out[3];
            for (int i = 0; i < 7; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
            for (npy_intp j = 0; j < m; ++j)
                ok[j] = wbgt::balances(in[0][j], in[1][j], in[2][j], in[3][j], in[4][j], in[5][j], in[6][j], boiling,
                                       q[j]);
            wbgt::solve<2>(int(m), q, ok, tg, tw);
            for (int o = 0; o < 3; ++o) out[o] = target(args[7 + o], steps[7 + o], off, bufs[7 + o]);
            constexpr double nan = std::numeric_limits<double>::quiet_NaN();
            for (npy_intp j = 0; j < m; ++j) {
                const wbgt::Result r = ok[j] ? wbgt::result(q[j].ta_c, tg[j], tw[j]) : wbgt::Result{nan, nan, nan};
                out[0][j] = r.wbgt;
                out[1][j] = r.globe;
                out[2][j] = r.wet_bulb;
            }
            for (int o = 0; o < 3; ++o) output(args[7 + o], steps[7 + o], off, m, out[o]);
        }
    });
}

namespace simple = ::quarnel::indices::simple;
constexpr npy_intp cheap = 4 * block;

void heat_index_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    run<2, 1, cheap>(args, dimensions, steps, [](const double* const* in, double* const* out, npy_intp j) noexcept {
        out[0][j] = simple::heat_index(in[0][j], in[1][j]);
    });
}

void humidex_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    run<2, 1, cheap>(args, dimensions, steps, [](const double* const* in, double* const* out, npy_intp j) noexcept {
        out[0][j] = simple::humidex(in[0][j], in[1][j]);
    });
}

void apparent_temperature_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    run<3, 1, cheap>(args, dimensions, steps, [](const double* const* in, double* const* out, npy_intp j) noexcept {
        out[0][j] = simple::apparent_temperature(in[0][j], in[1][j], in[2][j]);
    });
}

void wind_chill_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    run<2, 1, cheap>(args, dimensions, steps, [](const double* const* in, double* const* out, npy_intp j) noexcept {
        out[0][j] = simple::wind_chill(in[0][j], in[1][j]);
    });
}

constexpr char D = NPY_DOUBLE;

// NumPy puts the call signature in front.
constexpr const char wbgt_doc[] =
    "Wet-bulb globe temperature outdoors, WBGT, with its globe and natural\n"
    "wet-bulb temperatures [degC], from air temperature [degC], water vapour\n"
    "pressure [hPa], air pressure [hPa], wind speed at 2 m [m/s], global\n"
    "radiation on the horizontal [W/m2], its direct share [1] and the cosine\n"
    "of the sun's zenith angle [1].\n\n"
    "Liljegren et al. (2008, J Occup Environ Hyg 5:645-655): the 50.8 mm\n"
    "black globe and the natural wet bulb each from its energy balance,\n"
    "solved to the root; WBGT = 0.7 Tnwb + 0.2 Tg + 0.1 Ta. Relative\n"
    "humidity from the vapour pressure with Buck's (1981) saturation, as the\n"
    "authors compute it.\n\n"
    "Domain: -40 <= Ta <= 60 degC; 0 <= vapour pressure <= 1.05 times\n"
    "saturation (above saturation counts as saturated); 300 <= pressure <=\n"
    "1100 hPa; 0 <= wind <= 50 m/s (below 0.13 m/s counts as 0.13);\n"
    "global radiation <= 2000 W/m2 (below 0 counts as 0); 0 <= direct share\n"
    "<= 1; -1 <= cos z <= 1 (below 0.00873, 89.5 deg, all of it diffuse).\n"
    "Outside it, and with a NaN input, all three are NaN, without a warning.";
constexpr const char heat_index_doc[] =
    "Heat index [degC] from air temperature [degC] and relative humidity [%].\n\n"
    "The US National Weather Service procedure, in degF: Steadman's simple\n"
    "form 0.5 (T + 61 + 1.2 (T - 68) + 0.094 RH); where its mean with T is\n"
    "80 degF or more, Rothfusz's regression (NWS SR 90-23, 1990) with its two\n"
    "adjustments (RH < 13 % at 80-112 degF; RH > 85 % at 80-87 degF).\n\n"
    "Domain: 0 <= RH <= 100 %. Outside it, and with a NaN input, NaN,\n"
    "without a warning.";
constexpr const char humidex_doc[] =
    "Humidex [degC] from air temperature and dew point [degC].\n\n"
    "Masterton & Richardson (1979), as Environment Canada computes it:\n"
    "T + 0.5555 (6.11 exp(5417.7530 (1/273.16 - 1/Td[K])) - 10).\n\n"
    "NaN with a NaN or infinite input, without a warning.";
constexpr const char apparent_doc[] =
    "Apparent temperature in shade [degC] from air temperature [degC], water\n"
    "vapour pressure [hPa] and wind speed at 10 m [m/s].\n\n"
    "Steadman (1994, Aust Met Mag 43:1-16), the form without radiation that\n"
    "weather services publish: Ta + 0.33 e - 0.70 v - 4.00.\n\n"
    "Domain: vapour pressure >= 0, wind >= 0. Outside it, and with a NaN\n"
    "input, NaN, without a warning.";
constexpr const char wind_chill_doc[] =
    "Wind chill index [degC] from air temperature [degC] and wind speed at\n"
    "10 m [m/s].\n\n"
    "JAG/TI (2001), with V the wind in km/h: 13.12 + 0.6215 T - 11.37 V^0.16\n"
    "+ 0.3965 T V^0.16.\n\n"
    "Domain: T <= 10 degC and V >= 4.8 km/h. Outside it, and with a NaN\n"
    "input, NaN, without a warning.";

extension::UfuncEntry entries[] = {
    {"wbgt", {wbgt_loop}, 7, 3, {D, D, D, D, D, D, D, D, D, D}, wbgt_doc, "quarnel.comfort"},
    {"heat_index", {heat_index_loop}, 2, 1, {D, D, D}, heat_index_doc, "quarnel.comfort"},
    {"humidex", {humidex_loop}, 2, 1, {D, D, D}, humidex_doc, "quarnel.comfort"},
    {"apparent_temperature", {apparent_temperature_loop}, 3, 1, {D, D, D, D}, apparent_doc, "quarnel.comfort"},
    {"wind_chill", {wind_chill_loop}, 2, 1, {D, D, D}, wind_chill_doc, "quarnel.comfort"},
};

}  // namespace

std::span<extension::UfuncEntry> index_ufuncs() noexcept { return entries; }

}  // namespace quarnel::kernels
