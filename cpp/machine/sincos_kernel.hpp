// Sine and cosine of many angles at once, exactly what the C library's sin
// and cos return, several times faster on machines with AVX2 or AVX-512.
//
// Each angle is reduced by pi/2 and both series are summed in double-double
// arithmetic, about 2^-64 relative to the result. That is rounded to the
// nearest double unless the exact value may lie within `margin` of a
// rounding boundary; those angles, and angles beyond the reduction's range,
// are handed to the C library itself. The C library returns the correctly
// rounded sine or cosine except within a sliver around those boundaries,
// so both give the same bits; a kernel is used only once a check against
// the C library over a spread of angles found them equal.
//
// Two kernels, one method: 8 lanes with AVX-512 (sincos_kernel.cpp) and
// 4 lanes with AVX2 and FMA (sincos_kernel_avx2.cpp), each compiled for its
// instruction set alone, so the module still runs on any x86-64.
#pragma once

#include "machine/isa.hpp"
#include "machine/libm_sincos.hpp"

#include <cstddef>

#include <math.h>

namespace quarnel::sincos_kernel {

// Whether a kernel is in use, and which (baseline: none). `decide` picks
// once per process, with the GIL held, and only once NumPy's sin and cos
// are known to be the C library's: the best kernel that machine::isa()
// allows and that agreed with the C library.
bool ready() noexcept;
machine::Isa level() noexcept;
void decide() noexcept;

// s[j] = sin(x[j]), c[j] = cos(x[j]) for j < n; either output may be null.
// Raises the floating-point flags that the C library raises for the same
// angles (invalid for infinities), and no others. The C library's own
// sin and cos until a kernel is ready.
void sin_cos(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept;

// The kernel of one level, whether or not it is in use: for checks and
// tests. `supported` tells whether the processor runs it (never for
// baseline, which has no kernel); `sin_cos_unchecked` needs it.
bool supported(machine::Isa kernel) noexcept;
void sin_cos_unchecked(machine::Isa kernel, const double* x, std::ptrdiff_t n, double* s,
                       double* c) noexcept;

namespace detail {

// The boundary margin in units in the last place: an exact value closer
// than this to a midpoint between two doubles goes to the C library.
#ifndef QUARNEL_SINCOS_MARGIN
#define QUARNEL_SINCOS_MARGIN (1.0 / 32)
#endif
inline constexpr double margin = QUARNEL_SINCOS_MARGIN;

// The C library, angle by angle.
inline void libm(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept {
    for (std::ptrdiff_t j = 0; j < n; ++j) {
        if (s && c) libm_sincos(x[j], s + j, c + j);
        else if (s) s[j] = ::sin(x[j]);
        else c[j] = ::cos(x[j]);
    }
}

// The AVX2 kernel (sincos_kernel_avx2.cpp); only where supported.
void sin_cos_avx2(const double* x, std::ptrdiff_t n, double* s, double* c) noexcept;

}  // namespace detail

}  // namespace quarnel::sincos_kernel
