// quarnel._ufunc: the formulas as NumPy ufuncs, one float64 loop each
// (loop.hpp). quarnel.ufunc re-exports them with their documentation.
#include "quarnel/budget/atmos_gegenstr.hpp"
#include "quarnel/budget/dir_str_m_bew.hpp"
#include "quarnel/budget/mittl_str_temp.hpp"
#include "quarnel/budget/oberfl_temp.hpp"
#include "quarnel/clearsky/linke_truebung.hpp"
#include "quarnel/clearsky/max_direkte_strahlung.hpp"
#include "quarnel/clearsky/max_globalstrahlung.hpp"
#include "quarnel/clearsky/rel_opt_luftmasse.hpp"
#include "quarnel/machine/isa.hpp"
#include "quarnel/solar/azimutwinkel.hpp"
#include "quarnel/solar/sonnenzeit.hpp"
#include "quarnel/solar/zenitwinkel.hpp"
#include "quarnel/ufunc/loop.hpp"
#include "quarnel/ufunc/parallel.hpp"
#include "quarnel/values/np_loops.hpp"
#include "quarnel/values/numpy_api.hpp"

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

template <class F>
struct Def {
    static constexpr int nin = InputMap<F>::nin;
    static inline PyUFuncGenericFunction loops[1] = {&Loop<F>::run};
    static inline void* data[1] = {nullptr};
    static inline char types[nin + 1] = {};
    const char* doc;

    PyObject* make() const noexcept {
        for (int i = 0; i <= nin; ++i) types[i] = NPY_DOUBLE;
        return PyUFunc_FromFuncAndData(loops, data, types, 1, nin, 1, PyUFunc_None, F::info.name, doc, 0);
    }
};

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

struct Entry {
    PyObject* (*make)(const char* doc) noexcept;
    const char* name;
    const char* doc;
};

template <class F>
PyObject* make(const char* doc) noexcept {
    return Def<F>{doc}.make();
}

const Entry entries[] = {
    {make<solar::Sonnenzeit>, "Sonnenzeit", sonnenzeit_doc},
    {make<solar::Zenitwinkel>, "Zenitwinkel", zenitwinkel_doc},
    {make<solar::Azimutwinkel>, "Azimutwinkel", azimutwinkel_doc},
    {make<clearsky::LinkeTruebung>, "LinkeTruebung", linke_truebung_doc},
    {make<clearsky::RelOptLuftmasse>, "RelOptLuftmasse", rel_opt_luftmasse_doc},
    {make<clearsky::MaxDirekteStrahlung>, "MaxDirekteStrahlung", max_direkte_strahlung_doc},
    {make<clearsky::MaxGlobalstrahlung>, "MaxGlobalstrahlung", max_globalstrahlung_doc},
    {make<budget::DirStrMBew>, "DirStrMBew", dir_str_m_bew_doc},
    {make<budget::AtmosGegenstr>, "AtmosGegenstr", atmos_gegenstr_doc},
    {make<budget::OberflTemp>, "OberflTemp", oberfl_temp_doc},
    {make<budget::MittlStrTemp>, "MittlStrTemp", mittl_str_temp_doc},
};

// Pickled by reference: quarnel.ufunc.<name> (NumPy pickles a ufunc by its
// name, found in the module its __module__ names).
bool place(PyObject* uf, const char* name) noexcept {
    PyObject* dict = PyObject_GenericGetDict(uf, nullptr);
    if (!dict) {
        PyErr_Clear();  // a NumPy without per-ufunc attributes
        return true;
    }
    py::Ref d = py::Ref::steal(dict);
    py::Ref mod = py::Ref::steal(PyUnicode_FromString("quarnel.ufunc"));
    py::Ref qual = py::Ref::steal(PyUnicode_FromString(name));
    return mod && qual && PyDict_SetItemString(dict, "__module__", mod.get()) == 0 &&
           PyDict_SetItemString(dict, "__qualname__", qual.get()) == 0;
}

int exec(PyObject* mod) {
    if (const char* setting = machine::ignored_setting()) {
        py::Ref value = py::Ref::steal(PyUnicode_DecodeLocale(setting, "surrogateescape"));
        if (!value || PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                                       "QUARNEL_ISA=%R names no instruction set (baseline, avx2, avx512) "
                                       "and is ignored: using %s",
                                       value.get(), machine::isa_name()) < 0)
            return -1;
    }
    if (!numpy_api::import()) return -1;
    py::Ref numpy = py::Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy) return -1;
    np_loops::resolve(numpy.get());
    if (!np_loops::table().complete) {
        PyErr_SetString(PyExc_ImportError, "quarnel._ufunc: NumPy's float64 loops were not found");
        return -1;
    }
    parallel::init();
    // The instruction set in force (QUARNEL_ISA), for tests and benchmarks.
    if (PyModule_AddStringConstant(mod, "isa", machine::isa_name()) < 0) return -1;
    for (const Entry& e : entries) {
        py::Ref uf = py::Ref::steal(e.make(e.doc));
        if (!uf || !place(uf.get(), e.name) || PyModule_AddObjectRef(mod, e.name, uf.get()) < 0) return -1;
    }
    return 0;
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
