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

inline PyObject* new_double(double x) noexcept {
    PyObject* s = PyArrayScalar_New(Double);
    if (s) PyArrayScalar_ASSIGN(s, Double, x);
    return s;
}

}  // namespace detail

// The Python object for a native result; `args` are the call's arguments,
// returned themselves when the result is one of them.
inline PyObject* to_object(Num r, PyObject* const* args) noexcept {
    if (r.arg >= 0) return Py_NewRef(args[r.arg]);
    switch (r.k) {
        case Kind::Float: return PyFloat_FromDouble(r.x);
        case Kind::Int: return PyLong_FromLongLong(static_cast<long long>(r.x));
        case Kind::F64: return detail::new_double(r.x);
        case Kind::I64: {
            PyObject* s = PyArrayScalar_New(Long);
            if (s) PyArrayScalar_ASSIGN(s, Long, static_cast<npy_long>(r.x));
            return s;
        }
        default: return nullptr;  // not a result kind; caller goes generic
    }
}

}  // namespace quarnel::scalars
