// The type of the module's public functions: a vectorcall object that
// binds its arguments by the module's own rules and carries the attributes
// of a Python function (__name__, __qualname__, __module__, __doc__,
// __dict__, __defaults__, __kwdefaults__, __code__), so that introspection
// reports its signature and pickle sends it by reference.
#include "Strahlwerk/function_type.hpp"

#include "common/module_state.hpp"
#include "common/traceback.hpp"

#include <cstddef>

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#define Py_T_PYSSIZET T_PYSSIZET
#define Py_T_OBJECT_EX T_OBJECT_EX
#define Py_READONLY READONLY
#endif

namespace quarnel {
namespace {

struct FunctionObject {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    const PublicFunction* fn;
    PyObject* params;  // tuple of the interned parameter names
    PyObject* name;
    PyObject* qualname;
    PyObject* module;
    PyObject* doc;
    PyObject* code;
    PyObject* dict;
};

FunctionObject* as_function(PyObject* self) { return reinterpret_cast<FunctionObject*>(self); }

PyObject* wrong_count(const FunctionInfo& info, Py_ssize_t given) {
    const Py_ssize_t n = Py_ssize_t(info.params.size());
    PyErr_Format(PyExc_TypeError, "%.200s() takes %.8s %zd positional argument%.1s (%zd given)",
                 info.name, "exactly", n, n == 1 ? "" : "s", given);
    return nullptr;
}

// Binds positional and keyword arguments to the parameters; false with the
// binding's TypeError set.
bool bind(FunctionObject* f, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
          PyObject** bound) {
    const FunctionInfo& info = f->fn->info;
    const Py_ssize_t n = PyTuple_GET_SIZE(f->params);
    PyObject* const* names = &PyTuple_GET_ITEM(f->params, 0);
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    // More arguments than parameters, however given, is a count error.
    if (nargs > n) return wrong_count(info, nargs), false;
    if (nargs + nkw > n) return wrong_count(info, nargs + nkw), false;
    for (Py_ssize_t i = 0; i < n; ++i) bound[i] = i < nargs ? args[i] : nullptr;

    for (Py_ssize_t j = 0; j < nkw; ++j) {
        PyObject* key = PyTuple_GET_ITEM(kwnames, j);
        PyObject* value = args[nargs + j];
        if (!PyUnicode_Check(key)) {
            PyErr_Format(PyExc_TypeError, "%.200s() keywords must be strings", info.name);
            return false;
        }
        Py_ssize_t hit = -1;
        for (Py_ssize_t i = nargs; i < n && hit < 0; ++i)
            if (names[i] == key) hit = i;
        for (Py_ssize_t i = nargs; i < n && hit < 0; ++i) {
            int eq = PyUnicode_Compare(names[i], key) == 0;
            if (eq) hit = i;
        }
        if (hit < 0) {
            for (Py_ssize_t i = 0; i < nargs && hit < 0; ++i)
                if (names[i] == key || PyUnicode_Compare(names[i], key) == 0) hit = i;
            if (hit < 0) {
                if (PyErr_Occurred()) return false;
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                             info.name, key);
                return false;
            }
        }
        if (bound[hit]) {
            PyErr_Format(PyExc_TypeError, "%s() got multiple values for keyword argument '%U'",
                         info.name, key);
            return false;
        }
        bound[hit] = value;
    }
    for (Py_ssize_t i = 0; i < n; ++i)
        if (!bound[i]) return wrong_count(info, i), false;
    return true;
}

constexpr Py_ssize_t max_params = 9;


int traverse(PyObject* self, visitproc visit, void* arg) {
    FunctionObject* f = as_function(self);
    Py_VISIT(Py_TYPE(self));
    Py_VISIT(f->dict);
    Py_VISIT(f->name);
    Py_VISIT(f->qualname);
    Py_VISIT(f->module);
    Py_VISIT(f->doc);
    return 0;
}

int clear(PyObject* self) {
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->dict);
    Py_CLEAR(f->name);
    Py_CLEAR(f->qualname);
    Py_CLEAR(f->module);
    Py_CLEAR(f->doc);
    return 0;
}

void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    clear(self);
    FunctionObject* f = as_function(self);
    Py_CLEAR(f->params);
    Py_CLEAR(f->code);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* repr(PyObject* self) {
    return PyUnicode_FromFormat("<function %s at %p>", as_function(self)->fn->info.qualname, self);
}

PyObject* get_none(PyObject*, void*) { Py_RETURN_NONE; }

PyObject* get_doc(PyObject* self, void*) {
    FunctionObject* f = as_function(self);
    return Py_NewRef(f->doc ? f->doc : Py_None);
}

