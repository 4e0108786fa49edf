// The module's function type (see function_type.cpp).
#pragma once

#include "common/function_info.hpp"

namespace quarnel {

// A new heap type for the module's functions; nullptr with an exception set.
PyObject* create_function_type() noexcept;

// A call of a function object with keywords or a wrong count: binds the
// arguments by the module's rules and calls the body, or raises the
// binding's TypeError.
PyObject* call_with_binding(PyObject* self, PyObject* const* args, size_t nargsf,
                            PyObject* kwnames) noexcept;

// A function object for `fn`, with its code object and the tuple of its
// interned parameter names; nullptr with an exception set.
PyObject* new_function(PyObject* type, const PublicFunction& fn, PyObject* code,
                       PyObject* params) noexcept;

}  // namespace quarnel
