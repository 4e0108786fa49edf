/* The floor of a call from Python: C functions of 1 to 9 positional
   arguments (METH_FASTCALL, as cheap as CPython calls a C function) that
   return their first argument. Built by benchmarks/bench.py. */
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#define FIRST(n)                                                                    \
    static PyObject* first##n(PyObject* self, PyObject* const* args, Py_ssize_t nargs) { \
        (void)self;                                                                 \
        if (nargs != n) {                                                           \
            PyErr_SetString(PyExc_TypeError, "first" #n "() takes " #n " arguments"); \
            return NULL;                                                            \
        }                                                                           \
        return Py_NewRef(args[0]);                                                  \
    }
FIRST(1) FIRST(2) FIRST(3) FIRST(4) FIRST(5) FIRST(6) FIRST(7) FIRST(8) FIRST(9)

#define ENTRY(n) {"first" #n, (PyCFunction)(void (*)(void))first##n, METH_FASTCALL, NULL},
static PyMethodDef methods[] = {
    ENTRY(1) ENTRY(2) ENTRY(3) ENTRY(4) ENTRY(5) ENTRY(6) ENTRY(7) ENTRY(8) ENTRY(9)
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef definition = {PyModuleDef_HEAD_INIT, "call_floor", NULL, -1, methods,
                                        NULL, NULL, NULL, NULL};

PyMODINIT_FUNC PyInit_call_floor(void) { return PyModule_Create(&definition); }
