// quarnel._ufunc: the formulas as NumPy ufuncs, one float64 loop each
// (loop.hpp). quarnel.ufunc re-exports them with their documentation.
#include "common/numpy_api.hpp"
#include "extension/module_setup.hpp"
#include "formulas/budget/atmos_gegenstr.hpp"
#include "formulas/budget/dir_str_m_bew.hpp"
#include "formulas/budget/mittl_str_temp.hpp"
#include "formulas/budget/oberfl_temp.hpp"
#include "formulas/clearsky/linke_truebung.hpp"
#include "formulas/clearsky/max_direkte_strahlung.hpp"
#include "formulas/clearsky/max_globalstrahlung.hpp"
#include "formulas/clearsky/rel_opt_luftmasse.hpp"
#include "formulas/solar/azimutwinkel.hpp"
#include "formulas/solar/sonnenzeit.hpp"
#include "formulas/solar/zenitwinkel.hpp"
#include "machine/np_loops.hpp"
#include "ufunc/loop.hpp"

namespace quarnel::ufunc {

// MittlStrTemp's ufunc has no inputs for the two parameters it never reads
// (ReflStr, albedo_env).
template <>
struct InputMap<budget::MittlStrTemp> {
    static constexpr std::size_t params = 9;
    static constexpr int nin = 7;
    static constexpr int of(std::size_t param) noexcept {
        constexpr int map[] = {0, 1, 2, 3, 4, 5, -1, 6, -1};
        return map[param];
    }
};

template <>
struct ElementWise<solar::Zenitwinkel> {
    static constexpr bool value = true;
};
template <>
struct ElementWise<budget::DirStrMBew> {
    static constexpr bool value = true;
};
template <>
struct ElementWise<budget::AtmosGegenstr> {
    static constexpr bool value = true;
};
template <>
struct ElementWise<budget::MittlStrTemp> {
    static constexpr bool value = true;
};

namespace {

// Docstrings: NumPy puts the call signature (x1, x2, ..., out=None, ...)
// in front.
constexpr const char sonnenzeit_doc[] =
    "Solar time [h] from clock time szeit [h], zone offset zeitzone [h],\n"
    "longitude laenge [deg, east positive] and day of year dayofyear [d].\n\n"
    "Element-wise Sonnenzeit: each element is quarnel.Strahlwerk.Sonnenzeit of\n"
    "the elements as numpy.float64, branches taken per element.";
constexpr const char zenitwinkel_doc[] =
    "Solar zenith angle [deg] from solar time szeit [h], latitude breite [deg]\n"
    "and day of year dayofyear [d].\n\n"
    "Element-wise Zenitwinkel, bit for bit as quarnel.Strahlwerk.Zenitwinkel.";
constexpr const char azimutwinkel_doc[] =
    "Solar azimuth [deg, from north through east, in [0, 360)] from solar time\n"
    "szeit [h], latitude breite [deg] and day of year dayofyear [d].\n\n"
    "Element-wise Azimutwinkel, branches taken per element.";
constexpr const char linke_truebung_doc[] =
    "Linke turbidity [-] from day of year dayofyear [d], latitude breite [deg]\n"
    "and relative humidity RH [%].\n\n"
    "Element-wise LinkeTruebung, branches taken per element (seasonal below\n"
    "85 % humidity, from the humidity alone above).";
constexpr const char rel_opt_luftmasse_doc[] =
    "Relative optical air mass [-] from the solar zenith angle zenitwinkel [deg].\n\n"
    "Element-wise RelOptLuftmasse: 999.0 outside 0-91 deg; NaN, with the\n"
    "invalid-operation flag, for NaN and infinite angles (where the module's\n"
    "call raises).";
constexpr const char max_direkte_strahlung_doc[] =
    "Clear-sky direct radiation [W/m2] from day of year dayofyear [d], height\n"
    "mHoehe [m], zenith angle zenitwinkel [deg], Linke turbidity LinkeTr [-] and\n"
    "relative optical air mass RelOptLuftM [-].\n\n"
    "Element-wise MaxDirekteStrahlung: 0.0 with the sun at or below the horizon\n"
    "(zenitwinkel >= 90 or NaN).";
constexpr const char max_globalstrahlung_doc[] =
    "Clear-sky global radiation [W/m2] from day of year dayofyear [d], height\n"
    "mHoehe [m], zenith angle zenitwinkel [deg] and Linke turbidity LinkeTr [-].\n\n"
    "Element-wise MaxGlobalstrahlung: 0.0 with the sun at or below the horizon.";
constexpr const char dir_str_m_bew_doc[] =
    "Direct radiation under cloud [W/m2] from clear-sky direct radiation\n"
    "Imax [W/m2] and cloud cover N [octas].\n\n"
    "Element-wise DirStrMBew.";
constexpr const char atmos_gegenstr_doc[] =
    "Long-wave counter-radiation of the sky [W/m2] from air temperature\n"
    "LuftTemp [degC], vapour pressure Dampfdruck [hPa] and cloud cover N [octas].\n\n"
    "Element-wise AtmosGegenstr.";
constexpr const char oberfl_temp_doc[] =
    "Surface temperature [degC] from the radiation balance Strahlungsbilanz\n"
    "[W/m2], air temperature LuftTemp [degC], wind speed WindGeschw [m/s] and\n"
    "Bowen ratio Bowen [-].\n\n"
    "Element-wise OberflTemp, branches taken per element.";
constexpr const char mittl_str_temp_doc[] =
    "Mean radiant temperature [degC] from zenith angle zenitwinkel [deg], the\n"
    "fluxes EStrOben, EStrUnten, AGegenstr, DiffStr, MaxDirStr [W/m2] and the\n"
    "person's short-wave albedo albedo [-].\n\n"
    "Element-wise MittlStrTemp without its two unused parameters (ReflStr,\n"
    "albedo_env): seven inputs.";

template <class F>
constexpr extension::UfuncEntry entry(const char* doc) noexcept {
    extension::UfuncEntry e{F::info.name, {&Loop<F>::run}, InputMap<F>::nin, 1, {}, doc, "quarnel.ufunc"};
    for (int i = 0; i <= InputMap<F>::nin; ++i) e.types[i] = NPY_DOUBLE;
    return e;
}

extension::UfuncEntry entries[] = {
    entry<solar::Sonnenzeit>(sonnenzeit_doc),
    entry<solar::Zenitwinkel>(zenitwinkel_doc),
    entry<solar::Azimutwinkel>(azimutwinkel_doc),
    entry<clearsky::LinkeTruebung>(linke_truebung_doc),
    entry<clearsky::RelOptLuftmasse>(rel_opt_luftmasse_doc),
    entry<clearsky::MaxDirekteStrahlung>(max_direkte_strahlung_doc),
    entry<clearsky::MaxGlobalstrahlung>(max_globalstrahlung_doc),
    entry<budget::DirStrMBew>(dir_str_m_bew_doc),
    entry<budget::AtmosGegenstr>(atmos_gegenstr_doc),
    entry<budget::OberflTemp>(oberfl_temp_doc),
    entry<budget::MittlStrTemp>(mittl_str_temp_doc),
};

int exec(PyObject* mod) {
    if (!extension::start(mod)) return -1;
    py::Ref numpy = py::Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy) return -1;
    np_loops::resolve(numpy.get());
    if (!np_loops::table().complete) {
        PyErr_SetString(PyExc_ImportError, "quarnel._ufunc: NumPy's float64 loops were not found");
        return -1;
    }
    return extension::add_ufuncs(mod, entries) ? 0 : -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
#if PY_VERSION_HEX >= 0x030C0000
    {Py_mod_multiple_interpreters, Py_MOD_MULTIPLE_INTERPRETERS_NOT_SUPPORTED},
#endif
    {0, nullptr},
};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "_ufunc", "The formulas of quarnel.Strahlwerk as NumPy ufuncs.", 0,
    nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quarnel::ufunc

PyMODINIT_FUNC PyInit__ufunc() { return PyModuleDef_Init(&quarnel::ufunc::definition); }
