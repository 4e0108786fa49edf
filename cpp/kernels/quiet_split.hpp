// The kernels' loops split over the cores and leave the floating-point
// flags as they found them: an element outside a formula's domain may raise
// flags on its way to NaN, and NaN is then the answer, not an error.
#pragma once

#include "common/fp_flags.hpp"
#include "machine/parallel.hpp"

namespace quarnel::kernels {

// span(begin, end) over [0, n) in pieces of whole grains; the first is timed.
template <class Span>
void quiet_split(npy_intp n, npy_intp grain, const Span& span) noexcept {
    const auto entry = FpFlags::before();
    unsigned unused = 0;
    machine::parallel::over(n, grain, [&](npy_intp begin, npy_intp end, int) noexcept {
        span(begin, end);
        return 0u;
    }, unused);
    FpFlags::clear();
    FpFlags::keep(entry);
}

}  // namespace quarnel::kernels
