// quarnel._comfort: the UTCI (Broede et al. 2012) and its assessment scale
// as NumPy ufuncs. quarnel.comfort re-exports them with the CF constants.
// Also the job layer's radiation (radiation/loops.hpp): the sun of an
// interval, called by quarnel.interval_sun.interval_cos_zenith, the DISC
// split of global radiation, called by quarnel.decomposition.split_global, and the
// standing person's mean radiant temperature, quarnel.comfort.standing_person.
// And PET, quarnel.comfort.pet and its kin (pet_loops.hpp).
//
// The UTCI loop hands contiguous blocks to the kernel of the instruction
// set in force (utci_kernel.hpp), chosen once at import, and splits large
// arrays over the cores with the pool the formulas' ufuncs use
// (ufunc/parallel.hpp; this module has its own).
#include "quarnel/comfort/block_io.hpp"
#include "quarnel/comfort/pet_loops.hpp"
#include "quarnel/comfort/utci_kernel.hpp"
#include "quarnel/radiation/loops.hpp"
#include "quarnel/machine/isa.hpp"
#include "quarnel/ufunc/parallel.hpp"
#include "quarnel/values/fp_flags.hpp"
#include "quarnel/values/numpy_api.hpp"

#include <cstdint>
#include <cstring>
#include <utility>

