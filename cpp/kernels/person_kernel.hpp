// The standing person's block loop, built three times like the UTCI's:
// plain, for AVX2 and for AVX-512 (person.hpp). All give the same bits.
#pragma once

#include <cstddef>

namespace quarnel::radiation {

// sun[j], shade[j] for j < n <= block; the outputs may be inputs.
using PersonKernel = void (*)(const double* sun_zenith, const double* longwave, const double* scattered,
                              const double* beam, const double* absorption, double* sun, double* shade,
                              std::ptrdiff_t n) noexcept;

inline constexpr std::ptrdiff_t block = 256;

#define QUARNEL_PERSON_KERNEL(name)                                                                    \
    void name(const double*, const double*, const double*, const double*, const double*, double*, double*, \
              std::ptrdiff_t) noexcept
QUARNEL_PERSON_KERNEL(person_baseline);
#if QUARNEL_KERNELS_X86
QUARNEL_PERSON_KERNEL(person_avx2);
QUARNEL_PERSON_KERNEL(person_avx512);
#endif
#undef QUARNEL_PERSON_KERNEL

}  // namespace quarnel::radiation
