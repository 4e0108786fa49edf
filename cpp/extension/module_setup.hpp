// What the set-up of every extension module shares: the warning for a
// QUARNEL_ISA that names no level, NumPy's C API, the worker pool, the
// module's `isa` constant, and ufuncs made and registered from a table.
#pragma once

#include "common/numpy_api.hpp"

#include <span>

namespace quarnel::extension {

// One ufunc with one loop. Lives in static storage: NumPy keeps pointers to
// the loop, its data and the type numbers for the ufunc's lifetime.
struct UfuncEntry {
    const char* name;
    PyUFuncGenericFunction loop[1];
    int nin;
    int nout;
    char types[16];      // nin + nout NumPy type numbers
    const char* doc;     // NumPy puts the call signature in front
    const char* module;  // __module__: where pickle finds it by name
};

// A QUARNEL_ISA that names no level is ignored (no cap), with a
// RuntimeWarning; false if the warning was turned into an error.
bool warn_on_ignored_isa() noexcept;

// In exec, with the GIL held: the warning above, NumPy's C API, the pool,
// and the module constant `isa` (the level in force, for tests and
// benchmarks).
bool start(PyObject* mod) noexcept;

// Makes each entry's ufunc and adds it to the module under its name.
bool add_ufuncs(PyObject* mod, std::span<UfuncEntry> entries) noexcept;

}  // namespace quarnel::extension
