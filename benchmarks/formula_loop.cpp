// The cost of a formula alone: the module's own native evaluation of a
// formula (dispatch_detail::eval_native: the same template formulas, NumPy
// loops and direct routines as a scalar call) in a C++ loop, without
// Python, without converting arguments or results and without the
// floating-point flag checks.
// Built by benchmarks/bench.py against the repository's headers and core
// sources, with the module's compiler flags.
//
//     measure(name, args, n, repeats)
//         -> (ns per evaluation chained, ns overlapped, result), each the best
//            of `repeats` loops of n evaluations
//     in_call(name, args)
//         -> a callable of the arity of the formula, of the kind of the floor
//            (benchmarks/call_floor.c), that evaluates the formula once on
//            `args` (converted when it was made) and returns its first
//            argument: timed like the floor, it gives what the formula
//            costs between the interpreter's work of a call, neither
//            overlapped with the next evaluation as in the loop nor waiting
//            for the previous one as when chained
//
// The arguments are converted once as the module converts them; each
// evaluation starts from a fresh domain (no sine or cosine remembered from
// the previous one), from arguments the compiler may not assume known, and
// once the previous evaluation has its result (see time_formula).
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
#include "values/dispatch.hpp"
#include "values/native.hpp"
#include "machine/np_loops.hpp"
#include "common/numpy_api.hpp"
#include "values/scalars.hpp"

#include <chrono>
#include <cmath>
#include <cstddef>
#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#define Py_T_PYSSIZET T_PYSSIZET
#define Py_READONLY READONLY
#endif

