// The standing person's block loop, avx512. Built with -mavx512f -mavx512dq and 512-bit vectors (CMakeLists.txt): eight lanes.
#include "formulas/radiation/person.hpp"
#include "kernels/person_kernel.hpp"

namespace quarnel::radiation {

static_assert(person_block == block);

void person_avx512(const double* sun_zenith, const double* longwave, const double* scattered, const double* beam,
               const double* absorption, double* sun, double* shade, std::ptrdiff_t n) noexcept {
    standing_person_block(sun_zenith, longwave, scattered, beam, absorption, sun, shade, n);
}

}  // namespace quarnel::radiation
