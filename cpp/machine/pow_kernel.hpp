// x ** y for many values at once, exactly what the C library's pow
// returns, faster on machines with AVX2 and FMA.
//
// NumPy's float64 power loop calls the C library's pow wherever NumPy has no
// AVX-512 code of its own. The kernel computes ln x in double-double
// arithmetic from a table (to about 2^-76 relative), y ln x as a
// double-double, and its exponential by the exp kernel's steps: x ** y to
// about 2^-63 relative in all. It rounds that to the nearest double unless
// the exact value may lie within `margin` of a rounding boundary; those
// values, and arguments outside the kernel's range (x not a positive normal
// number, x = 1, |y| outside 2^-64 .. 2^64, NaNs and infinities, |y ln x|
// outside 2^-54 .. 708: results that overflow, are subnormal or round to
// 1), go to the C library itself. The C library's pow is correctly rounded
// except within a sliver around those boundaries, so both give the same
// bits; the kernel is used only once a check against the C library over a
// spread of values found them equal.
//
// One kernel: 4 lanes with AVX2 and FMA (pow_kernel_avx2.cpp), compiled for
// that instruction set alone. As with exp, on processors with AVX-512
// NumPy's loop runs its own vector routine and the kernel stays unused.
#pragma once

#include "machine/isa.hpp"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <math.h>

namespace quarnel::pow_kernel {

// Whether the kernel is in use. `decide` chooses once per process, with the
// GIL held, and only once NumPy's power loop is known to be the C library's
// pow: the kernel when machine::isa() allows AVX2 and it agreed with the C
// library. It then stands for the loop in vector_kernels::power().
bool ready() noexcept;
void decide() noexcept;

// out[j] = pow(x[j * sx], y[j * sy]) for j < n, the C library's bits, sx
// and sy 0 (a broadcast value) or 1; out may be x or y where its stride is
// 1. Raises the floating-point flags the C library raises for the same
// values, and no others besides inexact. The C library's own pow until the
// kernel is ready.
void pow(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
         std::ptrdiff_t n) noexcept;

// The kernel whether or not it is in use: for checks and tests. `supported`
// tells whether the processor runs it; `pow_unchecked` needs it.
bool supported() noexcept;
void pow_unchecked(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
                   std::ptrdiff_t n) noexcept;

namespace detail {

// The boundary margin in units in the last place: an exact value closer
// than this to a midpoint between two doubles goes to the C library.
#ifndef QUARNEL_POW_MARGIN
#define QUARNEL_POW_MARGIN (1.0 / 32)
#endif
inline constexpr double margin = QUARNEL_POW_MARGIN;

// The arguments the kernel takes, by their bits: x a positive normal
// number, 2^-64 <= |y| <= 2^64 (beyond, y ln x is out of range or every
// result rounds to 1). Of those it computes the lanes with 2^-54 <=
// |y ln x| <= 708: normal results that do not round to 1.
inline constexpr std::uint64_t x_low = 0x0010000000000000, x_end = 0x7ff0000000000000;
inline constexpr std::uint64_t y_low = 0x3bf0000000000000, y_high = 0x43f0000000000000;
inline constexpr double smallest = 0x1p-54, largest = 708.0;

// For tests: arguments whose lanes the kernel computes itself, whatever
// the rounding of y ln x (a relative 2^-40 of room at the range's ends).
inline bool in_range(double x, double y) noexcept {
    std::uint64_t bx, by;
    std::memcpy(&bx, &x, sizeof x);
    std::memcpy(&by, &y, sizeof y);
    by &= ~(std::uint64_t(1) << 63);
    if (bx < x_low || bx >= x_end || by < y_low || by > y_high) return false;
    const double z = std::fabs(y * ::log(x));
    return z >= smallest * (1 + 0x1p-40) && z <= largest * (1 - 0x1p-40);
}

// The C library, value by value.
inline void libm(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
                 std::ptrdiff_t n) noexcept {
    for (std::ptrdiff_t j = 0; j < n; ++j) out[j] = ::pow(x[j * sx], y[j * sy]);
}

// The AVX2 kernel (pow_kernel_avx2.cpp); only where supported.
void pow_avx2(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
              std::ptrdiff_t n) noexcept;

// For tests: the kernel's unrounded value of each lane, x ** y = (hi + lo)
// * 2^m with hi + lo in [0.99, 2.02), and hi * 2^m in `rounded`; n a
// multiple of 4, arguments in the kernel's range, both arrays.
void pow_parts_avx2(const double* x, const double* y, std::ptrdiff_t n, double* rounded, double* hi,
                    double* lo) noexcept;

}  // namespace detail

}  // namespace quarnel::pow_kernel
