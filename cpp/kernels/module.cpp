// quarnel._kernels: the job layer's compiled kernels as NumPy ufuncs, one
// float64 loop each, registered from the table below. The UTCI (Broede et
// al. 2012) and its assessment scale (quarnel.comfort re-exports them with
// the CF constants); the sun of an interval, called by
// quarnel.interval_sun.interval_cos_zenith; the DISC split of global
// radiation, called by quarnel.decomposition.split_global; the standing
// person's mean radiant temperature, quarnel.comfort.standing_person. The
// heat-stress indices (WBGT, heat index, humidex, apparent temperature,
// wind chill) come from a table of their own (index_loops.hpp), and so
// does PET (pet_loops.hpp).
#include "extension/module_setup.hpp"
#include "kernels/index_loops.hpp"
#include "kernels/pet_loops.hpp"
#include "kernels/radiation_loops.hpp"
#include "kernels/utci_loops.hpp"

namespace quarnel::kernels {
namespace {

constexpr char D = NPY_DOUBLE;

// NumPy puts the call signature in front.
constexpr const char utci_doc[] =
    "Universal Thermal Climate Index, UTCI [degC], from air temperature [degC],\n"
    "mean radiant temperature [degC], wind speed at 10 m [m/s] and water vapour\n"
    "pressure [hPa].\n\n"
    "The operational 6th-order polynomial of Broede et al. (2012, Int J\n"
    "Biometeorol 56:481-494): 210 terms in Ta, D = Tmrt - Ta, va and pa [kPa],\n"
    "the coefficients of the authors' Fortran code, evaluated in float64.\n\n"
    "Validity domain, bounds included: -50 <= Ta <= 50 degC, -30 <= Tmrt - Ta\n"
    "<= 70 K, 0.5 <= va <= 17 m/s, 0 <= vapour pressure <= 50 hPa. Elements\n"
    "outside it, and elements with a NaN input, are NaN, without a warning.\n"
    "Inputs are not clipped.";
constexpr const char category_doc[] =
    "UTCI assessment scale as int8 codes from the UTCI [degC]; -1 for NaN.\n\n"
    "0 extreme cold stress (UTCI <= -40), 1 very strong cold stress (-40, -27],\n"
    "2 strong cold stress (-27, -13], 3 moderate cold stress (-13, 0], 4 slight\n"
    "cold stress (0, 9], 5 no thermal stress (9, 26], 6 moderate heat stress\n"
    "(26, 32], 7 strong heat stress (32, 38], 8 very strong heat stress\n"
    "(38, 46], 9 extreme heat stress (> 46): each bound belongs to the class\n"
    "below it, as in pythermalcomfort.";
constexpr const char split_doc[] =
    "Direct normal and diffuse radiation [W/m2] from the global radiation G\n"
    "[W/m2] averaged over an interval, the mean cos z over its sunlit part mu\n"
    "[1], that part f [1], the day of the year [d] and the air pressure [Pa]:\n"
    "DISC (Maxwell 1987) as pvlib implements it, applied to G/f while the sun\n"
    "is up. See quarnel.decomposition.split_global, which calls it.\n\n"
    "Exactly: DNI >= 0, DNI*mu <= G, DHI = G - DNI*mu >= 0 (negative G counts\n"
    "as 0). No sun (f <= 0 or mu <= 0): DNI = 0, DHI = G. NaN in any input\n"
    "gives NaN for both, without a warning.";
constexpr const char sun_doc[] =
    "The sun of the interval of apparent solar time [end - hours, end] [h] at a\n"
    "latitude [deg] on a day of the year [d]: mu, the mean cos z over its sunlit\n"
    "part [1], and that part's length over the interval's [1] (Hogan & Hirahara\n"
    "2016). See quarnel.interval_sun.interval_cos_zenith, which calls it.\n\n"
    "No sun: 0, 0. hours = 0: cos z of the moment and 1 where the sun is up,\n"
    "else 0, 0. NaN where an input is NaN or infinite, hours < 0 or |latitude|\n"
    "> 90, without a warning.";
constexpr const char person_doc[] =
    "Mean radiant temperature [degC] of a standing person in the sun and in\n"
    "shade from the sun's zenith angle [deg], the long-wave radiation the\n"
    "person receives [W/m2], the scattered short-wave radiation [W/m2], the\n"
    "direct normal beam [W/m2] and the short-wave absorption relative to the\n"
    "long-wave emissivity [1], (1 - person albedo) / 0.97.\n\n"
    "f_p = 0.308 cos(g (0.998 - g^2/50000)), g = 90 - zenith (Jendritzky et\n"
    "al. 1990, VDI 3787-2); in the sun ((longwave + absorption (scattered +\n"
    "f_p beam)) / 5.67e-8)^(1/4) - 273.15, in shade the same with no beam.\n"
    "NaN in any input, and a negative sum, give NaN, without a warning.";

extension::UfuncEntry entries[] = {
    {"utci", {utci_loop}, 4, 1, {D, D, D, D, D}, utci_doc, "quarnel.comfort"},
    {"utci_category", {utci_category_loop}, 1, 1, {D, NPY_INT8}, category_doc, "quarnel.comfort"},
    {"split_global", {radiation::split_global_loop}, 5, 2, {D, D, D, D, D, D, D}, split_doc, "quarnel._kernels"},
    {"interval_cos_zenith", {radiation::interval_cos_zenith_loop}, 4, 2, {D, D, D, D, D, D}, sun_doc,
     "quarnel._kernels"},
    {"standing_person", {radiation::standing_person_loop}, 5, 2, {D, D, D, D, D, D, D}, person_doc,
     "quarnel.comfort"},
};

int exec(PyObject* mod) {
    if (!extension::start(mod)) return -1;
    init_utci();
    radiation::init();
    init_pet();
    return extension::add_ufuncs(mod, entries) && extension::add_ufuncs(mod, index_ufuncs()) &&
                   extension::add_ufuncs(mod, pet_ufuncs())
               ? 0
               : -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "_kernels",
    "The job layer's compiled kernels as NumPy ufuncs: the UTCI and its assessment scale, the sun of an "
    "interval, the split of global radiation, the standing person and the heat-stress indices (WBGT, PET and "
    "the simple ones).",
    0, nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quarnel::kernels

PyMODINIT_FUNC PyInit__kernels() { return PyModuleDef_Init(&quarnel::kernels::definition); }
