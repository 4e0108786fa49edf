// Compares the AVX2 exp kernel with the C library's exp, bit for bit, over
// arguments of every kind, checks the floating-point flags it leaves, and
// measures how far from a rounding boundary the C library departs from the
// correctly rounded result (the kernel's unrounded value, within 1/1000 of
// an ulp of the exact one, as the reference; tests/test_exp_kernel.py
// checks that bound). Exit status 0: all equal and the C library's
// departures well inside the margin; 1: a difference (printed); 77: the
// machine does not run the kernel.
//
//     exp_check [samples [seed]]     the check
//     exp_check dump count [seed]    x, hi, lo of the unrounded value, one
//                                    line per argument, for an independent
//                                    check of its accuracy
#include "machine/exp_kernel.hpp"

#include "check_support.hpp"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <math.h>

namespace ek = quarnel::exp_kernel;

namespace {

using checks::next, checks::same, checks::unit;

constexpr double ln2_64 = 0x1.62e42fefa39efp-7;

// Arguments of one kind per batch: the formulas' (minus an optical depth),
// the whole range and beyond, every magnitude of either sign, next to
// multiples of ln 2 / 64 (the reduction cancels), next to the range's ends
// and the overflow and underflow thresholds, arbitrary bit patterns
// (infinities, NaNs, subnormals).
constexpr int kinds = 6;
double argument(int kind) {
    switch (kind) {
        case 0: return -20.0 * unit();
        case 1: return (unit() - 0.5) * 1480.0;
        case 2: return (unit() < 0.5 ? -1 : 1) * std::ldexp(0.5 + unit() / 2, int(next() % 70) - 60);
        case 3: return std::nearbyint((unit() - 0.5) * 1.3e5) * ln2_64 * (1 + (double(next() % 2001) - 1000) * 0x1p-52);
        case 4: {
            const double ends[] = {-708.0, 708.0, -708.3964185322641, 709.782712893384, -745.1332191019411, 0.0};
            return ends[next() % 6] + (double(next() % 2001) - 1000) * 0x1p-44;
        }
        default: {
            const std::uint64_t bits = next();
            double x;
            std::memcpy(&x, &bits, sizeof x);
            return x;
        }
    }
}

constexpr int watched = FE_ALL_EXCEPT & ~FE_INEXACT;

struct Tally {
    long differences = 0, flag_differences = 0, deferred = 0, in_range = 0;
    long departures = 0;          // the C library not correctly rounded
    double farthest = 0;          // of those, the largest distance from the boundary, in ulp
};

// Distance of hi + lo from the nearest rounding boundary, in ulp of hi.
double distance(double hi, double lo) {
    int e;
    std::frexp(hi, &e);
    return 0.5 - std::fabs(lo) / std::ldexp(1.0, e - 53);
}

void check(long samples, Tally& t) {
    constexpr int batch = 4099;  // not a multiple of the vector width
    std::vector<double> x(batch), got(batch), want(batch), rounded(batch + 4), hi(batch + 4), lo(batch + 4);
    for (long done = 0, round = 0; done < samples; done += batch, ++round) {
        const int kind = int(round % kinds);
        for (double& v : x) v = argument(kind);
        std::feclearexcept(FE_ALL_EXCEPT);
        ek::exp_unchecked(x.data(), batch, got.data());
        const int kernel_flags = std::fetestexcept(watched);
        std::feclearexcept(FE_ALL_EXCEPT);
        for (int j = 0; j < batch; ++j) want[j] = ::exp(x[j]);
        const int libm_flags = std::fetestexcept(watched);
        if (kernel_flags != libm_flags) {
            if (t.flag_differences++ < 10)
                std::printf("kind %d: flags %#x, the C library's %#x\n", kind, kernel_flags, libm_flags);
        }
        // In place, too.
        std::vector<double> inplace(x);
        ek::exp_unchecked(inplace.data(), batch, inplace.data());
        ek::detail::exp_parts_avx2(x.data(), batch & ~3, rounded.data(), hi.data(), lo.data());
        for (int j = 0; j < batch; ++j) {
            if (!same(got[j], want[j]) || !same(inplace[j], want[j])) {
                if (t.differences++ < 10) std::printf("x = %a: %a, the C library %a\n", x[j], got[j], want[j]);
            }
            if (j >= (batch & ~3) || !ek::detail::in_range(x[j])) continue;
            ++t.in_range;
            const double d = distance(hi[j], lo[j]);
            if (d <= ek::detail::margin || (hi[j] == std::ldexp(1.0, std::ilogb(hi[j])))) ++t.deferred;
            if (!same(rounded[j], want[j]) && d > 0) {
                ++t.departures;
                if (d > t.farthest) t.farthest = d;
            }
        }
    }
}

// Flags value by value: each special argument among ordinary ones, in a
// group of the vector width, raises what the C library raises for it.
long flags_one_by_one(long count) {
    long differences = 0;
    double x[8], out[8];
    volatile double sink;
    for (long c = 0; c < count; ++c) {
        for (double& v : x) v = -unit() * 5;
        x[next() % 8] = argument(c % 2 ? 5 : 4) * (c % 3 ? 1.0 : 1.05);
        std::feclearexcept(FE_ALL_EXCEPT);
        ek::exp_unchecked(x, 8, out);
        const int kernel_flags = std::fetestexcept(watched);
        std::feclearexcept(FE_ALL_EXCEPT);
        // Into a volatile: a compiler may drop the calls whose results go unread.
        for (double v : x) sink = ::exp(v);
        const int libm_flags = std::fetestexcept(watched);
        if (kernel_flags != libm_flags && differences++ < 10)
            std::printf("flags %#x, the C library's %#x\n", kernel_flags, libm_flags);
    }
    return differences;
}

}  // namespace

int main(int argc, char** argv) {
    if (!ek::supported()) return 77;
    if (argc > 1 && std::strcmp(argv[1], "dump") == 0) {
        const long count = argc > 2 ? std::atol(argv[2]) & ~3L : 4000;
        if (argc > 3) checks::seed(argv[3]);
        std::vector<double> x(count), r(count), hi(count), lo(count);
        for (long j = 0; j < count; ++j) {
            double v;
            do v = argument(int(j % 5)); while (!ek::detail::in_range(v));
            x[j] = v;
        }
        ek::detail::exp_parts_avx2(x.data(), count, r.data(), hi.data(), lo.data());
        for (long j = 0; j < count; ++j) std::printf("%a %a %a %a\n", x[j], r[j], hi[j], lo[j]);
        return 0;
    }
    const long samples = argc > 1 ? std::atol(argv[1]) : 4'000'000;
    if (argc > 2) checks::seed(argv[2]);
    Tally t;
    check(samples, t);
    const long flag_groups = flags_one_by_one(samples / 100);
    std::printf("avx2: %ld differences in %ld arguments (%ld in range, %.2f%% of those deferred), "
                "flags differ in %ld batches and %ld groups\n",
                t.differences, samples, t.in_range, 100.0 * double(t.deferred) / double(t.in_range ? t.in_range : 1),
                t.flag_differences, flag_groups);
    std::printf("C library: %ld departures from correct rounding, all within %.5f ulp of a boundary "
                "(margin %.5f)\n", t.departures, t.farthest, ek::detail::margin);
    // The margin must cover the C library's sliver with room to spare.
    const bool ok = t.differences == 0 && t.flag_differences == 0 && flag_groups == 0 &&
                    t.farthest < ek::detail::margin / 2;
    return ok ? 0 : 1;
}
