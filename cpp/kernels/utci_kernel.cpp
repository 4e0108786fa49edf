// The UTCI block loop, baseline. Plain: whatever the compiler targets by default (SSE2, two lanes, on x86-64).
#include "kernels/utci_kernel.hpp"
#include "formulas/comfort/utci_poly.hpp"

namespace quarnel::comfort {

static_assert(block == kernel_block);

void utci_baseline(const double* ta, const double* tmrt, const double* va, const double* hpa, double* out,
               std::ptrdiff_t n) noexcept {
    utci_block(ta, tmrt, va, hpa, out, n);
}

}  // namespace quarnel::comfort
