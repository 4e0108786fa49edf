// The PET ufuncs of quarnel._comfort (indices/pet.hpp), for the module to
// register from the table below: pet and pet_corrected of the standard
// person (air temperature, mean radiant temperature, wind, vapour
// pressure), and pet_person, pet_corrected_person with the person's age,
// sex, height, mass, activity and clothing as six further inputs.
#pragma once

#include "quarnel/values/numpy_api.hpp"

namespace quarnel::comfort::pet {

// One float64 loop, nin inputs, one output.
struct Ufunc {
    const char* name;
    int nin;
    PyUFuncGenericFunction* loops;
    char* types;
    const char* doc;
};

extern Ufunc ufuncs[];
extern const int ufunc_count;

// Works out the standard person's body; in the module's exec, with the GIL
// held, before any ufunc exists.
void init() noexcept;

}  // namespace quarnel::comfort::pet
