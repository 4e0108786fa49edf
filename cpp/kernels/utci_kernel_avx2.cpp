// The UTCI block loop, avx2. Built with -mavx2 -mfma (CMakeLists.txt): four lanes.
#include "formulas/comfort/utci_poly.hpp"
#include "kernels/utci_kernel.hpp"

namespace quarnel::comfort {

static_assert(block == kernel_block);

void utci_avx2(const double* ta, const double* tmrt, const double* va, const double* hpa, double* out,
               std::ptrdiff_t n) noexcept {
    utci_block(ta, tmrt, va, hpa, out, n);
}

}  // namespace quarnel::comfort
