// What the module knows about each of its functions, public or inner:
// names, parameters, locals, first line and documentation. One static
// table entry per function; the function type, the code objects and the
// traceback entries are all made from it.
#pragma once

#include "common/handle.hpp"

#include <initializer_list>
#include <span>

namespace quarnel {

struct FunctionInfo {
    const char* name;            // __name__
    const char* qualname;        // __qualname__
    const char* traceback_name;  // name shown in traceback entries
    int first_line;
    std::span<const char* const> params;
    std::span<const char* const> locals;  // after the parameters
    const char* doc;                      // nullptr: __doc__ is None
};

// The calling convention of a public function's body: exactly `nargs`
// borrowed arguments, in parameter order. Returns a new reference or
// nullptr with an exception set.
using Body = PyObject* (*)(PyObject* const* args);
// Its vectorcall entry: exactly its positional arguments go to the body
// without a call in between, any other call to `call_with_binding`
// (function_type.hpp).
using Entry = PyObject* (*)(PyObject* self, PyObject* const* args, size_t nargsf, PyObject* kwnames);

struct PublicFunction {
    const FunctionInfo& info;
    Body body;
    Entry entry;
};

}  // namespace quarnel
