// The UTCI block loop, avx512. Built with -mavx512f -mavx512dq and 512-bit vectors (CMakeLists.txt): eight lanes.
#include "formulas/comfort/utci_poly.hpp"
#include "kernels/utci_kernel.hpp"

namespace quarnel::comfort {

static_assert(block == kernel_block);

void utci_avx512(const double* ta, const double* tmrt, const double* va, const double* hpa, double* out,
               std::ptrdiff_t n) noexcept {
    utci_block(ta, tmrt, va, hpa, out, n);
}

}  // namespace quarnel::comfort
