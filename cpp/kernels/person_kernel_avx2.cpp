// The standing person's block loop, avx2. Built with -mavx2 -mfma (CMakeLists.txt): four lanes.
#include "formulas/radiation/person.hpp"
#include "kernels/person_kernel.hpp"

namespace quarnel::radiation {

static_assert(person_block == block);

void person_avx2(const double* sun_zenith, const double* longwave, const double* scattered, const double* beam,
               const double* absorption, double* sun, double* shade, std::ptrdiff_t n) noexcept {
    standing_person_block(sun_zenith, longwave, scattered, beam, absorption, sun, shade, n);
}

}  // namespace quarnel::radiation