namespace {

using namespace quarnel;

struct Outcome {
    double best_ns = INFINITY;
    Num result;
    bool failed = false;
};

// A stand-in for a formula that costs nothing: its result is its first argument.
struct Nothing {
    static constexpr std::size_t arity = 1;
};

template <class F, std::size_t... I>
[[gnu::noinline]] bool evaluate(const Num* a, Num& r, std::index_sequence<I...> seq) noexcept {
    if constexpr (std::is_same_v<F, Nothing>) {
        r = a[0];
        return true;
    } else {
        return dispatch_detail::eval_native<F>(a, r, seq);
    }
}

// Evaluations in a loop. Chained, each starts once the one before has its
// result: in a call the result must be complete before the flags are read
// and it is returned, so what a formula costs there is its latency. The
// arguments are then read through an offset that is always zero but
// computed from the previous result. Not chained, independent evaluations
// overlap in the processor (the throughput, a lower bound).
template <class F, bool chained, std::size_t... I>
[[gnu::noinline]] Outcome time_formula(const Num* args, long n, int repeats, std::index_sequence<I...> seq) {
    Outcome out;
    for (int rep = 0; rep < repeats; ++rep) {
        std::uint64_t zero = 0;
        const auto t0 = std::chrono::steady_clock::now();
        for (long i = 0; i < n; ++i) {
            const Num* p = args + zero;
            Num a[sizeof...(I)] = {p[I]...};
            // Values and kinds unknown to the compiler, as in a call.
            asm volatile("" : "+m"(a) : :);
            Num r;
            const bool done = evaluate<F>(a, r, seq);
            if constexpr (chained) {
                zero = std::bit_cast<std::uint64_t>(r.x);
                asm volatile("and $0, %0" : "+r"(zero) : "r"(done));  // 0, once r is known
            } else {
                asm volatile("" : : "m"(r.x), "r"(done) : "memory");
            }
            if (i == 0) {
                out.result = r;
                out.failed = !done;
            }
        }
        const auto t1 = std::chrono::steady_clock::now();
        const double ns = std::chrono::duration<double, std::nano>(t1 - t0).count() / double(n);
        if (ns < out.best_ns) out.best_ns = ns;
    }
    return out;
}

// The formula's time less that of the same loop around a formula that
// costs nothing. That loop is short: timed as often as the formula's, one
// interruption of the process in it would make the difference negative.
template <class F, bool chained>
Outcome timer(const Num* args, long n, int repeats) {
    Outcome o = time_formula<F, chained>(args, n, repeats, std::make_index_sequence<F::info.params.size()>{});
    const Outcome empty = time_formula<Nothing, chained>(args, n, repeats + 8, std::make_index_sequence<1>{});
    o.best_ns -= empty.best_ns;
    return o;
}

using Timer = Outcome (*)(const Num*, long, int);
using Once = bool (*)(const Num*, Num&);

template <class F>
bool once(const Num* a, Num& r) {
    return evaluate<F>(a, r, std::make_index_sequence<F::info.params.size()>{});
}

struct Entry {
    const FunctionInfo& info;
    Timer chained, overlapped;
    Once in_call;
};

const Entry formulas[] = {
    {solar::Sonnenzeit::info, timer<solar::Sonnenzeit, true>, timer<solar::Sonnenzeit, false>, once<solar::Sonnenzeit>},
    {solar::Zenitwinkel::info, timer<solar::Zenitwinkel, true>, timer<solar::Zenitwinkel, false>, once<solar::Zenitwinkel>},
    {solar::Azimutwinkel::info, timer<solar::Azimutwinkel, true>, timer<solar::Azimutwinkel, false>, once<solar::Azimutwinkel>},
    {clearsky::LinkeTruebung::info, timer<clearsky::LinkeTruebung, true>, timer<clearsky::LinkeTruebung, false>, once<clearsky::LinkeTruebung>},
    {clearsky::RelOptLuftmasse::info, timer<clearsky::RelOptLuftmasse, true>, timer<clearsky::RelOptLuftmasse, false>, once<clearsky::RelOptLuftmasse>},
    {clearsky::MaxDirekteStrahlung::info, timer<clearsky::MaxDirekteStrahlung, true>, timer<clearsky::MaxDirekteStrahlung, false>, once<clearsky::MaxDirekteStrahlung>},
    {clearsky::MaxGlobalstrahlung::info, timer<clearsky::MaxGlobalstrahlung, true>, timer<clearsky::MaxGlobalstrahlung, false>, once<clearsky::MaxGlobalstrahlung>},
    {budget::DirStrMBew::info, timer<budget::DirStrMBew, true>, timer<budget::DirStrMBew, false>, once<budget::DirStrMBew>},
    {budget::AtmosGegenstr::info, timer<budget::AtmosGegenstr, true>, timer<budget::AtmosGegenstr, false>, once<budget::AtmosGegenstr>},
    {budget::OberflTemp::info, timer<budget::OberflTemp, true>, timer<budget::OberflTemp, false>, once<budget::OberflTemp>},
    {budget::MittlStrTemp::info, timer<budget::MittlStrTemp, true>, timer<budget::MittlStrTemp, false>, once<budget::MittlStrTemp>},
};

// The formula's arguments from a tuple, as the module converts them; false
// with an exception set.
bool convert(const Entry& e, PyObject* call_args, Num* a) {
    const Py_ssize_t count = PyTuple_GET_SIZE(call_args);
    if (count != Py_ssize_t(e.info.params.size())) {
        PyErr_Format(PyExc_TypeError, "%s takes %zd arguments", e.info.name, e.info.params.size());
        return false;
    }
    for (Py_ssize_t i = 0; i < count; ++i) {
        a[i] = scalars::from_object(PyTuple_GET_ITEM(call_args, i), int(i));
        if (a[i].k == Opaque) {
            PyErr_Format(PyExc_TypeError, "argument %zd is not a number", i);
            return false;
        }
    }
    return true;
}

const Entry* find(PyObject* name_object) {
    const char* name = PyUnicode_AsUTF8(name_object);
    if (!name) return nullptr;
    for (const Entry& e : formulas)
        if (std::strcmp(e.info.name, name) == 0) return &e;
    PyErr_Format(PyExc_KeyError, "no formula %s", name);
    return nullptr;
}

// The callable of in_call: called through the vectorcall protocol like the
// module's functions and the floor.
struct InCall {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    Once eval;
    Py_ssize_t arity;
    Num a[9];
};

PyObject* in_call_call(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    auto* f = reinterpret_cast<InCall*>(self);
    if (kwnames || Py_ssize_t(PyVectorcall_NARGS(nargsf)) != f->arity)
        return PyErr_Format(PyExc_TypeError, "takes %zd positional arguments", f->arity);
    // The converted arguments in place: their conversion is the module's
    // overhead, not the formula's.
    Num r;
    const bool done = f->eval(f->a, r);
    asm volatile("" : : "m"(r.x), "r"(done) : "memory");
    return Py_NewRef(args[0]);
}

PyMemberDef in_call_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(InCall, vectorcall), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyType_Slot in_call_slots[] = {
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_members, in_call_members},
    {0, nullptr},
};

