// The C library's sine and cosine of one angle at once: glibc's sincos (a
// GNU extension) or Apple's __sincos, each the bits of sin and cos.
#pragma once

#include <math.h>

namespace quarnel {

inline void libm_sincos(double x, double* s, double* c) noexcept {
#if defined(__APPLE__)
    __sincos(x, s, c);
#else
    ::sincos(x, s, c);
#endif
}

}  // namespace quarnel
