// Module set-up of quarnel.Strahlwerk: the create and exec steps of its
// multi-phase initialisation. One module object per process, made in the
// first interpreter that imports it.
#include "Strahlwerk/function_type.hpp"
#include "Strahlwerk/registry.hpp"
#include "common/module_state.hpp"
#include "common/numpy_api.hpp"
#include "common/traceback.hpp"
#include "extension/module_setup.hpp"
#include "machine/np_loops.hpp"
#include "values/arena_pool.hpp"
#include "values/np_watch.hpp"
#include "values/scalars.hpp"

#include <atomic>
#include <cstdint>

namespace quarnel {

bool create_generic_objects() noexcept;  // values/generic.cpp

namespace {

constexpr const char* module_name = "quarnel.Strahlwerk";

// The interpreter that created the module first; written once. Atomic because
// interpreters with a GIL of their own may run the create step concurrently.
std::atomic<std::int64_t> first_interpreter{-1};
PyObject* executed_module = nullptr;
PyObject* code_objects[registry::max_functions];

// Copies the module spec's <from> to module.<to>, skipping an attribute it lacks.
int copy_module_spec_attr(PyObject* module_spec, PyObject* mod, const char* from, const char* to,
                   bool none_allowed) {
    PyObject* value = PyObject_GetAttrString(module_spec, from);
    if (!value) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            PyErr_Clear();
            return 0;
        }
        return -1;
    }
    int r = 0;
    if (none_allowed || value != Py_None) r = PyDict_SetItemString(PyModule_GetDict(mod), to, value);
    Py_DECREF(value);
    return r;
}

PyObject* create(PyObject* module_spec, PyModuleDef*) {
    const std::int64_t id = PyInterpreterState_GetID(PyInterpreterState_Get());
    std::int64_t first = -1;
    if (!first_interpreter.compare_exchange_strong(first, id) && first != id) {
        PyErr_SetString(PyExc_ImportError,
                        "Interpreter change detected - this module can only be loaded into one "
                        "interpreter per process.");
        return nullptr;
    }
    if (state().module) return Py_NewRef(state().module);

    py::Ref name = py::Ref::steal(PyObject_GetAttrString(module_spec, "name"));
    if (!name) return nullptr;
    py::Ref mod = py::Ref::steal(PyModule_NewObject(name.get()));
    if (!mod) return nullptr;
    if (copy_module_spec_attr(module_spec, mod.get(), "loader", "__loader__", true) < 0 ||
        copy_module_spec_attr(module_spec, mod.get(), "origin", "__file__", true) < 0 ||
        copy_module_spec_attr(module_spec, mod.get(), "parent", "__package__", true) < 0 ||
        copy_module_spec_attr(module_spec, mod.get(), "submodule_search_locations", "__path__", false) < 0)
        return nullptr;
    state().module = Py_NewRef(mod.get());
    return mod.release();
}

// A code object describing `info`: its names, parameters and locals, so that
// introspection reports the function's signature.
PyObject* make_code(const FunctionInfo& info) {
    py::Ref code = py::Ref::steal(
        reinterpret_cast<PyObject*>(PyCode_NewEmpty(traceback::source_file, info.name, info.first_line)));
    if (!code) return nullptr;
    const Py_ssize_t np = Py_ssize_t(info.params.size()), nl = Py_ssize_t(info.locals.size());
    py::Ref varnames = py::Ref::steal(PyTuple_New(np + nl));
    if (!varnames) return nullptr;
    for (Py_ssize_t i = 0; i < np + nl; ++i) {
        const char* s = i < np ? info.params[i] : info.locals[i - np];
        PyObject* str = PyUnicode_InternFromString(s);
        if (!str) return nullptr;
        PyTuple_SET_ITEM(varnames.get(), i, str);
    }
    py::Ref replace = py::Ref::steal(PyObject_GetAttrString(code.get(), "replace"));
    py::Ref empty = py::Ref::steal(PyTuple_New(0));
    py::Ref kwargs = py::Ref::steal(Py_BuildValue(
        "{s:n,s:n,s:O,s:i,s:s}", "co_argcount", np, "co_nlocals", np + nl, "co_varnames",
        varnames.get(), "co_flags", CO_OPTIMIZED | CO_NEWLOCALS, "co_qualname", info.qualname));
    if (!replace || !empty || !kwargs) return nullptr;
    return PyObject_Call(replace.get(), empty.get(), kwargs.get());
}

PyObject* param_names(PyObject* code, Py_ssize_t n) {
    py::Ref varnames = py::Ref::steal(PyObject_GetAttrString(code, "co_varnames"));
    if (!varnames) return nullptr;
    return PyTuple_GetSlice(varnames.get(), 0, n);
}

