/* The floor of a call from Python, built by benchmarks/bench.py.

   floor(n, result) makes a callable of n positional arguments of the kind
   the module's functions are: an instance of a type of its own that
   CPython calls through the vectorcall protocol. The interpreter specialises
   calls of builtin functions (METH_FASTCALL) into a direct call of the C
   function, while any other callable goes through PyObject_Vectorcall,
   which looks up the thread state and checks the result: a few ns that
   every function of such a type pays and no code of its own can save.
   result "first" returns the first argument (the floor); "float" and
   "float64" return a fresh Python float or numpy.float64, made the cheapest
   way CPython's and NumPy's C APIs allow (what a result of that type costs
   at least, creation and deallocation).

   cfirst1 ... cfirst9 are builtin functions (METH_FASTCALL) returning
   their first argument: the floor measured before, kept for comparison. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#include <stddef.h>
#include <string.h>

#define NPY_NO_DEPRECATED_API NPY_2_0_API_VERSION
#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>

#if PY_VERSION_HEX < 0x030C0000
#include <structmember.h>
#define Py_T_PYSSIZET T_PYSSIZET
#define Py_READONLY READONLY
#endif

#define CFIRST(n)                                                                    \
    static PyObject* cfirst##n(PyObject* self, PyObject* const* args, Py_ssize_t nargs) { \
        (void)self;                                                                  \
        if (nargs != n) {                                                            \
            PyErr_SetString(PyExc_TypeError, "cfirst" #n "() takes " #n " arguments"); \
            return NULL;                                                             \
        }                                                                            \
        return Py_NewRef(args[0]);                                                   \
    }
CFIRST(1) CFIRST(2) CFIRST(3) CFIRST(4) CFIRST(5) CFIRST(6) CFIRST(7) CFIRST(8) CFIRST(9)

typedef struct {
    PyObject_HEAD
    vectorcallfunc vectorcall;
    Py_ssize_t arity;
} Floor;

static int wrong_call(Floor* f, Py_ssize_t nargs, PyObject* kwnames) {
    if (!kwnames && nargs == f->arity) return 0;
    PyErr_Format(PyExc_TypeError, "takes %zd positional arguments", f->arity);
    return 1;
}

static PyObject* first(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    if (wrong_call((Floor*)self, PyVectorcall_NARGS(nargsf), kwnames)) return NULL;
    return Py_NewRef(args[0]);
}

static PyObject* fresh_float(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    if (wrong_call((Floor*)self, PyVectorcall_NARGS(nargsf), kwnames)) return NULL;
    return PyFloat_FromDouble(0.5);
}

static PyObject* fresh_float64(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames) {
    if (wrong_call((Floor*)self, PyVectorcall_NARGS(nargsf), kwnames)) return NULL;
    PyObject* s = PyArrayScalar_New(Double);
    if (s) PyArrayScalar_ASSIGN(s, Double, 0.5);
    return s;
}

static PyMemberDef floor_members[] = {
    {"__vectorcalloffset__", Py_T_PYSSIZET, offsetof(Floor, vectorcall), Py_READONLY, NULL},
    {NULL, 0, 0, 0, NULL},
};

static PyType_Slot floor_slots[] = {
    {Py_tp_call, (void*)PyVectorcall_Call},
    {Py_tp_members, floor_members},
    {0, NULL},
};

static PyType_Spec floor_spec = {
    "call_floor.Floor", sizeof(Floor), 0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL | Py_TPFLAGS_DISALLOW_INSTANTIATION,
    floor_slots,
};

static PyObject* floor_type;

static PyObject* make_floor(PyObject* self, PyObject* args) {
    Py_ssize_t n;
    const char* result;
    (void)self;
    if (!PyArg_ParseTuple(args, "ns", &n, &result)) return NULL;
    vectorcallfunc fn = strcmp(result, "first") == 0     ? first
                        : strcmp(result, "float") == 0   ? fresh_float
                        : strcmp(result, "float64") == 0 ? fresh_float64
                                                         : NULL;
    if (!fn || n < 1) return PyErr_Format(PyExc_ValueError, "no floor (%zd, %s)", n, result);
    Floor* f = PyObject_New(Floor, (PyTypeObject*)floor_type);
    if (!f) return NULL;
    f->vectorcall = fn;
    f->arity = n;
    return (PyObject*)f;
}

#define ENTRY(n) {"cfirst" #n, (PyCFunction)(void (*)(void))cfirst##n, METH_FASTCALL, NULL},
static PyMethodDef methods[] = {
    ENTRY(1) ENTRY(2) ENTRY(3) ENTRY(4) ENTRY(5) ENTRY(6) ENTRY(7) ENTRY(8) ENTRY(9)
    {"floor", make_floor, METH_VARARGS, NULL},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef definition = {PyModuleDef_HEAD_INIT, "call_floor", NULL, -1, methods,
                                        NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit_call_floor(void) {
    import_array();
    if (!floor_type && !(floor_type = PyType_FromSpec(&floor_spec))) return NULL;
    return PyModule_Create(&definition);
}
