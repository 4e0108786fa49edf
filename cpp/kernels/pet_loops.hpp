// PET as ufuncs of quarnel._kernels (formulas/indices/pet.hpp): pet and
// pet_corrected of the standard person (air temperature, mean radiant
// temperature, wind, vapour pressure), and pet_person, pet_corrected_person
// with the person's age, sex, height, mass, activity and clothing as six
// further inputs, in a table of their own that the module registers.
#pragma once

#include "extension/module_setup.hpp"

#include <span>

namespace quarnel::kernels {

// Works out the standard person's body; in exec, with the GIL held, before
// the ufuncs exist.
void init_pet() noexcept;

std::span<extension::UfuncEntry> pet_ufuncs() noexcept;

}  // namespace quarnel::kernels
