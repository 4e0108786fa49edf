#include "machine/pow_kernel.hpp"

#include "machine/vector_kernels.hpp"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quarnel::pow_kernel {
namespace {

using Kernel = void (*)(const double*, std::ptrdiff_t, const double*, std::ptrdiff_t, double*,
                        std::ptrdiff_t) noexcept;

// Read by evaluating threads without the GIL: the kernel in use, or null.
std::atomic<Kernel> chosen{nullptr};

bool same_bits(const double* got, const double* want, int n) noexcept {
    return std::memcmp(got, want, sizeof(double) * std::size_t(n)) == 0;
}

// Whether the kernel gives the C library's bits over the powers the
// formulas take (temperatures to the 4th, 10 to the -6 .. 0, fractions to
// the 2.5, elevations to the -1.6364, large counts to the 0.25), over x
// and y of every magnitude and sign, bases next to 1 with large exponents,
// integer and half exponents, and with either operand broadcast.
bool agrees(Kernel kernel) noexcept {
    constexpr int n = 4096;
    static double x[n], y[n], got[n], want[n];
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < n; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = double(state >> 11) * 0x1.0p-53;
        const double sign = (state >> 3) % 2 ? 1.0 : -1.0;
        switch (i % 8) {
            case 0: x[i] = 200.0 + 140.0 * unit, y[i] = 4.0; break;
            case 1: x[i] = 10.0, y[i] = -6.0 * unit; break;
            case 2: x[i] = unit, y[i] = 2.5; break;
            case 3: x[i] = 10.0 * unit, y[i] = -1.6364; break;
            case 4: x[i] = std::ldexp(1.0 + unit, 30 + int(state % 7)), y[i] = 0.25; break;
            case 5:
                x[i] = std::ldexp(0.5 + unit, int(state % 200) - 100);
                y[i] = sign * std::ldexp(0.5 + unit / 3, int(state % 40) - 30);
                break;
            case 6: x[i] = 1.0 + sign * std::ldexp(unit, -int(state % 50) - 3), y[i] = sign * 1e9 * unit; break;
            default: x[i] = 0.1 + 30.0 * unit, y[i] = double(int(state % 41) - 20) * 0.5;
        }
    }
    kernel(x, 1, y, 1, got, n);
    for (int i = 0; i < n; ++i) want[i] = ::pow(x[i], y[i]);
    if (!same_bits(got, want, n)) return false;
    // A broadcast base, then a broadcast exponent.
    const double base = 10.0, exponent = -1.6364;
    kernel(&base, 0, y, 1, got, 512);
    for (int i = 0; i < 512; ++i) want[i] = ::pow(base, y[i]);
    if (!same_bits(got, want, 512)) return false;
    kernel(x, 1, &exponent, 0, got, n);
    for (int i = 0; i < n; ++i) want[i] = ::pow(x[i], exponent);
    return same_bits(got, want, n);
}

}  // namespace

bool supported() noexcept { return machine::processor_isa() >= machine::Isa::avx2; }

void pow_unchecked(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
                   std::ptrdiff_t n) noexcept {
    detail::pow_avx2(x, sx, y, sy, out, n);
}

void pow(const double* x, std::ptrdiff_t sx, const double* y, std::ptrdiff_t sy, double* out,
         std::ptrdiff_t n) noexcept {
    if (const Kernel k = chosen.load(std::memory_order_relaxed)) k(x, sx, y, sy, out, n);
    else detail::libm(x, sx, y, sy, out, n);
}

bool ready() noexcept { return chosen.load(std::memory_order_relaxed) != nullptr; }

void decide() noexcept {
    static bool decided = false;  // once per process: the answer cannot change
    if (decided) return;
    decided = true;
    if (machine::isa() < machine::Isa::avx2 || !supported()) return;
    if (vector_kernels::quietly([] { return agrees(detail::pow_avx2); })) {
        chosen.store(detail::pow_avx2, std::memory_order_relaxed);
        vector_kernels::use_power(detail::pow_avx2);
    }
}

}  // namespace quarnel::pow_kernel
