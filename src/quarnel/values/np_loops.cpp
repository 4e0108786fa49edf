#include "quarnel/values/np_loops.hpp"

#include "quarnel/values/numpy_api.hpp"

namespace quarnel::np_loops {
namespace {

Table loops;

// The ufunc's legacy loop whose operand types are all float64.
bool find(PyObject* numpy, const char* name, Loop& out) {
    py::Ref uf = py::Ref::steal(PyObject_GetAttrString(numpy, name));
    if (!uf || !PyObject_TypeCheck(uf.get(), &PyUFunc_Type)) return false;
    auto* u = reinterpret_cast<PyUFuncObject*>(uf.get());
    if (!u->functions || !u->types || u->nout != 1) return false;
    for (int i = 0; i < u->ntypes; ++i) {
        const char* t = u->types + i * u->nargs;
        bool all_double = true;
        for (int j = 0; j < u->nargs; ++j) all_double = all_double && t[j] == NPY_DOUBLE;
        if (all_double && u->functions[i]) {
            out.fn = reinterpret_cast<LoopFn>(u->functions[i]);
            out.data = u->data ? u->data[i] : nullptr;
            return true;
        }
    }
    return false;
}

}  // namespace

const Table& table() noexcept { return loops; }

void resolve(PyObject* numpy) noexcept {
    bool ok = true;
    for (int f = 0; f < np_unary_count; ++f) ok = find(numpy, np_fn_names[f], loops.unary[f]) && ok;
    ok = find(numpy, "power", loops.power_dd) && ok;
    ok = find(numpy, "maximum", loops.maximum_dd) && ok;
    loops.complete = ok;
    PyErr_Clear();
}

}  // namespace quarnel::np_loops
