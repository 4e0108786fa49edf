// The heat-stress indices as ufuncs of quarnel._kernels: WBGT
// (formulas/indices/wbgt.hpp) and the indices weather services publish
// (formulas/indices/simple.hpp), in a table of their own that the module
// registers after its first.
#pragma once

#include "extension/module_setup.hpp"

#include <span>

namespace quarnel::kernels {

std::span<extension::UfuncEntry> index_ufuncs() noexcept;

}  // namespace quarnel::kernels
