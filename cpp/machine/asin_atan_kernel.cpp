#include "machine/asin_atan_kernel.hpp"

#include "machine/vector_kernels.hpp"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace quarnel::asin_atan_kernel {
namespace {

using Kernel = void (*)(const double*, std::ptrdiff_t, double*) noexcept;

std::atomic<bool> in_use[2];
int slot(NpFn f) noexcept { return f == NpFn::arcsin ? 0 : 1; }

// Whether `kernel` gives the C library's bits over arguments of every
// kind: for asin the whole interval, values next to ±1 (where the square
// root carries the result) and to the table's points j/128, every
// magnitude of either sign; for atan ratios of every magnitude and sign,
// values next to the table's points i/128 and their reciprocals,
// infinities. Beyond the ranges too.
bool agrees(Kernel kernel, double (*libm)(double), bool sine) noexcept {
    constexpr int n = 4096;
    static double in[n], out[n];
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < n; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = double(state >> 11) * 0x1.0p-53;
        const double sign = state >> 63 ? -1.0 : 1.0;
        const double scaled = std::ldexp(0.5 + unit / 2, int(state % 64) - (sine ? 60 : 32));
        const double near = (double(state % 2001) - 1000) * 0x1p-52;
        switch (i % 4) {
            case 0: in[i] = 2 * unit - 1; break;
            case 1: in[i] = sine ? sign * std::fmin(scaled, 1.0) : sign * scaled; break;
            case 2:
                in[i] = sine ? sign * (1 - std::ldexp(unit, -int(state % 50))) : sign * (std::floor(unit * 129) / 128 + near);
                break;
            default: in[i] = sign * (sine ? std::floor(unit * 92) / 128 + near : 1 / (std::floor(unit * 128 + 1) / 128 + near));
        }
    }
    in[0] = 1.0, in[1] = -1.0, in[2] = INFINITY, in[3] = 1.5, in[4] = 0x1p-30, in[5] = NAN, in[6] = 1e300;
    kernel(in, n, out);
    for (int i = 0; i < n; ++i) {
        const double want = libm(in[i]);
        if (std::memcmp(&want, &out[i], sizeof(double)) != 0 && !(std::isnan(want) && std::isnan(out[i])))
            return false;
    }
    return true;
}

double c_asin(double x) { return ::asin(x); }
double c_atan(double x) { return ::atan(x); }

}  // namespace

bool supported() noexcept { return machine::processor_isa() >= machine::Isa::avx2; }

bool ready(NpFn f) noexcept { return in_use[slot(f)].load(std::memory_order_relaxed); }

void decide(NpFn f) noexcept {
    if (f != NpFn::arcsin && f != NpFn::arctan) return;
    static bool decided[2];  // once per process and function: the answer cannot change
    if (decided[slot(f)]) return;
    decided[slot(f)] = true;
    if (machine::isa() < machine::Isa::avx2 || !supported()) return;
    const bool sine = f == NpFn::arcsin;
    const Kernel kernel = sine ? detail::asin_avx2 : detail::atan_avx2;
    if (vector_kernels::quietly([&] { return agrees(kernel, sine ? c_asin : c_atan, sine); })) {
        in_use[slot(f)].store(true, std::memory_order_relaxed);
        vector_kernels::use(f, kernel);
    }
}

}  // namespace quarnel::asin_atan_kernel
