#include "machine/svml_direct.hpp"

#include "common/fp_flags.hpp"
#include "machine/isa.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#include <math.h>

#if defined(__x86_64__) && defined(__GNUC__) && defined(__linux__)
#define QUARNEL_SVML_DIRECT 1
#include <dlfcn.h>
#include <immintrin.h>

#include "machine/target.hpp"
#endif

namespace quarnel::svml_direct {
namespace {

using Scalar1 = double (*)(double);
using Scalar2 = double (*)(double, double);

// The C library's functions, where NumPy's loop is shown to be them.
Scalar1 scalar_fn[np_unary_count] = {};
Scalar2 scalar_power = nullptr;

#if QUARNEL_SVML_DIRECT
QUARNEL_TARGET_BEGIN("avx512f")

using Unary8 = __m512d (*)(__m512d);
using Binary8 = __m512d (*)(__m512d, __m512d);

Unary8 unary_fn[np_unary_count] = {};
Binary8 power_fn = nullptr;

double call(Unary8 f, double x) noexcept { return _mm512_cvtsd_f64(f(_mm512_set1_pd(x))); }
double call(Binary8 f, double x, double y) noexcept {
    return _mm512_cvtsd_f64(f(_mm512_set1_pd(x), _mm512_set1_pd(y)));
}

QUARNEL_TARGET_END
#endif

// A result NumPy's loop gives without raising a watched flag: finite
// (no overflow, invalid or division by zero) and clear of the subnormal
// range (no underflow). Reading the flags instead would cost more than the
// routine saves; a flag the routine raised itself only sends the call down
// the generic path.
inline bool ordinary(double r) noexcept { return std::isfinite(r) && std::fabs(r) >= 0x1p-1021; }

template <class Direct, class Loop>
double checked(const Direct& direct, const Loop& loop) noexcept {
    const double r = direct();
    return ordinary(r) ? r : loop();
}

// The spread of values a routine must agree with NumPy's loop on.
void spread(double* v, int n, std::uint64_t seed, double lo_exp, double hi_exp, bool negative) {
    for (int i = 0; i < n; ++i) {
        seed = seed * 6364136223846793005u + 1442695040888963407u;
        const double unit = double(seed >> 11) * 0x1.0p-53;
        const double e = lo_exp + (hi_exp - lo_exp) * (double(seed % 4096) / 4096.0);
        double x = (0.5 + unit) * std::exp2(e);
        if (negative && (seed >> 7) % 2) x = -x;
        v[i] = x;
    }
}

// Whether f(x) is NumPy's loop's value, bit for bit, over a spread.
template <class F>
bool agrees(const F& f, const np_loops::Loop& loop, double lo_exp, double hi_exp, bool negative) {
    constexpr int n = 2048;
    double in[n], want[n];
    spread(in, n, 0x9E3779B97F4A7C15u, lo_exp, hi_exp, negative);
    np_loops::run(loop, in, want, n);
    for (int i = 0; i < n; ++i) {
        const double got = f(in[i]);
        if (std::memcmp(&got, &want[i], sizeof got) != 0) return false;
    }
    return true;
}

template <class F>
bool agrees_power(const F& f, const np_loops::Loop& loop) {
    constexpr int n = 2048;
    double x[n], y[n], want[n];
    spread(x, n, 0x2545F4914F6CDD1Du, -8, 12, false);
    spread(y, n, 0x853C49E6748FEA9Bu, -6, 3, true);
    // 0, 0.5, ..., 3.5 and -1, -0.5: integer and half powers, which a loop
    // might take a shortcut for.
    for (int i = 0; i < 64; ++i) y[i] = double(i % 8) * 0.5;
    for (int i = 64; i < 96; ++i) y[i] = i % 2 ? -1.0 : -0.5;
    np_loops::run(loop, x, sizeof(double), y, sizeof(double), want, n);
    for (int i = 0; i < n; ++i) {
        const double got = f(x[i], y[i]);
        if (std::memcmp(&got, &want[i], sizeof got) != 0) return false;
    }
    return true;
}

// NumPy's power loop takes a shortcut for an exponent broadcast over the
// elements (a stride of 0, as for every single value) of 2, 0.5 or -1:
// the square, the square root, the reciprocal. Those exponents always go
// through the loop.
inline bool shortcut_exponent(double y) noexcept { return y == 2.0 || y == 0.5 || y == -1.0; }

// Whether f(x, y) is also the loop's value for broadcast exponents other
// than the shortcuts: quarters from -4 to 4 and a few others.
template <class F>
bool agrees_broadcast(const F& f, const np_loops::Loop& loop) {
    constexpr int n = 256;
    double x[n], want[n];
    spread(x, n, 0x4F1BBCDCBFA53E0Bu, -8, 12, false);
    double exponents[40];
    int m = 0;
    for (int k = -16; k <= 16; ++k) exponents[m++] = k / 4.0;
    for (double y : {1.0 / 3, -1.0 / 3, 10.0, 0.1, 1.253, -0.0945 * 12.3}) exponents[m++] = y;
    for (int e = 0; e < m; ++e) {
        const double y = exponents[e];
        if (shortcut_exponent(y)) continue;
        np_loops::run(loop, x, sizeof(double), &y, 0, want, n);
        for (int i = 0; i < n; ++i) {
            const double got = f(x[i], y);
            if (std::memcmp(&got, &want[i], sizeof got) != 0) return false;
        }
    }
    return true;
}

struct Candidate {
    NpFn f;
    const char* routine;  // NumPy's AVX-512 routine
    Scalar1 libm;         // the C library's function
    double lo_exp, hi_exp;
    bool negative;
};
const Candidate candidates[] = {{NpFn::arcsin, "__svml_asin8_ha", ::asin, -30, -0.6, true},
                                {NpFn::arctan, "__svml_atan8_ha", ::atan, -30, 40, true},
                                {NpFn::exp, "__svml_exp8_ha", ::exp, -30, 8.8, true}};

#if QUARNEL_SVML_DIRECT
// NumPy's AVX-512 routines, found in its module and checked.
void find_routines(const np_loops::Table& loops) {
    // NumPy's module, through an address inside it.
    Dl_info info;
    if (!dladdr(reinterpret_cast<void*>(loops.unary[int(NpFn::arcsin)].fn), &info) || !info.dli_fname) return;
    void* numpy = dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD);
    if (!numpy) return;
    for (const Candidate& c : candidates) {
        auto f = reinterpret_cast<Unary8>(dlsym(numpy, c.routine));
        if (f && agrees([f](double x) { return call(f, x); }, loops.unary[int(c.f)], c.lo_exp, c.hi_exp, c.negative))
            unary_fn[int(c.f)] = f;
    }
    auto p = reinterpret_cast<Binary8>(dlsym(numpy, "__svml_pow8_ha"));
    const auto direct = [p](double x, double y) { return call(p, x, y); };
    if (p && agrees_power(direct, loops.power_dd) && agrees_broadcast(direct, loops.power_dd)) power_fn = p;
    dlclose(numpy);  // NumPy stays loaded: Python holds it
}
#endif

}  // namespace

