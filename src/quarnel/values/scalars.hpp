// Conversion between Python objects and native values, in the manner of
// NumPy's scalar conversion: exact types first, and an answer for every
// object (a native number, or Opaque, which defers to the generic domain
// as soon as the formula examines it).
#pragma once

#include "quarnel/values/native.hpp"
#include "quarnel/values/numpy_api.hpp"

namespace quarnel::scalars {

[[gnu::noinline]] inline Num from_other_object(PyObject* o, std::int8_t a) noexcept {
    if (PyLong_CheckExact(o)) {
#if PY_VERSION_HEX >= 0x030C0000
        // One digit, the common case: no call.
        if (PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(o)))
            return {double(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(o))), Kind::Int, a};
#endif
        int overflow = 0;
        long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (!overflow && v < (1LL << 53) && v > -(1LL << 53)) return {double(v), Kind::Int, a};
        PyErr_Clear();
        return {0.0, Opaque, a};
    }
    if (Py_IS_TYPE(o, &PyDoubleArrType_Type)) return {PyArrayScalar_VAL(o, Double), Kind::F64, a};
    if (Py_IS_TYPE(o, &PyLongArrType_Type)) {
        npy_long v = PyArrayScalar_VAL(o, Long);
        if (v < (1LL << 53) && v > -(1LL << 53)) return {double(v), Kind::I64, a};
    }
    return {0.0, Opaque, a};
}

// Python floats, the common case, without a call.
[[gnu::always_inline]] inline Num from_object(PyObject* o, int index) noexcept {
    const auto a = std::int8_t(index);
    if (PyFloat_CheckExact(o)) return {PyFloat_AS_DOUBLE(o), Kind::Float, a};
    return from_other_object(o, a);
}

namespace detail {

// Result objects kept for reuse. A result that every caller has let go of
// (the reference here the last) takes the next result's value, instead of
// a new object being made and the old one freed, as CPython's own float
// arithmetic reuses an operand that nobody else holds. Values and types
// are those of a new object; only identities and reference counts tell.
// Neither float nor numpy.float64 takes weak references, so a count of one
// means no one else can see the object. Four kept per type: a result
// assigned to a variable in a loop is let go of only after the next call.
struct Spares {
    static constexpr unsigned size = 4;
    PyObject* slot[size] = {};
    unsigned next = 0;
};
inline Spares spare_floats, spare_doubles;

inline PyObject* new_double(double x) noexcept {
    PyObject* s = PyArrayScalar_New(Double);
    if (s) PyArrayScalar_ASSIGN(s, Double, x);
    return s;
}

template <PyObject* (*make)(double), void (*assign)(PyObject*, double)>
inline PyObject* reuse(Spares& spares, double x) noexcept {
#ifdef Py_GIL_DISABLED
    (void)spares;
    return make(x);  // counts of one are no proof without the GIL
#else
    for (PyObject* o : spares.slot)
        if (o && Py_REFCNT(o) == 1) {
            assign(o, x);
            return Py_NewRef(o);
        }
    PyObject* fresh = make(x);
    if (fresh) Py_XSETREF(spares.slot[spares.next++ % Spares::size], Py_NewRef(fresh));
    return fresh;
#endif
}

inline void assign_float(PyObject* o, double x) noexcept { reinterpret_cast<PyFloatObject*>(o)->ob_fval = x; }
inline void assign_double(PyObject* o, double x) noexcept { PyArrayScalar_ASSIGN(o, Double, x); }

}  // namespace detail

// The Python object for a native result; `args` are the call's arguments,
// returned themselves when the result is one of them.
inline PyObject* to_object(Num r, PyObject* const* args) noexcept {
    if (r.arg >= 0) return Py_NewRef(args[r.arg]);
    switch (r.k) {
        case Kind::Float: return detail::reuse<PyFloat_FromDouble, detail::assign_float>(detail::spare_floats, r.x);
        case Kind::Int: return PyLong_FromLongLong(static_cast<long long>(r.x));
        case Kind::F64: return detail::reuse<detail::new_double, detail::assign_double>(detail::spare_doubles, r.x);
        case Kind::I64: {
            PyObject* s = PyArrayScalar_New(Long);
            if (s) PyArrayScalar_ASSIGN(s, Long, static_cast<npy_long>(r.x));
            return s;
        }
        default: return nullptr;  // not a result kind; caller goes generic
    }
}

}  // namespace quarnel::scalars
