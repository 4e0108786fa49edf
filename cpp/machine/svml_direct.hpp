// NumPy's float64 loops for arcsin, arctan, exp and power run, on machines
// with AVX-512, vector routines that NumPy's module exports; elsewhere (and
// with NumPy's AVX-512 code disabled) they call the C library's asin, atan,
// exp and pow. For a single value the loop's own work (dispatch, masks,
// saving the flags around it) costs about as much as the function: calling
// what the loop calls directly gives the same bits for less.
//
// Only where checked: NumPy's routines (when machine::isa() allows
// AVX-512), else the C library's functions, each used once it has returned,
// at import, exactly what NumPy's loop returns over a spread of values; and
// a result is taken only when it is finite and clear of the subnormal
// range, where NumPy's loop raises no flag. Anything else (NaN, infinities,
// zero, subnormals, out-of-domain arguments) is computed again by NumPy's
// loop, which decides the value and the flags as NumPy does. So do the
// exponents 2, 0.5 and -1, for which NumPy's power loop computes the
// square, the square root and the reciprocal instead.
#pragma once

#include "machine/np_loops.hpp"

namespace quarnel::svml_direct {

// Finds and checks the functions behind `loops`; GIL held, once per process.
void resolve(const np_loops::Table& loops) noexcept;

// Whether f (arcsin, arctan, exp) or power is taken directly.
bool has(NpFn f) noexcept;
bool has_power() noexcept;

// Whether NumPy's loop for f is shown to be the C library's function
// (arcsin: asin, arctan: atan, exp: exp, power: pow), value for value.
bool is_c_library(NpFn f) noexcept;

// f(x) and x**y as NumPy's loops give them; only where has().
double unary(NpFn f, double x) noexcept;
double power(double x, double y) noexcept;

}  // namespace quarnel::svml_direct