void resolve(const np_loops::Table& loops) noexcept {
    static bool resolved = false;
    if (resolved || !loops.complete) return;
    resolved = true;
    const auto flags = FpFlags::csr();
#if QUARNEL_SVML_DIRECT
    // Below AVX-512 NumPy's loops are left to choose for themselves.
    if (machine::isa() >= machine::Isa::avx512) find_routines(loops);
#endif
    // Where NumPy's loop computes what the C library's function does (as on
    // processors without AVX-512, or with NumPy's AVX-512 code disabled),
    // that function.
    for (const Candidate& c : candidates) {
        if (has(c.f)) continue;
        if (agrees(c.libm, loops.unary[int(c.f)], c.lo_exp, c.hi_exp, c.negative)) scalar_fn[int(c.f)] = c.libm;
    }
    if (!has_power() && agrees_power(Scalar2(::pow), loops.power_dd) &&
        agrees_broadcast(Scalar2(::pow), loops.power_dd))
        scalar_power = ::pow;
    FpFlags::restore(flags);
}

bool has(NpFn f) noexcept {
    if (int(f) >= np_unary_count) return false;
#if QUARNEL_SVML_DIRECT
    if (unary_fn[int(f)]) return true;
#endif
    return scalar_fn[int(f)] != nullptr;
}

bool is_c_library(NpFn f) noexcept {
    if (f == NpFn::power) return scalar_power != nullptr;
    return int(f) < np_unary_count && scalar_fn[int(f)] != nullptr;
}

bool has_power() noexcept {
#if QUARNEL_SVML_DIRECT
    if (power_fn) return true;
#endif
    return scalar_power != nullptr;
}

double unary(NpFn f, double x) noexcept {
    return checked(
        [&] {
#if QUARNEL_SVML_DIRECT
            if (const Unary8 v = unary_fn[int(f)]) return call(v, x);
#endif
            return scalar_fn[int(f)](x);
        },
        [&] {
            double out;
            np_loops::run(np_loops::table().unary[int(f)], &x, &out, 1);
            return out;
        });
}

double power(double x, double y) noexcept {
    if (shortcut_exponent(y)) return np_loops::binary(np_loops::table().power_dd, x, y);
    return checked(
        [&] {
#if QUARNEL_SVML_DIRECT
            if (power_fn) return call(power_fn, x, y);
#endif
            return scalar_power(x, y);
        },
        [&] { return np_loops::binary(np_loops::table().power_dd, x, y); });
}

}  // namespace quarnel::svml_direct
