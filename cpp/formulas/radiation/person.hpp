// The mean radiant temperature of a standing person in the sun and in shade,
// for a block of contiguous elements. Included by the kernel translation
// units, one per instruction set (internal linkage, as utci_poly.hpp).
//
// The projection factor's cosine comes from the C library, element by
// element; everything else is sums, products and square roots, which
// vectorise and are correctly rounded at any width: every level gives the
// same bits. x^(1/4) is sqrt(sqrt(x)), within an ulp or two of NumPy's
// x ** 0.25 (pow) and many times faster; a negative x gives NaN.
#pragma once

#include <cmath>
#include <cstddef>

namespace quarnel::radiation {
namespace {

constexpr std::ptrdiff_t person_block = 256;
constexpr double sigma = 5.67e-08;  // [W m-2 K-4], as in the module

inline void standing_person_block(const double* sun_zenith, const double* longwave, const double* scattered,
                                  const double* beam, const double* absorption, double* sun, double* shade,
                                  std::ptrdiff_t n) noexcept {
    constexpr double radians = 3.141592653589793 / 180.0;
    double fp[person_block];
    // Jendritzky et al. (1990): f_p = 0.308 cos(gamma (0.998 - gamma^2 / 50000)),
    // gamma the elevation [deg]; the angle first, vectorised.
    for (std::ptrdiff_t j = 0; j < n; ++j) {
        const double gamma = 90.0 - sun_zenith[j];
        fp[j] = gamma * (0.998 - gamma * gamma / 50000.0) * radians;
    }
    // The sun at the horizon, as the chain puts it at night: cos 0 = 1.
    for (std::ptrdiff_t j = 0; j < n; ++j) fp[j] = 0.308 * (fp[j] == 0.0 ? 1.0 : std::cos(fp[j]));
    for (std::ptrdiff_t j = 0; j < n; ++j) {
        const double lw = longwave[j], sc = scattered[j], b = beam[j], k = absorption[j], f = fp[j];
        // In shade f_p times a zero beam: NaN where the beam or f_p is.
        const double in_sun = (lw + k * (sc + f * b)) / sigma;
        const double in_shade = (lw + k * (sc + f * (0.0 * b))) / sigma;
        sun[j] = std::sqrt(std::sqrt(in_sun)) - 273.15;
        shade[j] = std::sqrt(std::sqrt(in_shade)) - 273.15;
    }
}

}  // namespace
}  // namespace quarnel::radiation
