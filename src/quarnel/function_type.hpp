// The module's function type (see function_type.cpp).
#pragma once

#include "quarnel/function_info.hpp"

namespace quarnel {

// A new heap type for the module's functions; nullptr with an exception set.
PyObject* create_function_type() noexcept;

// A function object for `fn`, with its code object and the tuple of its
// interned parameter names; nullptr with an exception set.
PyObject* new_function(PyObject* type, const PublicFunction& fn, PyObject* code,
                       PyObject* params) noexcept;

}  // namespace quarnel
