// Sine and cosine of many angles at once, exactly what the C library's sin
// and cos return, several times faster on machines with AVX-512.
//
// Each angle is reduced by pi/2 and both series are summed in double-double
// arithmetic, about 2^-64 relative to the result. That is rounded to the
// nearest double unless the exact value may lie within `margin` of a
// rounding boundary; those angles, and angles beyond the reduction's range,
// are handed to the C library itself. The C library returns the correctly
// rounded sine or cosine except within a sliver around those boundaries,
// so both give the same bits; `ready` holds only when a check against the
// C library over a spread of angles found them equal.
#pragma once

#include <cstddef>

namespace quarnel::sincos_kernel {

// Whether the machine runs the kernel and it agreed with the C library.
// `decide` checks once per process, with the GIL held, and only once NumPy's
// sin and cos are known to be the C library's.
bool ready() noexcept;
void decide() noexcept;

// s[j] = sin(x[j]), c[j] = cos(x[j]) for j < n; either output may be null.
// Raises the floating-point flags that the C library raises for the same
// angles (invalid for infinities), and no others. Only once ready().
void sin_cos(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept;

// The kernel itself, whether or not it is ready: for checks and tests.
bool supported() noexcept;
void sin_cos_unchecked(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept;

}  // namespace quarnel::sincos_kernel
