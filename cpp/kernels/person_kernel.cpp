// The standing person's block loop, baseline. Plain: whatever the compiler targets by default (SSE2 on x86-64).
#include "kernels/person_kernel.hpp"
#include "formulas/radiation/person.hpp"

namespace quarnel::radiation {

static_assert(person_block == block);

void person_baseline(const double* sun_zenith, const double* longwave, const double* scattered, const double* beam,
               const double* absorption, double* sun, double* shade, std::ptrdiff_t n) noexcept {
    standing_person_block(sun_zenith, longwave, scattered, beam, absorption, sun, shade, n);
}

}  // namespace quarnel::radiation