namespace quarnel::comfort {
namespace {

// Set in exec, with the GIL held, before any ufunc exists.
Kernel kernel = utci_baseline;

Kernel pick() noexcept {
#if QUARNEL_COMFORT_X86
    switch (machine::isa()) {
        case machine::Isa::avx512: return utci_avx512;
        case machine::Isa::avx2: return utci_avx2;
        default: break;
    }
#endif
    return utci_baseline;
}

constexpr int nin = 4;

void utci_span(char* const* args, const npy_intp* steps, npy_intp begin, npy_intp end) noexcept {
    double bufs[nin + 1][kernel_block];
    const Kernel k = kernel;
    for (npy_intp off = begin; off < end; off += kernel_block) {
        const npy_intp m = end - off < kernel_block ? end - off : kernel_block;
        const double* in[nin];
        for (int i = 0; i < nin; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
        double* o = target(args[nin], steps[nin], off, bufs[nin]);
        k(in[0], in[1], in[2], in[3], o, m);
        output(args[nin], steps[nin], off, m, o);
    }
}

// Whole blocks per piece of a split array; the first is timed.
constexpr npy_intp grain = 4 * kernel_block;

// Elements outside the domain may raise flags on the way to their NaN
// (utci_poly.hpp); inside, nothing but inexact. Either way the loop leaves
// the flags as it found them: NaN for an input outside is the answer, not
// an error.
void utci_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    const auto entry = FpFlags::before();
    unsigned unused = 0;
    ufunc::parallel::over(dimensions[0], grain, [&](npy_intp begin, npy_intp end, int) noexcept {
        utci_span(args, steps, begin, end);
        return 0u;
    }, unused);
    FpFlags::clear();
    FpFlags::keep(entry);
}

// The assessment scale: code k for bounds[k - 1] < UTCI <= bounds[k], each
// bound in the class below it (as pythermalcomfort bins the scale); -1 for NaN.
constexpr double bounds[] = {-40.0, -27.0, -13.0, 0.0, 9.0, 26.0, 32.0, 38.0, 46.0};

inline std::int8_t category(double u) noexcept {
    int k = 0;
    for (double b : bounds) k += __builtin_isgreater(u, b);
    return __builtin_isnan(u) ? std::int8_t(-1) : std::int8_t(k);
}

void category_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    const npy_intp n = dimensions[0];
    const char* in = args[0];
    char* out = args[1];
    if (steps[0] == npy_intp(sizeof(double)) && steps[1] == 1 &&
        reinterpret_cast<std::uintptr_t>(in) % alignof(double) == 0) {
        const double* x = reinterpret_cast<const double*>(in);
        auto* c = reinterpret_cast<std::int8_t*>(out);
        for (npy_intp j = 0; j < n; ++j) c[j] = category(x[j]);
        return;
    }
    for (npy_intp j = 0; j < n; ++j) {
        double u;
        std::memcpy(&u, in + j * steps[0], sizeof u);
        const std::int8_t c = category(u);
        std::memcpy(out + j * steps[1], &c, 1);
    }
}

PyUFuncGenericFunction utci_loops[] = {utci_loop};
PyUFuncGenericFunction category_loops[] = {category_loop};
void* no_data[] = {nullptr};
char utci_types[] = {NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};
char category_types[] = {NPY_DOUBLE, NPY_INT8};
PyUFuncGenericFunction split_loops[] = {radiation::split_global_loop};
PyUFuncGenericFunction sun_loops[] = {radiation::interval_cos_zenith_loop};
char four_to_two[] = {NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};
PyUFuncGenericFunction person_loops[] = {radiation::standing_person_loop};
char five_to_two[] = {NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE, NPY_DOUBLE};

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

// Pickled by reference: <where>.<name>.
bool place(PyObject* uf, const char* name, const char* where) noexcept {
    PyObject* dict = PyObject_GenericGetDict(uf, nullptr);
    if (!dict) {
        PyErr_Clear();  // a NumPy without per-ufunc attributes
        return true;
    }
    py::Ref d = py::Ref::steal(dict);
    py::Ref mod = py::Ref::steal(PyUnicode_FromString(where));
    py::Ref qual = py::Ref::steal(PyUnicode_FromString(name));
    return mod && qual && PyDict_SetItemString(dict, "__module__", mod.get()) == 0 &&
           PyDict_SetItemString(dict, "__qualname__", qual.get()) == 0;
}

bool add(PyObject* mod, py::Ref uf, const char* name, const char* where = "quarnel.comfort") noexcept {
    return uf && place(uf.get(), name, where) && PyModule_AddObjectRef(mod, name, uf.get()) == 0;
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
    kernel = pick();
    radiation::init();
    ufunc::parallel::init();
    // The instruction set in force (QUARNEL_ISA), for tests and benchmarks.
    if (PyModule_AddStringConstant(mod, "isa", machine::isa_name()) < 0) return -1;
    py::Ref utci = py::Ref::steal(
        PyUFunc_FromFuncAndData(utci_loops, no_data, utci_types, 1, nin, 1, PyUFunc_None, "utci", utci_doc, 0));
    if (!add(mod, std::move(utci), "utci")) return -1;
    py::Ref scale = py::Ref::steal(PyUFunc_FromFuncAndData(category_loops, no_data, category_types, 1, 1, 1,
                                                           PyUFunc_None, "utci_category", category_doc, 0));
    if (!add(mod, std::move(scale), "utci_category")) return -1;
    py::Ref split = py::Ref::steal(PyUFunc_FromFuncAndData(split_loops, no_data, five_to_two, 1, 5, 2, PyUFunc_None,
                                                           "split_global", split_doc, 0));
    if (!add(mod, std::move(split), "split_global", "quarnel._comfort")) return -1;
    py::Ref sun = py::Ref::steal(PyUFunc_FromFuncAndData(sun_loops, no_data, four_to_two, 1, 4, 2, PyUFunc_None,
                                                         "interval_cos_zenith", sun_doc, 0));
    if (!add(mod, std::move(sun), "interval_cos_zenith", "quarnel._comfort")) return -1;
    py::Ref person = py::Ref::steal(PyUFunc_FromFuncAndData(person_loops, no_data, five_to_two, 1, 5, 2,
                                                            PyUFunc_None, "standing_person", person_doc, 0));
    if (!add(mod, std::move(person), "standing_person")) return -1;
    // PET (pet_loops.hpp), from its table.
    pet::init();
    for (int k = 0; k < pet::ufunc_count; ++k) {
        const pet::Ufunc& u = pet::ufuncs[k];
        py::Ref f = py::Ref::steal(
            PyUFunc_FromFuncAndData(u.loops, no_data, u.types, 1, u.nin, 1, PyUFunc_None, u.name, u.doc, 0));
        if (!add(mod, std::move(f), u.name)) return -1;
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
    PyModuleDef_HEAD_INIT, "_comfort", "The UTCI, its assessment scale, PET, the sun of an interval, the split of global radiation and the standing person as NumPy ufuncs.", 0,
    nullptr, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quarnel::comfort

PyMODINIT_FUNC PyInit__comfort() { return PyModuleDef_Init(&quarnel::comfort::definition); }