PyType_Spec in_call_spec = {
    "formula_loop.InCall", sizeof(InCall), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_DISALLOW_INSTANTIATION, in_call_slots,
};

PyObject* in_call_type = nullptr;

PyObject* in_call(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs != 2 || !PyTuple_Check(args[1])) return PyErr_Format(PyExc_TypeError, "in_call(name, args)");
    const Entry* e = find(args[0]);
    if (!e) return nullptr;
    Num a[9];
    if (!convert(*e, args[1], a)) return nullptr;
    auto* f = PyObject_New(InCall, reinterpret_cast<PyTypeObject*>(in_call_type));
    if (!f) return nullptr;
    f->vectorcall = in_call_call;
    f->eval = e->in_call;
    f->arity = Py_ssize_t(e->info.params.size());
    std::memcpy(f->a, a, sizeof a);
    return reinterpret_cast<PyObject*>(f);
}

PyObject* measure(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    long n;
    int repeats;
    if (nargs != 4) return PyErr_Format(PyExc_TypeError, "measure takes 4 arguments");
    const Entry* e = find(args[0]);
    if (!e) return nullptr;
    PyObject* call_args = args[1];
    if (!PyTuple_Check(call_args)) return PyErr_Format(PyExc_TypeError, "args must be a tuple");
    if ((n = PyLong_AsLong(args[2])) <= 0 || (repeats = PyLong_AsLong(args[3])) <= 0) {
        if (!PyErr_Occurred()) PyErr_SetString(PyExc_ValueError, "n and repeats must be positive");
        return nullptr;
    }
    Num a[9];
    if (!convert(*e, call_args, a)) return nullptr;
    Outcome o, p;
    Py_BEGIN_ALLOW_THREADS
    o = e->chained(a, n, repeats);
    p = e->overlapped(a, n, repeats);
    Py_END_ALLOW_THREADS
    if (o.failed) return PyErr_Format(PyExc_ValueError, "%s: the native domain steps aside", e->info.name);
    PyObject* value = o.result.arg >= 0 ? Py_NewRef(PyTuple_GET_ITEM(call_args, o.result.arg))
                                        : PyFloat_FromDouble(o.result.x);
    return value ? Py_BuildValue("(ddN)", o.best_ns, p.best_ns, value) : nullptr;
}

PyMethodDef methods[] = {
    {"measure", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(measure)), METH_FASTCALL, nullptr},
    {"in_call", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(in_call)), METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef definition = {PyModuleDef_HEAD_INIT, "formula_loop", nullptr, -1, methods,
                          nullptr, nullptr, nullptr, nullptr};

}  // namespace

PyMODINIT_FUNC PyInit_formula_loop() {
    PyObject* numpy = PyImport_ImportModule("numpy");
    if (!numpy) return nullptr;
    if (!numpy_api::import()) {
        Py_DECREF(numpy);
        return nullptr;
    }
    np_loops::resolve(numpy);
    Py_DECREF(numpy);
    if (!np_loops::table().complete) {
        PyErr_SetString(PyExc_ImportError, "formula_loop: NumPy's loops not found");
        return nullptr;
    }
    if (!in_call_type && !(in_call_type = PyType_FromSpec(&in_call_spec))) return nullptr;
    return PyModule_Create(&definition);
}
