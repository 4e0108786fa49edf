// The ufunc loops of quarnel._kernels for the job layer's radiation: the
// sun of an interval (sun.hpp), the split of global radiation by DISC
// (disc.hpp) and the standing person (person.hpp). All run without the
// GIL, split large arrays over the cores with the module's pool and leave the floating-point flags as they
// found them: NaN is their answer for inputs outside, not an error.
#pragma once

#include "common/numpy_api.hpp"

namespace quarnel::radiation {

// Picks the person's kernel for the instruction set in force; in the
// module's exec, with the GIL held, before any call.
void init() noexcept;

// (global_radiation, cos_zenith, sunlit_fraction, dayofyear, pressure) -> (direct_normal, diffuse)
void split_global_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept;
// (solar_time_end, latitude, dayofyear, hours) -> (mu, sunlit_fraction)
void interval_cos_zenith_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept;
// (sun_zenith, longwave, scattered, beam, absorption) -> (tmrt_sun, tmrt_shade)
void standing_person_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept;

}  // namespace quarnel::radiation
