// The arcsine and arctangent of many values at once, exactly what the C
// library's asin and atan return, faster on machines with AVX2 and FMA.
//
// NumPy's float64 arcsin and arctan loops call the C library's asin and
// atan wherever NumPy has no AVX-512 code of its own. The kernels compute
// in double-double arithmetic from a table of 128ths: atan(|x|) as atan(c)
// plus the arctangent of a small ratio (of 1/|x| where |x| > 1), asin(|x|)
// as asin(b) plus the arcsine of a small sine, with sqrt(1 - x^2) taking
// the part of |x| near 1. The result, within 2^-66 of the exact value, is
// rounded to the nearest double unless it may lie within the margin of a
// rounding boundary; those values, and arguments outside the kernels'
// ranges (NaNs, |x| below 2^-26, |x| > 1 for asin), go to the C library
// itself. The C library's asin and atan are correctly rounded except within
// a sliver around those boundaries, so both give the same bits; a kernel is
// used only once a check against the C library over a spread of values
// found them equal.
//
// Like the exp kernel: 4 lanes with AVX2 and FMA (asin_atan_kernel_avx2.cpp),
// compiled for that instruction set alone. On processors with AVX-512
// NumPy's loops run their own vector routines, which these kernels do not
// reproduce; the check at import finds the loops are not the C library's
// there and leaves the kernels unused.
#pragma once

#include "common/np_functions.hpp"
#include "machine/isa.hpp"

#include <cmath>
#include <cstddef>

#include <math.h>

namespace quarnel::asin_atan_kernel {

// Whether the kernel for f (arcsin or arctan) is in use. `decide` chooses
// once per process and function, with the GIL held, and only once NumPy's
// loop for f is known to be the C library's: the kernel when
// machine::isa() allows AVX2 and it agreed with the C library. It then
// serves NumPy's loop through vector_kernels.
bool ready(NpFn f) noexcept;
void decide(NpFn f) noexcept;

// Whether the processor runs the kernels.
bool supported() noexcept;

namespace detail {

// The boundary margins in units in the last place: an exact value closer
// than this to a midpoint between two doubles goes to the C library. The
// C library's asin departs from the correctly rounded result up to 1/65 of
// an ulp from a boundary, its atan up to 1/45, farther than its exp (1/110;
// tests/native/asin_atan_check.cpp measures them): margins of twice that.
#ifndef QUARNEL_ASIN_MARGIN
#define QUARNEL_ASIN_MARGIN (1.0 / 32)
#endif
#ifndef QUARNEL_ATAN_MARGIN
#define QUARNEL_ATAN_MARGIN (3.0 / 64)
#endif
inline constexpr double asin_margin = QUARNEL_ASIN_MARGIN, atan_margin = QUARNEL_ATAN_MARGIN;

// The ranges: 2^-26 <= |x| <= 1 for asin, 2^-26 <= |x| (infinities
// included) for atan. Below, the result is x or next to it, where the C
// library's handling of tiny values decides.
inline constexpr double smallest = 0x1p-26;
inline bool asin_in_range(double x) noexcept { return std::fabs(x) >= smallest && std::fabs(x) <= 1.0; }
inline bool atan_in_range(double x) noexcept { return std::fabs(x) >= smallest; }

// The C library, value by value.
inline void libm_asin(const double* x, std::ptrdiff_t n, double* out) noexcept {
    for (std::ptrdiff_t j = 0; j < n; ++j) out[j] = ::asin(x[j]);
}
inline void libm_atan(const double* x, std::ptrdiff_t n, double* out) noexcept {
    for (std::ptrdiff_t j = 0; j < n; ++j) out[j] = ::atan(x[j]);
}

// The AVX2 kernels (asin_atan_kernel_avx2.cpp); only where supported.
// out[j] = f(x[j]) for j < n, the C library's bits and flags; out may be x.
void asin_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept;
void atan_avx2(const double* x, std::ptrdiff_t n, double* out) noexcept;

// For tests: the kernel's unrounded value of each lane, f(x) = hi + lo
// (hi the kernel's rounding); n a multiple of 4, arguments in range.
void asin_parts_avx2(const double* x, std::ptrdiff_t n, double* hi, double* lo) noexcept;
void atan_parts_avx2(const double* x, std::ptrdiff_t n, double* hi, double* lo) noexcept;

}  // namespace detail

}  // namespace quarnel::asin_atan_kernel
