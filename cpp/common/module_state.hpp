// Process-wide state of the module: one module object per process, its
// namespace, the builtins and the numpy module bound at import. Nothing here
// is freed before the process ends.
#pragma once

#include "common/handle.hpp"

namespace quarnel {

struct ModuleState {
    PyObject* module = nullptr;      // the one module object (owned)
    PyObject* globals = nullptr;     // its namespace dict (borrowed from module)
    PyObject* builtins = nullptr;    // the builtins module (owned)
    PyObject* numpy = nullptr;       // numpy as bound to `np` at import (owned)
    PyObject* name_np = nullptr;     // interned "np" (owned)
    PyObject* function_type = nullptr;  // type of the module's functions (owned)
};

inline ModuleState& state() noexcept {
    static ModuleState s;
    return s;
}

}  // namespace quarnel
