// NumPy's C API, shared by all translation units of the module. The API
// table is imported once, in the module's exec step (numpy_api.cpp).
#pragma once

#include "common/handle.hpp"

#define PY_ARRAY_UNIQUE_SYMBOL quarnel_ARRAY_API
#define PY_UFUNC_UNIQUE_SYMBOL quarnel_UFUNC_API
#ifndef QUARNEL_IMPORTS_NUMPY_API
#define NO_IMPORT_ARRAY
#define NO_IMPORT_UFUNC
#endif
#include <numpy/arrayobject.h>
#include <numpy/arrayscalars.h>
#include <numpy/ufuncobject.h>

namespace quarnel::numpy_api {

// Imports NumPy's array and ufunc C API tables; false with an exception set on failure.
bool import() noexcept;

}  // namespace quarnel::numpy_api
