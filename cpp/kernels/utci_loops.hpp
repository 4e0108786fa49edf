// The ufunc loops of the UTCI and its assessment scale.
#pragma once

#include "common/numpy_api.hpp"

namespace quarnel::kernels {

// Picks the UTCI kernel for the instruction set in force; in the module's
// exec, with the GIL held, before any call.
void init_utci() noexcept;

// (air_temperature, mean_radiant_temperature, wind_speed, vapour_pressure) -> utci
void utci_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept;
// (utci) -> int8 code
void utci_category_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept;

}  // namespace quarnel::kernels
