// Conversion between Python objects and native values, in the manner of
// NumPy's scalar conversion: exact types first, and an answer for every
// object (a native number, or Opaque, which defers to the generic domain
// as soon as the formula examines it).
#pragma once

#include "common/numpy_api.hpp"
#include "values/native.hpp"

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

// Python floats, the common case, and small Python ints (a day of the
// year, a time-zone offset) without a call.
[[gnu::always_inline]] inline Num from_object(PyObject* o, int index) noexcept {
    const auto a = std::int8_t(index);
    if (PyFloat_CheckExact(o)) [[likely]]
        return {PyFloat_AS_DOUBLE(o), Kind::Float, a};
#if PY_VERSION_HEX >= 0x030C0000
    if (PyLong_CheckExact(o) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(o)))
        return {double(PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(o))), Kind::Int, a};
#endif
    return from_other_object(o, a);
}

namespace detail {

// Set by `prepare` where numpy.float64 objects may be made directly.
inline bool direct_double = false;

[[gnu::noinline]] inline PyObject* new_double_by_type(double x) noexcept {
    PyObject* s = PyArrayScalar_New(Double);
    if (s) PyArrayScalar_ASSIGN(s, Double, x);
    return s;
}

// A numpy.float64 made as NumPy's scalar allocator makes it (PyObject_Malloc
// of the type's size, PyObject_Init) but without its indirect call and the
// zeroing of memory that is written at once: a few ns of every call that
// returns one.
[[gnu::always_inline]] inline PyObject* new_double(double x) noexcept {
    if (!direct_double) [[unlikely]]
        return new_double_by_type(x);
    auto* s = static_cast<PyDoubleScalarObject*>(PyObject_Malloc(sizeof(PyDoubleScalarObject)));
    if (!s) return PyErr_NoMemory();
    s->obval = x;
    return PyObject_Init(reinterpret_cast<PyObject*>(s), &PyDoubleArrType_Type);
}

[[gnu::noinline]] inline PyObject* other_object(Num r) noexcept {
    switch (r.k) {
        case Kind::Int: return PyLong_FromLongLong(static_cast<long long>(r.x));
        case Kind::I64: {
            PyObject* s = PyArrayScalar_New(Long);
            if (s) PyArrayScalar_ASSIGN(s, Long, static_cast<npy_long>(r.x));
            return s;
        }
        default: return nullptr;  // not a result kind; caller goes generic
    }
}

}  // namespace detail

// Decides, once NumPy's C API is imported, how numpy.float64 results are
// made: directly where the type is laid out as its C API declares and
// allocated by NumPy's allocator for all its scalar types (the generic
// scalar's), which takes its memory from PyObject_Malloc and hands it back
// to PyObject_Free; through the type's own allocator otherwise.
inline void prepare() noexcept {
    const PyTypeObject& t = PyDoubleArrType_Type;
    detail::direct_double = t.tp_basicsize == Py_ssize_t(sizeof(PyDoubleScalarObject)) && t.tp_itemsize == 0 &&
                            !(t.tp_flags & Py_TPFLAGS_HAVE_GC) && t.tp_alloc &&
                            t.tp_alloc == PyGenericArrType_Type.tp_alloc && t.tp_alloc != PyType_GenericAlloc &&
                            t.tp_free == PyGenericArrType_Type.tp_free;
}

// The Python object for a native result; `args` are the call's arguments,
// returned themselves when the result is one of them.
[[gnu::always_inline]] inline PyObject* to_object(Num r, PyObject* const* args) noexcept {
    if (r.arg >= 0) return Py_NewRef(args[r.arg]);
    if (r.k == Kind::F64) return detail::new_double(r.x);
    if (r.k == Kind::Float) return PyFloat_FromDouble(r.x);
    return detail::other_object(r);
}

}  // namespace quarnel::scalars
