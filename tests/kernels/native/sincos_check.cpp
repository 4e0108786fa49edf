// Compares each vector sine and cosine kernel the processor runs (AVX-512,
// AVX2) with the C library's sin, cos and sincos, bit for bit, over angles
// of every kind, and checks the floating-point flags it leaves. Exit status
// 0: all equal; 1: a difference (printed); 77: the machine runs no kernel.
//
//     sincos_check [samples [seed]]
#include "machine/sincos_kernel.hpp"

#include "check_support.hpp"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <math.h>

using quarnel::machine::Isa;
using quarnel::sincos_kernel::supported;

namespace {

using checks::next, checks::same, checks::unit;

// Angles of one kind per batch: the radians the formulas meet, every
// magnitude, near multiples of pi/2 (where the reduction cancels), near the
// table's grid points, and arbitrary bit patterns (infinities, NaNs,
// subnormals, beyond the reduction's range).
double angle(int kind) {
    switch (kind) {
        case 0: return (unit() - 0.5) * 8 * M_PI;
        case 1: return (unit() - 0.5) * std::ldexp(1.0, int(next() % 52) - 30);
        case 2: return std::nearbyint((unit() - 0.5) * 2e6) * M_PI_2 + (double(next() % 2001) - 1000) * 1e-13;
        case 3: return std::nearbyint((unit() - 0.5) * 400) / 16 + (unit() - 0.5) * 1e-12;
        default: {
            const std::uint64_t bits = next();
            double x;
            std::memcpy(&x, &bits, sizeof x);
            return x;
        }
    }
}

void sin_cos(Isa level, const double* x, std::ptrdiff_t n, double* s, double* c) {
    quarnel::sincos_kernel::sin_cos_unchecked(level, x, n, s, c);
}

// The angles of `samples`, in batches, through kernel `level`: the number
// of angles where it differs from the C library.
long differences_over(Isa level, long samples) {
    constexpr int batch = 4099;  // not a multiple of either vector width
    std::vector<double> x(batch), s(batch), c(batch), s1(batch), c1(batch);
    long differences = 0;
    for (long done = 0, round = 0; done < samples; done += batch, ++round) {
        const int kind = int(round % 5);
        for (double& v : x) v = angle(kind);
        sin_cos(level, x.data(), batch, s.data(), c.data());
        sin_cos(level, x.data(), batch, s1.data(), nullptr);
        sin_cos(level, x.data(), batch, nullptr, c1.data());
        for (int j = 0; j < batch; ++j) {
            double ls, lc;
            ::sincos(x[j], &ls, &lc);
            if (!same(ls, ::sin(x[j])) || !same(lc, ::cos(x[j]))) continue;  // not ours to match
            if (same(s[j], ls) && same(c[j], lc) && same(s1[j], ls) && same(c1[j], lc)) continue;
            if (differences++ < 10)
                std::printf("x = %a: sin %a (libm %a), cos %a (libm %a)\n", x[j], s[j], ls, c[j], lc);
        }
    }
    return differences;
}

// Flags: only inexact for ordinary angles; invalid for an infinity, as the
// C library raises it.
bool flags_as_the_c_library(Isa level) {
    std::vector<double> ordinary(1000), s(1000), c(1000);
    for (double& v : ordinary) v = (unit() - 0.5) * 20;
    std::feclearexcept(FE_ALL_EXCEPT);
    sin_cos(level, ordinary.data(), 1000, s.data(), c.data());
    const int raised = std::fetestexcept(FE_ALL_EXCEPT & ~FE_INEXACT);
    double special[16];
    for (double& v : special) v = 1.0;
    special[5] = INFINITY;
    std::feclearexcept(FE_ALL_EXCEPT);
    sin_cos(level, special, 16, s.data(), c.data());
    const bool invalid = std::fetestexcept(FE_INVALID) != 0;
    if (raised || !invalid) std::printf("flags for ordinary angles %#x, invalid for infinity %d\n", raised, int(invalid));
    return raised == 0 && invalid;
}

}  // namespace

int main(int argc, char** argv) {
    const long samples = argc > 1 ? std::atol(argv[1]) : 4'000'000;
    if (argc > 2) checks::seed(argv[2]);
    int checked = 0;
    bool ok = true;
    for (Isa level : {Isa::avx512, Isa::avx2}) {
        if (!supported(level)) continue;
        ++checked;
        const long differences = differences_over(level, samples);
        const bool flags = flags_as_the_c_library(level);
        std::printf("%s: %ld differences in %ld angles, flags %s\n", quarnel::machine::name(level), differences,
                    samples, flags ? "as the C library's" : "differ");
        ok = ok && differences == 0 && flags;
    }
    if (!checked) return 77;
    return ok ? 0 : 1;
}
