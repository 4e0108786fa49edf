// The loops behind quarnel._kernels.split_global, .interval_cos_zenith
// and .standing_person.
//
// DISC needs acos, pow and exp of every sunlit element, the interval's sun
// sin and cos of its sunlit pieces: the C library's, element by element,
// which no compiler vectorises. They are built once; DISC
// skips the model for night, a sun beyond 87 deg and NaN; the person's
// loop is vectorised per instruction set (person_kernel.hpp).
#include "kernels/radiation_loops.hpp"

#include "formulas/radiation/disc.hpp"
#include "formulas/radiation/sun.hpp"
#include "kernels/person_kernel.hpp"
#include "kernels/quiet_split.hpp"
#include "machine/block_io.hpp"
#include "machine/isa.hpp"

namespace quarnel::radiation {
namespace {

using machine::block_io::input;
using machine::block_io::output;
using machine::block_io::target;

// Set in init, with the GIL held, before any ufunc exists.
PersonKernel person = person_baseline;

// Whole blocks per piece of a split array; the first is timed.
constexpr npy_intp grain = 4 * block;

void split_span(char* const* args, const npy_intp* steps, npy_intp begin, npy_intp end) noexcept {
    double bufs[7][block];
    DayCache days;
    for (npy_intp off = begin; off < end; off += block) {
        const npy_intp m = end - off < block ? end - off : block;
        const double* in[5];
        for (int i = 0; i < 5; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
        double* dni = target(args[5], steps[5], off, bufs[5]);
        double* dhi = target(args[6], steps[6], off, bufs[6]);
        for (npy_intp j = 0; j < m; ++j) {
            double a, b;
            split_global(in[0][j], in[1][j], in[2][j], in[3][j], in[4][j], days, a, b);
            dni[j] = a;
            dhi[j] = b;
        }
        output(args[5], steps[5], off, m, dni);
        output(args[6], steps[6], off, m, dhi);
    }
}

void sun_span(char* const* args, const npy_intp* steps, npy_intp begin, npy_intp end) noexcept {
    double bufs[6][block];
    sun::Day day;
    for (npy_intp off = begin; off < end; off += block) {
        const npy_intp m = end - off < block ? end - off : block;
        const double* in[4];
        for (int i = 0; i < 4; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
        double* mu = target(args[4], steps[4], off, bufs[4]);
        double* fraction = target(args[5], steps[5], off, bufs[5]);
        for (npy_intp j = 0; j < m; ++j) {
            double u, f;
            sun::interval_cos_zenith(in[0][j], in[1][j], in[2][j], in[3][j], day, u, f);
            mu[j] = u;
            fraction[j] = f;
        }
        output(args[4], steps[4], off, m, mu);
        output(args[5], steps[5], off, m, fraction);
    }
}

void person_span(char* const* args, const npy_intp* steps, npy_intp begin, npy_intp end) noexcept {
    double bufs[7][block];
    const PersonKernel k = person;
    for (npy_intp off = begin; off < end; off += block) {
        const npy_intp m = end - off < block ? end - off : block;
        const double* in[5];
        for (int i = 0; i < 5; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
        double* sun = target(args[5], steps[5], off, bufs[5]);
        double* shade = target(args[6], steps[6], off, bufs[6]);
        k(in[0], in[1], in[2], in[3], in[4], sun, shade, m);
        output(args[5], steps[5], off, m, sun);
        output(args[6], steps[6], off, m, shade);
    }
}

}  // namespace

void init() noexcept {
#if QUARNEL_KERNELS_X86
    switch (machine::isa()) {
        case machine::Isa::avx512: person = person_avx512; return;
        case machine::Isa::avx2: person = person_avx2; return;
        default: break;
    }
#endif
    person = person_baseline;
}

void split_global_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    kernels::quiet_split(dimensions[0], grain,
                         [&](npy_intp begin, npy_intp end) noexcept { split_span(args, steps, begin, end); });
}

void interval_cos_zenith_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    kernels::quiet_split(dimensions[0], grain,
                         [&](npy_intp begin, npy_intp end) noexcept { sun_span(args, steps, begin, end); });
}

void standing_person_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    kernels::quiet_split(dimensions[0], grain,
                         [&](npy_intp begin, npy_intp end) noexcept { person_span(args, steps, begin, end); });
}

}  // namespace quarnel::radiation