int set_doc(PyObject* self, PyObject* value, void*) {
    Py_XSETREF(as_function(self)->doc, Py_XNewRef(value));
    return 0;
}

// Pickled by reference: the module and qualified name find it again.
PyObject* reduce(PyObject* self, PyObject*) { return PyObject_GetAttrString(self, "__qualname__"); }

// Read from a class attribute through an instance it binds like a Python
// function, giving a method; read through the class, the function itself.
PyObject* descr_get(PyObject* self, PyObject* obj, PyObject*) {
    if (obj == nullptr || obj == Py_None) return Py_NewRef(self);
    return PyMethod_New(self, obj);
}

// copy.copy and copy.deepcopy give the function itself.
PyObject* copy_self(PyObject* self, PyObject*) { return Py_NewRef(self); }

PyMemberDef members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(FunctionObject, vectorcall), Py_READONLY, nullptr},
    {"__dictoffset__", Py_T_PYSSIZET, offsetof(FunctionObject, dict), Py_READONLY, nullptr},
    {"__name__", Py_T_OBJECT_EX, offsetof(FunctionObject, name), 0, nullptr},
    {"__qualname__", Py_T_OBJECT_EX, offsetof(FunctionObject, qualname), 0, nullptr},
    {"__module__", Py_T_OBJECT_EX, offsetof(FunctionObject, module), 0, nullptr},
    {"__code__", Py_T_OBJECT_EX, offsetof(FunctionObject, code), Py_READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

PyGetSetDef getset[] = {
    {"__doc__", get_doc, set_doc, nullptr, nullptr},
    {"__dict__", PyObject_GenericGetDict, PyObject_GenericSetDict, nullptr, nullptr},
    {"__defaults__", get_none, nullptr, nullptr, nullptr},
    {"__kwdefaults__", get_none, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef methods[] = {
    {"__reduce__", reduce, METH_NOARGS, nullptr},
    {"__copy__", copy_self, METH_NOARGS, nullptr},
    {"__deepcopy__", copy_self, METH_O, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(clear)},
    {Py_tp_repr, reinterpret_cast<void*>(repr)},
    {Py_tp_call, reinterpret_cast<void*>(PyVectorcall_Call)},
    {Py_tp_descr_get, reinterpret_cast<void*>(descr_get)},
    {Py_tp_members, members},
    {Py_tp_getset, getset},
    {Py_tp_methods, methods},
    {0, nullptr},
};

PyType_Spec type_spec = {
    "quarnel.Strahlwerk.function",
    sizeof(FunctionObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_GC | Py_TPFLAGS_HAVE_VECTORCALL |
        Py_TPFLAGS_DISALLOW_INSTANTIATION | Py_TPFLAGS_IMMUTABLETYPE,
    slots,
};

}  // namespace

PyObject* create_function_type() noexcept { return PyType_FromSpec(&type_spec); }

// Apart from the common call (PublicFunction::entry), so that that one sets
// up no frame of its own.
PyObject* call_with_binding(PyObject* self, PyObject* const* args, size_t nargsf,
                            PyObject* kwnames) noexcept {
    FunctionObject* f = as_function(self);
    const FunctionInfo& info = f->fn->info;
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    if (!kwnames || PyTuple_GET_SIZE(kwnames) == 0) {
        if (nargs == Py_ssize_t(info.params.size())) return f->fn->body(args);
        wrong_count(info, nargs);
    } else {
        PyObject* bound[max_params];
        if (bind(f, args, nargs, kwnames, bound)) return f->fn->body(bound);
    }
    traceback::add(info.traceback_name, info.first_line);
    return nullptr;
}

PyObject* new_function(PyObject* type, const PublicFunction& fn, PyObject* code,
                       PyObject* params) noexcept {
    const FunctionInfo& info = fn.info;
    auto* f = PyObject_GC_New(FunctionObject, reinterpret_cast<PyTypeObject*>(type));
    if (!f) return nullptr;
    f->vectorcall = fn.entry;
    f->fn = &fn;
    f->params = Py_NewRef(params);
    f->code = Py_NewRef(code);
    f->name = PyUnicode_FromString(info.name);
    f->qualname = PyUnicode_FromString(info.qualname);
    f->module = PyUnicode_FromString("quarnel.Strahlwerk");
    f->doc = info.doc ? PyUnicode_FromString(info.doc) : nullptr;
    f->dict = nullptr;
    PyObject_GC_Track(f);
    if (!f->name || !f->qualname || !f->module || (info.doc && !f->doc)) {
        Py_DECREF(f);
        return nullptr;
    }
    return reinterpret_cast<PyObject*>(f);
}

}  // namespace quarnel
