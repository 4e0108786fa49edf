// NumPy's own inner loops for the elementary functions, resolved once from
// the ufuncs of the numpy module bound at import. Calling them directly
// gives exactly the values NumPy computes (including its SIMD variants),
// for one element or for a block of contiguous elements.
#pragma once

#include "common/fp_flags.hpp"
#include "common/handle.hpp"
#include "common/np_functions.hpp"
#include "machine/libm_sincos.hpp"

#include <cmath>
#include <cstddef>

namespace quarnel::np_loops {

using LoopFn = void (*)(char** args, const std::ptrdiff_t* dimensions,
                        const std::ptrdiff_t* steps, void* data);

struct Loop {
    LoopFn fn = nullptr;
    void* data = nullptr;
};

struct Table {
    Loop unary[np_unary_count];  // float64 -> float64
    // Non-zero where NumPy's loop is a multiplication by this factor
    // (radians, degrees): checked against the loop when resolved, and then
    // computed inline instead of called element by element.
    double scale[np_unary_count] = {};
    Loop power_dd, maximum_dd;   // (float64, float64) -> float64
    // Arithmetic over blocks of array elements: NumPy's SIMD loops give the
    // IEEE results of the operators at the machine's full vector width.
    Loop add_dd, subtract_dd, multiply_dd, divide_dd, negative_d;
    // NumPy's float64 sin and cos loops call the C library's sin and cos
    // (checked when resolved): single values then come from one sincos
    // (native.hpp), blocks from the vector kernel.
    bool libm_trig = false;
    // NumPy's float64 sqrt loop gives the correctly rounded square root
    // (checked when resolved), so single values take the machine's.
    bool exact_sqrt = false;
    bool complete = false;       // every loop found
};

namespace detail {
inline Table loops;  // filled by `resolve` in the exec step
}

// The loops, valid once `resolve` succeeded.
inline const Table& table() noexcept { return detail::loops; }

// Looks the loops up on `numpy`; leaves `complete` false if any is missing,
// which keeps every call on the generic path. Never raises.
void resolve(PyObject* numpy) noexcept;

inline void run(const Loop& l, const double* in, double* out, std::ptrdiff_t n) noexcept {
    char* args[2] = {const_cast<char*>(reinterpret_cast<const char*>(in)),
                     reinterpret_cast<char*>(out)};
    const std::ptrdiff_t steps[2] = {sizeof(double), sizeof(double)};
    const auto earlier = FpFlags::before();
    l.fn(args, &n, steps, l.data);
    FpFlags::keep(earlier);
}

// `a` and `b` may be broadcast scalars (stride 0) of one element.
inline void run(const Loop& l, const double* a, std::ptrdiff_t sa, const double* b,
                std::ptrdiff_t sb, double* out, std::ptrdiff_t n) noexcept {
    char* args[3] = {const_cast<char*>(reinterpret_cast<const char*>(a)),
                     const_cast<char*>(reinterpret_cast<const char*>(b)),
                     reinterpret_cast<char*>(out)};
    const std::ptrdiff_t steps[3] = {sa, sb, sizeof(double)};
    const auto earlier = FpFlags::before();
    l.fn(args, &n, steps, l.data);
    FpFlags::keep(earlier);
}

inline double unary(NpFn f, double x) noexcept {
    const Table& t = table();
    if (const double k = t.scale[int(f)]) return x * k;
    if (f == NpFn::sqrt && t.exact_sqrt) return __builtin_sqrt(x);
    double out;
    run(t.unary[int(f)], &x, &out, 1);
    return out;
}

// The sine and cosine of x, each exactly what NumPy's loops give; only
// once `libm_trig` is known.
inline void sincos(double x, double* s, double* c) noexcept { libm_sincos(x, s, c); }

inline double binary(const Loop& l, double a, double b) noexcept {
    double out;
    run(l, &a, 0, &b, 0, &out, 1);
    return out;
}

}  // namespace quarnel::np_loops
