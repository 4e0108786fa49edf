// Compares the AVX2 arcsine and arctangent kernels with the C library's
// asin and atan, bit for bit, over arguments of every kind, checks the
// floating-point flags they leave, and measures how far from a rounding
// boundary the C library departs from the correctly rounded result (the
// kernel's unrounded value, within 1/8000 of an ulp of the exact one, as
// the reference; tests/test_asin_atan_kernel.py checks that bound). Exit
// status 0: all equal and the C library's departures well inside the
// margin; 1: a difference (printed); 77: the machine does not run the
// kernels.
//
//     asin_atan_check [samples [seed]]          the check, both functions
//     asin_atan_check dump asin|atan count [seed]
//                                               x, hi, lo of the unrounded
//                                               value, one line per argument,
//                                               for an independent check of
//                                               its accuracy
#include "machine/asin_atan_kernel.hpp"

#include "check_support.hpp"

#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <math.h>

namespace ak = quarnel::asin_atan_kernel;

namespace {

using checks::next, checks::same, checks::unit;
double sign() { return next() & 1 ? -1.0 : 1.0; }
// A few ulp either way, as a relative factor.
double nudge() { return 1 + (double(next() % 41) - 20) * 0x1p-53; }
double bits() {
    const std::uint64_t b = next();
    double x;
    std::memcpy(&x, &b, sizeof x);
    return x;
}

struct Function {
    const char* name;
    double (*libm)(double);
    void (*kernel)(const double*, std::ptrdiff_t, double*) noexcept;
    void (*parts)(const double*, std::ptrdiff_t, double*, double*) noexcept;
    bool (*in_range)(double) noexcept;
    double (*argument)(int kind);
    double margin;
};

// Arguments of one kind per batch. asin: the whole interval, next to ±1
// (the square root carries the result) and its last ulps, every magnitude
// (tiny ones deferred), next to the points where the reduced ratio meets
// the table's grid (sin atan(i/64)) and where the ratio flips (1/sqrt 2),
// the declinations the formulas take (0.3978 sin), beyond ±1, arbitrary
// bit patterns (infinities, NaNs, subnormals).
double asin_argument(int kind) {
    switch (kind) {
        case 0: return 2 * unit() - 1;
        case 1: return sign() * (1 - (next() & 1 ? std::ldexp(unit(), -int(next() % 60))
                                                 : double(next() % 64) * 0x1p-53));
        case 2: return sign() * std::ldexp(0.5 + unit() / 2, -int(next() % 64));
        case 3: {
            const double t = double(next() % 129) / 64;  // tan of the angle, or its cotangent
            const double s = t / std::sqrt(1 + t * t);
            return sign() * (next() & 1 ? s : std::sqrt(1 - s * s)) * nudge();
        }
        case 4: return sign() * (next() & 1 ? 0.5 : M_SQRT1_2) * nudge();
        case 5: return 0.3978 * std::sin((unit() - 0.5) * 7);
        case 6: return sign() * (1 + std::ldexp(unit(), -int(next() % 60)));
        default: return bits();
    }
}

// atan: ratios of every magnitude and sign, next to the table's grid i/64
// and to its reciprocals 64/i, the values the formulas meet, huge ones
// (where the result rounds to pi/2) and infinities, next to the range's
// lower end, arbitrary bit patterns.
double atan_argument(int kind) {
    switch (kind) {
        case 0: return sign() * std::ldexp(0.5 + unit() / 2, int(next() % 140) - 70);
        case 1: return sign() * double(next() % 65) / 64 * nudge();
        case 2: return sign() * 64 / double(next() % 64 + 1) * nudge();
        case 3: return (unit() - 0.5) * 20;
        case 4: {
            if (next() % 64 == 0) return sign() * INFINITY;
            return sign() * std::ldexp(0.5 + unit() / 2, 40 + int(next() % 990));
        }
        case 5: return sign() * ak::detail::smallest * nudge() * (next() & 1 ? 1 : 1 + unit());
        case 6: return (unit() - 0.5) * 2.5;
        default: return bits();
    }
}

double c_asin(double x) { return ::asin(x); }
double c_atan(double x) { return ::atan(x); }

const Function functions[] = {
    {"asin", c_asin, ak::detail::asin_avx2, ak::detail::asin_parts_avx2, ak::detail::asin_in_range, asin_argument,
     ak::detail::asin_margin},
    {"atan", c_atan, ak::detail::atan_avx2, ak::detail::atan_parts_avx2, ak::detail::atan_in_range, atan_argument,
     ak::detail::atan_margin},
};
constexpr int kinds = 8;

constexpr int watched = FE_ALL_EXCEPT & ~FE_INEXACT;

struct Tally {
    long differences = 0, flag_differences = 0, deferred = 0, in_range = 0;
    long departures = 0;  // the C library not correctly rounded
    double farthest = 0;  // of those, the largest distance from the boundary, in ulp
};

// Distance of hi + lo from the nearest rounding boundary, in ulp: of hi, or
// of the half as large ulp below hi where hi is a power of two and lo
// points down.
double distance(double hi, double lo) {
    int e;
    const double m = std::frexp(std::fabs(hi), &e);
    double ulp = std::ldexp(1.0, e - 53);
    if (m == 0.5 && (lo < 0) == (hi > 0)) ulp /= 2;
    return 0.5 - std::fabs(lo) / ulp;
}

void check(const Function& f, long samples, Tally& t) {
    constexpr int batch = 4099;  // not a multiple of the vector width
    std::vector<double> x(batch), got(batch), want(batch), hi(batch), lo(batch);
    for (long done = 0, round = 0; done < samples; done += batch, ++round) {
        const int kind = int(round % kinds);
        for (double& v : x) v = f.argument(kind);
        std::feclearexcept(FE_ALL_EXCEPT);
        f.kernel(x.data(), batch, got.data());
        const int kernel_flags = std::fetestexcept(watched);
        std::feclearexcept(FE_ALL_EXCEPT);
        for (int j = 0; j < batch; ++j) want[j] = f.libm(x[j]);
        const int libm_flags = std::fetestexcept(watched);
        if (kernel_flags != libm_flags && t.flag_differences++ < 10)
            std::printf("%s, kind %d: flags %#x, the C library's %#x\n", f.name, kind, kernel_flags, libm_flags);
        // In place, too.
        std::vector<double> inplace(x);
        f.kernel(inplace.data(), batch, inplace.data());
        f.parts(x.data(), batch & ~3, hi.data(), lo.data());
        for (int j = 0; j < batch; ++j) {
            if ((!same(got[j], want[j]) || !same(inplace[j], want[j])) && t.differences++ < 10)
                std::printf("%s(%a): %a, the C library %a\n", f.name, x[j], got[j], want[j]);
            if (j >= (batch & ~3) || !f.in_range(x[j])) continue;
            ++t.in_range;
            const double d = distance(hi[j], lo[j]);
            if (d <= f.margin) ++t.deferred;
            // Above 2^60 the kernel computes atan(2^60): the same rounding,
            // not the same unrounded value.
            if (!same(hi[j], want[j]) && d > 0 && std::fabs(x[j]) <= 0x1p60) {
                ++t.departures;
                if (d > t.farthest) t.farthest = d;
            }
        }
    }
}

// Flags value by value: each special argument among ordinary ones, in a
// group of the vector width, raises what the C library raises for it.
long flags_one_by_one(const Function& f, long count) {
    long differences = 0;
    double x[8], out[8];
    volatile double sink;
    for (long c = 0; c < count; ++c) {
        for (double& v : x) v = unit() - 0.5;
        const int kinds_special[] = {1, 2, 6, 7};
        x[next() % 8] = f.argument(kinds_special[c % 4]);
        std::feclearexcept(FE_ALL_EXCEPT);
        f.kernel(x, 8, out);
        const int kernel_flags = std::fetestexcept(watched);
        std::feclearexcept(FE_ALL_EXCEPT);
        // Into a volatile: a compiler may drop the calls whose results go unread.
        for (double v : x) sink = f.libm(v);
        const int libm_flags = std::fetestexcept(watched);
        if (kernel_flags != libm_flags && differences++ < 10)
            std::printf("%s: flags %#x, the C library's %#x\n", f.name, kernel_flags, libm_flags);
    }
    return differences;
}

// The values at the ends of the ranges and the specials, one by one.
long specials(const Function& f) {
    const double values[] = {0.0, -0.0, 1.0, -1.0, 0x1p-26, -0x1p-26, 0x1.fffffffffffffp-27, 0x1p-1074, -0x1p-1022,
                             0x1.fffffffffffffp-1, 1.0000000000000002, 2.0, 0x1p60, 0x1.0000000000001p60, 1e300,
                             -1.7976931348623157e308, INFINITY, -INFINITY, NAN, -NAN, 0.5, M_SQRT1_2};
    long differences = 0;
    for (double v : values) {
        double in[5] = {0.25, v, 0.5, 0.75, v}, out[5];
        std::feclearexcept(FE_ALL_EXCEPT);
        f.kernel(in, 5, out);
        const int kernel_flags = std::fetestexcept(watched);
        std::feclearexcept(FE_ALL_EXCEPT);
        const double want = f.libm(v);
        const int libm_flags = std::fetestexcept(watched);
        if ((!same(out[1], want) || !same(out[4], want) || kernel_flags != libm_flags) && differences++ < 10)
            std::printf("%s(%a): %a flags %#x, the C library %a flags %#x\n", f.name, v, out[1], kernel_flags, want,
                        libm_flags);
    }
    return differences;
}

}  // namespace

