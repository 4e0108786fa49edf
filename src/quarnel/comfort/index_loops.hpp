// The heat-stress indices as ufunc loops of quarnel._comfort: WBGT
// (indices/wbgt.hpp) and the indices weather services publish
// (indices/simple.hpp). The module makes one ufunc of each entry.
#pragma once

#include "quarnel/values/numpy_api.hpp"

namespace quarnel::comfort::indices {

struct UfuncEntry {
    const char* name;
    const char* doc;
    PyUFuncGenericFunction* loops;  // one float64 loop
    const char* types;
    int nin, nout;
};

extern const UfuncEntry ufuncs[5];

}  // namespace quarnel::comfort::indices
