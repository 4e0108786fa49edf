#include "machine/np_loops.hpp"

#include "common/numpy_api.hpp"
#include "machine/asin_atan_kernel.hpp"
#include "machine/exp_kernel.hpp"
#include "machine/libm_sincos.hpp"
#include "machine/pow_kernel.hpp"
#include "machine/sincos_kernel.hpp"
#include "machine/svml_direct.hpp"

#include <cmath>
#include <cstdint>
#include <cstring>

#include <math.h>

namespace quarnel::np_loops {
namespace {

// The ufunc's legacy loop whose operand types are all float64.
bool find(PyObject* numpy, const char* name, Loop& out) {
    py::Ref uf = py::Ref::steal(PyObject_GetAttrString(numpy, name));
    if (!uf || !PyObject_TypeCheck(uf.get(), &PyUFunc_Type)) return false;
    auto* u = reinterpret_cast<PyUFuncObject*>(uf.get());
    if (!u->functions || !u->types || u->nout != 1) return false;
    for (int i = 0; i < u->ntypes; ++i) {
        const char* t = u->types + i * u->nargs;
        bool all_double = true;
        for (int j = 0; j < u->nargs; ++j) all_double = all_double && t[j] == NPY_DOUBLE;
        if (all_double && u->functions[i]) {
            out.fn = reinterpret_cast<LoopFn>(u->functions[i]);
            out.data = u->data ? u->data[i] : nullptr;
            return true;
        }
    }
    return false;
}

// Whether `loop` multiplies by `factor`, bit for bit, over a spread of values.
bool is_scaling(const Loop& loop, double factor) {
    double in[512], out[512];
    std::uint64_t state = 0x9E3779B97F4A7C15u;
    for (int i = 0; i < 512; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = double(state >> 11) * 0x1.0p-53;
        in[i] = (unit - 0.5) * std::ldexp(1.0, int(state % 40) - 8);
    }
    in[0] = 0.0, in[1] = -0.0, in[2] = 90.0, in[3] = 180.0, in[4] = 1e300, in[5] = -45.0;
    run(loop, in, out, 512);
    for (int i = 0; i < 512; ++i)
        if (std::memcmp(&out[i], &(const double&)(in[i] * factor), sizeof(double)) != 0) return false;
    return true;
}

// Whether NumPy's float64 sin and cos loops give, bit for bit, what the C
// library's sin, cos and sincos give over a spread of magnitudes (the
// reduction of large arguments included).
bool trig_is_libm(const Loop& sin_loop, const Loop& cos_loop) {
    constexpr int n = 1024;
    double in[n], s[n], c[n];
    std::uint64_t state = 0x2545F4914F6CDD1Du;
    for (int i = 0; i < n; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = double(state >> 11) * 0x1.0p-53;
        in[i] = (unit - 0.5) * std::ldexp(1.0, int(state % 80) - 30);
    }
    in[0] = 0.0, in[1] = -0.0, in[2] = 1e300, in[3] = -1e22, in[4] = 3.141592653589793;
    in[5] = 1.5707963267948966, in[6] = 0x1p-1030, in[7] = 2.4, in[8] = 105414350.0;
    const auto flags = FpFlags::csr();
    run(sin_loop, in, s, n);
    run(cos_loop, in, c, n);
    bool same = true;
    for (int i = 0; i < n && same; ++i) {
        double ls, lc;
        libm_sincos(in[i], &ls, &lc);
        const double s1 = ::sin(in[i]), c1 = ::cos(in[i]);
        same = std::memcmp(&s[i], &s1, sizeof(double)) == 0 && std::memcmp(&c[i], &c1, sizeof(double)) == 0 &&
               std::memcmp(&ls, &s1, sizeof(double)) == 0 && std::memcmp(&lc, &c1, sizeof(double)) == 0;
    }
    FpFlags::restore(flags);  // the subnormal may have raised underflow
    return same;
}

// Whether NumPy's float64 sqrt loop gives the machine's square root, bit
// for bit, over a spread of magnitudes (subnormals and the limits included).
bool sqrt_is_exact(const Loop& sqrt_loop) {
    constexpr int n = 1024;
    double in[n], out[n];
    std::uint64_t state = 0x853C49E6748FEA9Bu;
    for (int i = 0; i < n; ++i) {
        state = state * 6364136223846793005u + 1442695040888963407u;
        const double unit = double(state >> 11) * 0x1.0p-53;
        in[i] = unit * std::ldexp(1.0, int(state % 2000) - 1000);
    }
    in[0] = 0.0, in[1] = -0.0, in[2] = 0x1p-1074, in[3] = 1.7976931348623157e308, in[4] = 2.0;
    const auto flags = FpFlags::csr();
    run(sqrt_loop, in, out, n);
    bool same = true;
    for (int i = 0; i < n && same; ++i) {
        const double r = __builtin_sqrt(in[i]);
        same = std::memcmp(&out[i], &r, sizeof(double)) == 0;
    }
    FpFlags::restore(flags);
    return same;
}

}  // namespace

void resolve(PyObject* numpy) noexcept {
    Table& loops = detail::loops;
    bool ok = true;
    for (int f = 0; f < np_unary_count; ++f) ok = find(numpy, np_fn_names[f], loops.unary[f]) && ok;
    ok = find(numpy, "power", loops.power_dd) && ok;
    ok = find(numpy, "maximum", loops.maximum_dd) && ok;
    ok = find(numpy, "add", loops.add_dd) && ok;
    ok = find(numpy, "subtract", loops.subtract_dd) && ok;
    ok = find(numpy, "multiply", loops.multiply_dd) && ok;
    ok = find(numpy, "divide", loops.divide_dd) && ok;
    ok = find(numpy, "negative", loops.negative_d) && ok;
    constexpr double pi = 3.141592653589793;
    if (ok && is_scaling(loops.unary[int(NpFn::radians)], pi / 180.0))
        loops.scale[int(NpFn::radians)] = pi / 180.0;
    if (ok && is_scaling(loops.unary[int(NpFn::degrees)], 180.0 / pi))
        loops.scale[int(NpFn::degrees)] = 180.0 / pi;
    loops.libm_trig = ok && trig_is_libm(loops.unary[int(NpFn::sin)], loops.unary[int(NpFn::cos)]);
    if (loops.libm_trig) sincos_kernel::decide();
    loops.exact_sqrt = ok && sqrt_is_exact(loops.unary[int(NpFn::sqrt)]);
    loops.complete = ok;
    svml_direct::resolve(loops);
    // NumPy's exp loop is the C library's: the vector kernel, once checked.
    if (svml_direct::is_c_library(NpFn::exp)) exp_kernel::decide();
    // Likewise NumPy's power loop and the C library's pow.
    if (svml_direct::is_c_library(NpFn::power)) pow_kernel::decide();
    // Likewise arcsin and arctan, where their loops are asin's and atan's.
    for (NpFn f : {NpFn::arcsin, NpFn::arctan})
        if (svml_direct::is_c_library(f)) asin_atan_kernel::decide(f);
    loops.complete = ok;
    PyErr_Clear();
}

}  // namespace quarnel::np_loops
