#include "values/generic.hpp"

#include "common/module_state.hpp"

namespace quarnel {
namespace generic_detail {

PyObject* konst_objects[konst_count];
PyObject* np_names[int(NpFn::count)];
PyObject* name_pi;

py::Ref lookup_np() {
    const ModuleState& s = state();
    PyObject* np = PyDict_GetItemWithError(s.globals, s.name_np);  // borrowed
    if (!np && !PyErr_Occurred())
        np = PyDict_GetItemWithError(PyModule_GetDict(s.builtins), s.name_np);
    if (!np) {
        if (!PyErr_Occurred()) PyErr_Format(PyExc_NameError, "name '%U' is not defined", s.name_np);
        throw py::Error{};
    }
    return py::Ref::borrow(np);
}

}  // namespace generic_detail

// The literals and names the generic domain works with; false with an
// exception set on failure.
bool create_generic_objects() noexcept {
    using namespace generic_detail;
    int i = 0;
#define QUARNEL_MAKE_INT(name, lit) konst_objects[i++] = PyLong_FromLong(lit);
#define QUARNEL_MAKE_FLOAT(name, lit) konst_objects[i++] = PyFloat_FromDouble(lit);
    QUARNEL_INT_KONSTANTS(QUARNEL_MAKE_INT)
    QUARNEL_FLOAT_KONSTANTS(QUARNEL_MAKE_FLOAT)
#undef QUARNEL_MAKE_INT
#undef QUARNEL_MAKE_FLOAT
    konst_objects[i++] = Py_NewRef(Py_True);
    for (int f = 0; f < int(NpFn::count); ++f) np_names[f] = PyUnicode_InternFromString(np_fn_names[f]);
    name_pi = PyUnicode_InternFromString("pi");
    if (PyErr_Occurred()) return false;
    return true;
}

}  // namespace quarnel
