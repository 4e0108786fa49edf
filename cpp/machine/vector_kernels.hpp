// The vector kernels in use for NumPy's float64 loops of the elementary
// functions: for each function either a kernel that was checked, at import,
// to give the loop's bits and flags, or none (NumPy's loop, then).
//
// Each kernel's own `decide()` registers it here, once per process with the
// GIL held, before any evaluation; evaluating threads only read.
#pragma once

#include "common/np_functions.hpp"

#include <cfenv>
#include <cstddef>

namespace quarnel::vector_kernels {

// out[j] = f(x[j]) for j < n; out may be x.
using Unary = void (*)(const double* x, std::ptrdiff_t n, double* out) noexcept;

// out[j] = x[j * sx] ** y[j * sy] for j < n, strides in elements (0 for a
// broadcast operand, else 1); out may be x or y where its stride is 1.
using Power = void (*)(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
                       std::ptrdiff_t n) noexcept;

// The kernel for a one-argument function (sin and cos excepted: they have
// sincos_kernel), or null.
Unary unary(NpFn f) noexcept;
// The kernel for power, or null. It stands for NumPy's loop only where the
// exponent is an array or a broadcast value other than 2, 0.5 and -1,
// which NumPy's loop computes as a square, a square root and a reciprocal:
// see power_fits().
Power power() noexcept;
inline bool power_fits(std::ptrdiff_t sy, double y0) noexcept {
    return sy != 0 || (y0 != 2.0 && y0 != 0.5 && y0 != -1.0);
}

void use(NpFn f, Unary kernel) noexcept;
void use_power(Power kernel) noexcept;

// check() -> bool, run with the floating-point environment held: the
// overflows and invalid operations a kernel's check at import provokes are
// not the caller's.
template <class Check>
bool quietly(const Check& check) noexcept {
    std::fenv_t env;
    std::feholdexcept(&env);
    const bool ok = check();
    std::fesetenv(&env);
    return ok;
}

}  // namespace quarnel::vector_kernels
