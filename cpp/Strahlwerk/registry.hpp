// The module's functions in the order the exec step binds them, and every
// inner function, each with the description its code object is made from.
#pragma once

#include "common/function_info.hpp"

namespace quarnel::registry {

extern const PublicFunction public_functions[];
extern const int public_count;

extern const FunctionInfo* const inner_functions[];
extern const int inner_count;

inline constexpr int max_functions = 18;

}  // namespace quarnel::registry
