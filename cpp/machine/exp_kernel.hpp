// The exponential of many values at once, exactly what the C library's exp
// returns, faster on machines with AVX2 and FMA.
//
// NumPy's float64 exp loop calls the C library's exp wherever NumPy has no
// AVX-512 code of its own. The kernel computes exp(x) in double-double
// arithmetic, about 2^-64 relative to the result, and rounds that to the
// nearest double unless the exact value may lie within `margin` of a
// rounding boundary; those values, and arguments outside 2^-54 <= |x| <= 708
// (results that overflow or are subnormal, NaNs, values that round to 1),
// go to the C library itself. The C library's exp is
// correctly rounded except within a sliver around those boundaries, so both
// give the same bits; the kernel is used only once a check against the C
// library over a spread of values found them equal.
//
// One kernel: 4 lanes with AVX2 and FMA (exp_kernel_avx2.cpp), compiled for
// that instruction set alone, so the module still runs on any x86-64. On
// processors with AVX-512 NumPy's loop runs its own vector routine, which
// this kernel does not reproduce; the check at import finds the loop is not
// the C library's there and leaves the kernel unused.
#pragma once

#include "machine/isa.hpp"

#include <cmath>
#include <cstddef>

#include <math.h>

namespace quarnel::exp_kernel {

// Whether the kernel is in use. `decide` chooses once per process, with the
// GIL held, and only once NumPy's exp loop is known to be the C library's:
// the kernel when machine::isa() allows AVX2 and it agreed with the C
// library.
bool ready() noexcept;
void decide() noexcept;

// out[j] = exp(x[j]) for j < n, the C library's bits. Raises the
// floating-point flags the C library raises for the same values (overflow,
// underflow), and no others besides inexact. The C library's own exp
// until the kernel is ready.
void exp(const double* x, std::ptrdiff_t n, double* out) noexcept;

// The kernel whether or not it is in use: for checks and tests. `supported`
// tells whether the processor runs it; `exp_unchecked` needs it.
bool supported() noexcept;
void exp_unchecked(const double* x, std::ptrdiff_t n, double* out) noexcept;

namespace detail {

// The boundary margin in units in the last place: an exact value closer
// than this to a midpoint between two doubles goes to the C library.
#ifndef QUARNEL_EXP_MARGIN
#define QUARNEL_EXP_MARGIN (1.0 / 32)
#endif
inline constexpr double margin = QUARNEL_EXP_MARGIN;

// The kernel's range: 2^-54 <= |x| <= 708. Results there are normal and
// do not round to 1.
inline constexpr double smallest = 0x1p-54, largest = 708.0;
inline bool in_range(double x) noexcept { return std::fabs(x) >= smallest && std::fabs(x) <= largest; }

// The C library, value by value.
inline void libm(const double* x, std::ptrdiff_t n, double* out) noexcept {
    for (std::ptrdiff_t j = 0; j < n; ++j) out[j] = ::exp(x[j]);
}

// The AVX2 kernel (exp_kernel_avx2.cpp); only where supported.
void exp_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept;

// For tests: the kernel's unrounded value of each lane, exp(x) = (hi + lo)
// * 2^m with hi + lo in [0.99, 2.02), and hi * 2^m in `rounded`; n a
// multiple of 4, arguments in the kernel's range.
void exp_parts_avx2(const double* x, std::ptrdiff_t n, double* rounded, double* hi, double* lo) noexcept;

}  // namespace detail

}  // namespace quarnel::exp_kernel