// Line of the failing exec statement in its traceback entry.
int exec_line = 0;

bool warn_on_version_mismatch() {
    const int major = int((Py_Version >> 24) & 0xff), minor = int((Py_Version >> 16) & 0xff);
    if (major == PY_MAJOR_VERSION && minor == PY_MINOR_VERSION) return true;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "compile time Python version %d.%d of module '%.100s' %s runtime "
                            "version %d.%d",
                            PY_MAJOR_VERSION, PY_MINOR_VERSION, module_name, "does not match",
                            major, minor) == 0;
}

bool exec_steps(PyObject* mod) {
    ModuleState& s = state();
    PyObject* globals = PyModule_GetDict(mod);
    s.globals = globals;
    if (!s.builtins && !(s.builtins = PyImport_ImportModule("builtins"))) return false;
    if (PyDict_SetItemString(globals, "__builtins__", s.builtins) < 0) return false;

    if (!warn_on_version_mismatch()) return false;
    if (!extension::warn_on_ignored_isa()) return false;

    if (!s.name_np && !(s.name_np = PyUnicode_InternFromString("np"))) return false;
    if (!create_generic_objects()) return false;
    // Code objects of the public functions, then of the inner ones.
    for (int i = 0; i < registry::public_count + registry::inner_count; ++i) {
        const FunctionInfo& info = i < registry::public_count
                                       ? registry::public_functions[i].info
                                       : *registry::inner_functions[i - registry::public_count];
        if (!code_objects[i] && !(code_objects[i] = make_code(info))) return false;
    }

    PyObject* modules = PyImport_GetModuleDict();  // borrowed
    PyObject* present = PyDict_GetItemString(modules, module_name);
    if (!present && PyDict_SetItemString(modules, module_name, mod) < 0) return false;

    exec_line = 1;
    py::Ref numpy = py::Ref::steal(PyImport_ImportModule("numpy"));
    if (!numpy || PyDict_SetItem(globals, s.name_np, numpy.get()) < 0) return false;
    if (!numpy_api::import()) return false;
    scalars::prepare();
    Py_XSETREF(s.numpy, Py_NewRef(numpy.get()));
    np_loops::resolve(numpy.get());
    np_watch::start();
    arena_pool::guard_forks();

    if (!s.function_type && !(s.function_type = create_function_type())) return false;
    for (int i = 0; i < registry::public_count; ++i) {
        const PublicFunction& fn = registry::public_functions[i];
        exec_line = fn.info.first_line;
        py::Ref params =
            py::Ref::steal(param_names(code_objects[i], Py_ssize_t(fn.info.params.size())));
        if (!params) return false;
        py::Ref f = py::Ref::steal(new_function(s.function_type, fn, code_objects[i], params.get()));
        if (!f || PyDict_SetItemString(globals, fn.info.name, f.get()) < 0) return false;
    }

    py::Ref test = py::Ref::steal(PyDict_New());
    return test && PyDict_SetItemString(globals, "__test__", test.get()) == 0;
}

int exec(PyObject* mod) {
    if (executed_module) {
        if (executed_module == mod) return 0;
        PyErr_SetString(PyExc_RuntimeError,
                        "Module 'Strahlwerk' has already been imported. Re-initialisation is not "
                        "supported.");
        return -1;
    }
    executed_module = Py_NewRef(mod);
    exec_line = 0;
    if (exec_steps(mod)) return 0;
    if (PyErr_Occurred()) traceback::add("init quarnel.Strahlwerk", exec_line);
    Py_CLEAR(executed_module);
    if (!PyErr_Occurred()) PyErr_SetString(PyExc_ImportError, "init quarnel.Strahlwerk");
    return -1;
}

PyModuleDef_Slot slots[] = {
    {Py_mod_create, reinterpret_cast<void*>(create)},
    {Py_mod_exec, reinterpret_cast<void*>(exec)},
#if PY_VERSION_HEX >= 0x030C0000
    // The create step refuses every interpreter but the first, before any
    // state is touched. Declared so that an isolated interpreter reaches that
    // step and gets its ImportError, instead of being turned away beforehand
    // with CPython's own message.
    {Py_mod_multiple_interpreters, Py_MOD_PER_INTERPRETER_GIL_SUPPORTED},
#endif
    {0, nullptr},
};

PyMethodDef no_methods[] = {{nullptr, nullptr, 0, nullptr}};

PyModuleDef definition = {
    PyModuleDef_HEAD_INIT, "Strahlwerk", nullptr, 0, no_methods, slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quarnel

PyMODINIT_FUNC PyInit_Strahlwerk() { return PyModuleDef_Init(&quarnel::definition); }
