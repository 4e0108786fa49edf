#include "extension/module_setup.hpp"

#include "common/handle.hpp"
#include "machine/isa.hpp"
#include "machine/parallel.hpp"

namespace quarnel::extension {
namespace {

// Pickled by reference: NumPy pickles a ufunc by its name, found in the
// module its __module__ names.
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

}  // namespace

bool warn_on_ignored_isa() noexcept {
    const char* setting = machine::ignored_setting();
    if (!setting) return true;
    py::Ref value = py::Ref::steal(PyUnicode_DecodeLocale(setting, "surrogateescape"));
    if (!value) return false;
    return PyErr_WarnFormat(PyExc_RuntimeWarning, 1,
                            "QUARNEL_ISA=%R names no instruction set (baseline, avx2, avx512) and is "
                            "ignored: using %s",
                            value.get(), machine::isa_name()) == 0;
}

bool start(PyObject* mod) noexcept {
    if (!warn_on_ignored_isa() || !numpy_api::import()) return false;
    machine::parallel::init();
    return PyModule_AddStringConstant(mod, "isa", machine::isa_name()) == 0;
}

bool add_ufuncs(PyObject* mod, std::span<UfuncEntry> entries) noexcept {
    static void* no_data[] = {nullptr};
    for (UfuncEntry& e : entries) {
        py::Ref uf = py::Ref::steal(PyUFunc_FromFuncAndData(e.loop, no_data, e.types, 1, e.nin, e.nout,
                                                            PyUFunc_None, e.name, e.doc, 0));
        if (!uf || !place(uf.get(), e.name, e.module) || PyModule_AddObjectRef(mod, e.name, uf.get()) < 0)
            return false;
    }
    return true;
}

}  // namespace quarnel::extension
