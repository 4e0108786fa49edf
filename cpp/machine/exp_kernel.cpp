#include "machine/exp_kernel.hpp"

#include "machine/vector_kernels.hpp"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quarnel::exp_kernel {
namespace {

using Kernel = void (*)(const double*, std::ptrdiff_t, double*) noexcept;

// Read by evaluating threads without the GIL: the kernel in use, or null.
std::atomic<Kernel> chosen{nullptr};

// Whether the kernel gives the C library's bits over the arguments the
// formulas meet (optical depths, -30 .. 0), every magnitude of either sign
// across the kernel's range, and values next to multiples of ln 2 / 64,
// where the reduction leaves almost nothing.
bool agrees(Kernel kernel) noexcept {
    constexpr int n = 4096;
    static double in[n], out[n];
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < n; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = double(state >> 11) * 0x1.0p-53;
        switch (i % 4) {
            case 0: in[i] = -30.0 * unit; break;
            case 1: in[i] = (unit - 0.5) * 1420.0; break;
            case 2: in[i] = (unit - 0.5) * std::ldexp(1.0, int(state % 64) - 52); break;
            default: in[i] = std::nearbyint((unit - 0.5) * 1.3e5) * 0x1.62e42fefa39efp-7 * (1 + 0x1p-50);
        }
    }
    kernel(in, n, out);
    for (int i = 0; i < n; ++i) {
        const double want = ::exp(in[i]);
        if (std::memcmp(&want, &out[i], sizeof(double)) != 0) return false;
    }
    return true;
}

}  // namespace

bool supported() noexcept { return machine::processor_isa() >= machine::Isa::avx2; }

void exp_unchecked(const double* x, std::ptrdiff_t n, double* out) noexcept { detail::exp_avx2(x, n, out); }

void exp(const double* x, std::ptrdiff_t n, double* out) noexcept {
    if (const Kernel k = chosen.load(std::memory_order_relaxed)) k(x, n, out);
    else detail::libm(x, n, out);
}

bool ready() noexcept { return chosen.load(std::memory_order_relaxed) != nullptr; }

void decide() noexcept {
    static bool decided = false;  // once per process: the answer cannot change
    if (decided) return;
    decided = true;
    if (machine::isa() < machine::Isa::avx2 || !supported()) return;
    if (vector_kernels::quietly([] { return agrees(detail::exp_avx2); })) {
        chosen.store(detail::exp_avx2, std::memory_order_relaxed);
        vector_kernels::use(NpFn::exp, detail::exp_avx2);
    }
}

}  // namespace quarnel::exp_kernel
