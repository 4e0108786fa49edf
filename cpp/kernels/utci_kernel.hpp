// The UTCI loop over a block of contiguous elements, built three times:
// plain (any processor, SSE2 on x86-64), for AVX2 and for AVX-512. The
// module picks one at import by machine::isa(); all give the same bits.
#pragma once

#include <cstddef>

namespace quarnel::comfort {

// out[j] = UTCI of element j, j < n <= kernel_block; any of the inputs may
// be the output.
using Kernel = void (*)(const double* ta, const double* tmrt, const double* va, const double* hpa,
                        double* out, std::ptrdiff_t n) noexcept;

inline constexpr std::ptrdiff_t kernel_block = 256;

void utci_baseline(const double*, const double*, const double*, const double*, double*, std::ptrdiff_t) noexcept;
#if QUARNEL_KERNELS_X86
void utci_avx2(const double*, const double*, const double*, const double*, double*, std::ptrdiff_t) noexcept;
void utci_avx512(const double*, const double*, const double*, const double*, double*, std::ptrdiff_t) noexcept;
#endif

}  // namespace quarnel::comfort