int main(int argc, char** argv) {
    if (!ak::supported()) return 77;
    if (argc > 1 && std::strcmp(argv[1], "dump") == 0) {
        if (argc < 3) return 2;
        const Function& f = functions[std::strcmp(argv[2], "asin") == 0 ? 0 : 1];
        const long count = argc > 3 ? std::atol(argv[3]) & ~3L : 4000;
        if (argc > 4) checks::seed(argv[4]);
        std::vector<double> x(count), hi(count), lo(count);
        for (long j = 0, kind = 0; j < count; ++kind) {
            const double v = f.argument(int(kind % kinds));
            if (f.in_range(v) && std::fabs(v) <= 0x1p60) x[j++] = v;
        }
        f.parts(x.data(), count, hi.data(), lo.data());
        for (long j = 0; j < count; ++j) std::printf("%a %a %a\n", x[j], hi[j], lo[j]);
        return 0;
    }
    const long samples = argc > 1 ? std::atol(argv[1]) : 4'000'000;
    if (argc > 2) checks::seed(argv[2]);
    bool ok = true;
    for (const Function& f : functions) {
        Tally t;
        check(f, samples, t);
        const long flag_groups = flags_one_by_one(f, samples / 100);
        const long special = specials(f);
        std::printf("%s: %ld differences in %ld arguments (%ld in range, %.2f%% of those deferred), "
                    "flags differ in %ld batches and %ld groups, %ld specials differ\n",
                    f.name, t.differences, samples, t.in_range,
                    100.0 * double(t.deferred) / double(t.in_range ? t.in_range : 1), t.flag_differences,
                    flag_groups, special);
        std::printf("%s, C library: %ld departures from correct rounding, all within %.5f ulp of a boundary "
                    "(margin %.5f)\n", f.name, t.departures, t.farthest, f.margin);
        // The margin must cover the C library's sliver with room to spare.
        ok = ok && t.differences == 0 && t.flag_differences == 0 && flag_groups == 0 && special == 0 &&
             t.farthest < f.margin / 2;
    }
    return ok ? 0 : 1;
}
