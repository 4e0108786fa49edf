// The UTCI loop hands contiguous blocks to the kernel of the instruction
// set in force (utci_kernel.hpp), chosen once at import, and splits large
// arrays over the cores.
#include "kernels/utci_loops.hpp"

#include "kernels/quiet_split.hpp"
#include "kernels/utci_kernel.hpp"
#include "machine/block_io.hpp"
#include "machine/isa.hpp"

#include <cstdint>
#include <cstring>

namespace quarnel::kernels {
namespace {

using comfort::Kernel;
using comfort::kernel_block;
using machine::block_io::input;
using machine::block_io::output;
using machine::block_io::target;

// Set in init_utci, with the GIL held, before any ufunc exists.
Kernel kernel = comfort::utci_baseline;

constexpr int nin = 4;

void utci_span(char* const* args, const npy_intp* steps, npy_intp begin, npy_intp end) noexcept {
    double bufs[nin + 1][kernel_block];
    const Kernel k = kernel;
    for (npy_intp off = begin; off < end; off += kernel_block) {
        const npy_intp m = end - off < kernel_block ? end - off : kernel_block;
        const double* in[nin];
        for (int i = 0; i < nin; ++i) in[i] = input(args[i], steps[i], off, m, bufs[i]);
        double* o = target(args[nin], steps[nin], off, bufs[nin]);
        k(in[0], in[1], in[2], in[3], o, m);
        output(args[nin], steps[nin], off, m, o);
    }
}

// The assessment scale: code k for bounds[k - 1] < UTCI <= bounds[k], each
// bound in the class below it (as pythermalcomfort bins the scale); -1 for NaN.
constexpr double bounds[] = {-40.0, -27.0, -13.0, 0.0, 9.0, 26.0, 32.0, 38.0, 46.0};

inline std::int8_t category(double u) noexcept {
    int k = 0;
    for (double b : bounds) k += __builtin_isgreater(u, b);
    return __builtin_isnan(u) ? std::int8_t(-1) : std::int8_t(k);
}

}  // namespace

void init_utci() noexcept {
    kernel = comfort::utci_baseline;
#if QUARNEL_KERNELS_X86
    switch (machine::isa()) {
        case machine::Isa::avx512: kernel = comfort::utci_avx512; break;
        case machine::Isa::avx2: kernel = comfort::utci_avx2; break;
        default: break;
    }
#endif
}

// Whole blocks per piece of a split array. Elements outside the domain may
// raise flags on the way to their NaN (utci_poly.hpp); inside, nothing but
// inexact: the split leaves the flags as it found them either way.
void utci_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    quiet_split(dimensions[0], 4 * kernel_block,
                [&](npy_intp begin, npy_intp end) noexcept { utci_span(args, steps, begin, end); });
}

void utci_category_loop(char** args, const npy_intp* dimensions, const npy_intp* steps, void*) noexcept {
    const npy_intp n = dimensions[0];
    const char* in = args[0];
    char* out = args[1];
    if (steps[0] == npy_intp(sizeof(double)) && steps[1] == 1 &&
        reinterpret_cast<std::uintptr_t>(in) % alignof(double) == 0) {
        const double* x = reinterpret_cast<const double*>(in);
        auto* c = reinterpret_cast<std::int8_t*>(out);
        for (npy_intp j = 0; j < n; ++j) c[j] = category(x[j]);
        return;
    }
    for (npy_intp j = 0; j < n; ++j) {
        double u;
        std::memcpy(&u, in + j * steps[0], sizeof u);
        const std::int8_t c = category(u);
        std::memcpy(out + j * steps[1], &c, 1);
    }
}

}  // namespace quarnel::kernels
